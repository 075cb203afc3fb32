#include "playback/ReplayMux.h"

#include "util/PrivateFiles.h"

#include <media-io/video-io.h>
#include <util/platform.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::string avError(int code)
{
	char text[AV_ERROR_MAX_STRING_SIZE] = {};
	av_strerror(code, text, sizeof(text));
	return text;
}

AVCodecID codecId(std::string name)
{
	// OBS's own AAC encoder calls its codec "AAC".
	std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
	if (name == "h264")
		return AV_CODEC_ID_H264;
	if (name == "hevc")
		return AV_CODEC_ID_HEVC;
	if (name == "av1")
		return AV_CODEC_ID_AV1;
	if (name == "aac")
		return AV_CODEC_ID_AAC;
	if (name == "opus")
		return AV_CODEC_ID_OPUS;
	const AVCodecDescriptor *desc = avcodec_descriptor_get_by_name(name.c_str());
	return desc ? desc->id : AV_CODEC_ID_NONE;
}

void setColour(AVCodecParameters *par, const MuxTrack &track)
{
	par->color_range = track.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
	switch (track.colorspace) {
	case VIDEO_CS_601:
		par->color_primaries = AVCOL_PRI_SMPTE170M;
		par->color_trc = AVCOL_TRC_SMPTE170M;
		par->color_space = AVCOL_SPC_SMPTE170M;
		break;
	case VIDEO_CS_SRGB:
		par->color_primaries = AVCOL_PRI_BT709;
		par->color_trc = AVCOL_TRC_IEC61966_2_1;
		par->color_space = AVCOL_SPC_BT709;
		break;
	case VIDEO_CS_2100_PQ:
		par->color_primaries = AVCOL_PRI_BT2020;
		par->color_trc = AVCOL_TRC_SMPTE2084;
		par->color_space = AVCOL_SPC_BT2020_NCL;
		break;
	case VIDEO_CS_2100_HLG:
		par->color_primaries = AVCOL_PRI_BT2020;
		par->color_trc = AVCOL_TRC_ARIB_STD_B67;
		par->color_space = AVCOL_SPC_BT2020_NCL;
		break;
	default:
		par->color_primaries = AVCOL_PRI_BT709;
		par->color_trc = AVCOL_TRC_BT709;
		par->color_space = AVCOL_SPC_BT709;
		break;
	}
}

bool addStream(AVFormatContext *fmt, const MuxTrack &track, bool video, std::string &error)
{
	const AVCodecID id = codecId(track.codec);
	if (id == AV_CODEC_ID_NONE) {
		error = "unknown codec " + track.codec;
		return false;
	}
	AVStream *stream = avformat_new_stream(fmt, nullptr);
	if (!stream) {
		error = "out of memory";
		return false;
	}
	AVCodecParameters *par = stream->codecpar;
	par->codec_type = video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
	par->codec_id = id;
	if (!track.extraData.empty()) {
		par->extradata =
		    static_cast<uint8_t *>(av_mallocz(track.extraData.size() + AV_INPUT_BUFFER_PADDING_SIZE));
		if (!par->extradata) {
			error = "out of memory";
			return false;
		}
		std::memcpy(par->extradata, track.extraData.data(), track.extraData.size());
		par->extradata_size = static_cast<int>(track.extraData.size());
	}
	if (video) {
		par->width = static_cast<int>(track.width);
		par->height = static_cast<int>(track.height);
		setColour(par, track);
		if (track.fpsNum && track.fpsDen)
			stream->avg_frame_rate =
			    AVRational{static_cast<int>(track.fpsNum), static_cast<int>(track.fpsDen)};
	} else {
		par->sample_rate = static_cast<int>(track.sampleRate);
		av_channel_layout_default(&par->ch_layout, track.channels ? static_cast<int>(track.channels) : 2);
		if (id == AV_CODEC_ID_AAC)
			par->frame_size = 1024;
	}
	return true;
}

#if LIBAVFORMAT_VERSION_MAJOR < 61
using WriteBuffer = uint8_t *;
#else
using WriteBuffer = const uint8_t *;
#endif

int writeToFd(void *opaque, WriteBuffer buf, int size)
{
	return PrivateFiles::writeAll(*static_cast<int *>(opaque), buf, static_cast<size_t>(size)) ? size
												   : AVERROR(EIO);
}

int64_t seekFd(void *opaque, int64_t offset, int whence)
{
	const int fd = *static_cast<int *>(opaque);
	whence &= ~AVSEEK_FORCE;
#ifdef _WIN32
	if (whence == AVSEEK_SIZE)
		return _filelengthi64(fd);
	const int64_t at = _lseeki64(fd, offset, whence);
#else
	if (whence == AVSEEK_SIZE) {
		const off_t here = lseek(fd, 0, SEEK_CUR);
		const off_t end = lseek(fd, 0, SEEK_END);
		lseek(fd, here, SEEK_SET);
		return end;
	}
	const int64_t at = lseek(fd, offset, whence);
#endif
	return at < 0 ? AVERROR(errno) : at;
}

constexpr int kIoBufferSize = 64 * 1024;

// No codec OBS offers has longer sound frames.
constexpr int64_t kMaxSoundFrameUsec = 100000;

int64_t usecOf(int64_t value, const encoder_packet &p)
{
	return av_rescale_q(value, AVRational{p.timebase_num, p.timebase_den}, AVRational{1, 1000000});
}

} // namespace

MatroskaWriter::~MatroskaWriter()
{
	close();
}

void MatroskaWriter::close()
{
	if (fmt) {
		avformat_free_context(fmt);
		fmt = nullptr;
	}
	if (io) {
		av_freep(&io->buffer);
		avio_context_free(&io);
	}
	av_packet_free(&pkt);
	PrivateFiles::closeFile(fd);
	fd = -1;
}

bool MatroskaWriter::open(int file, const MuxHeader &streams, std::string &error, bool whole)
{
	close();
	fd = file;
	header = streams;
	baseSet = false;
	endUsec = baseUsec = 0;
	wroteVideo = wroteSound = false;
	if (fd < 0) {
		error = "no file";
		return false;
	}
	if (header.video.extraData.empty() && header.video.codec != "av1") {
		error = "the video encoder gave no header";
		return false;
	}
	int rc = avformat_alloc_output_context2(&fmt, nullptr, "matroska", nullptr);
	if (rc < 0 || !fmt) {
		error = "no Matroska muxer: " + avError(rc);
		return false;
	}
	// The sound goes first: OBS's media source seeks its first stream whenever it starts a file, and
	// a growing file holds many sound frames, each a keyframe, but at first a single picture keyframe.
	videoIndex = header.hasAudio ? 1 : 0;
	if (header.hasAudio && !addStream(fmt, header.audio, false, error))
		return false;
	if (!addStream(fmt, header.video, true, error))
		return false;
	auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
	io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, &fd, nullptr, writeToFd, whole ? seekFd : nullptr)
		    : nullptr;
	pkt = av_packet_alloc();
	if (!io || !pkt) {
		if (!io)
			av_free(buffer);
		error = "out of memory";
		return false;
	}
	// A growing file is not seekable: nothing written is ever rewritten, so a reader may follow it. A
	// whole file gets its length and index at the end.
	if (!whole)
		io->seekable = 0;
	fmt->pb = io;
	fmt->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
	fmt->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED; // a shift would move time 0 away again
	rc = avformat_write_header(fmt, nullptr);
	if (rc < 0) {
		error = "header: " + avError(rc);
		return false;
	}
	return true;
}

// Time 0 is where the file's first stream starts. OBS's media source seeks to the file's start time at
// every start, in the first stream's timebase but with the value it has in microseconds: anything but 0
// sends the seek past the end of a growing file, where it waits until the file is complete. The sound
// goes first, and its frame under the first picture starts at 0.
void MatroskaWriter::chooseBase(const std::vector<encoder_packet> &packets)
{
	auto key = std::find_if(packets.begin(), packets.end(),
				[](const encoder_packet &p) { return p.type == OBS_ENCODER_VIDEO && p.keyframe; });
	if (key == packets.end() || key->timebase_num <= 0 || key->timebase_den <= 0)
		return;
	const int64_t pictureUsec = usecOf(key->pts, *key);
	baseUsec = pictureUsec;
	for (const encoder_packet &p : packets) {
		if (p.type != OBS_ENCODER_AUDIO || !header.hasAudio || p.timebase_num <= 0 || p.timebase_den <= 0)
			continue;
		const int64_t at = usecOf(p.pts, p);
		if (at <= pictureUsec && pictureUsec - at < kMaxSoundFrameUsec)
			baseUsec = at;
	}
	baseSet = true;
}

// Packets shown before time 0 are left out.
bool MatroskaWriter::append(const std::vector<encoder_packet> &packets, std::string &error)
{
	if (!fmt) {
		error = "not open";
		return false;
	}
	if (!baseSet)
		chooseBase(packets);
	bool keyWritten = wroteVideo;
	for (const encoder_packet &p : packets) {
		const bool video = p.type == OBS_ENCODER_VIDEO;
		if (!video && !header.hasAudio)
			continue;
		const AVRational tb{p.timebase_num, p.timebase_den};
		if (!baseSet || tb.num <= 0 || tb.den <= 0)
			continue;
		// Pictures start at a keyframe; the sound beside it may start a frame earlier.
		if (video && !keyWritten && !p.keyframe)
			continue;
		keyWritten = keyWritten || video;
		const int64_t base = av_rescale_q(baseUsec, AVRational{1, 1000000}, tb);
		av_packet_unref(pkt);
		pkt->data = p.data;
		pkt->size = static_cast<int>(p.size);
		pkt->stream_index = video ? videoIndex : 1 - videoIndex;
		pkt->pts = p.pts - base;
		pkt->dts = p.dts - base;
		wroteVideo = wroteVideo || video;
		// Decoded before the first picture is shown (B-frames), a picture may carry a negative dts.
		if (pkt->pts < 0 || (!video && pkt->dts < 0))
			continue;
		// Sound that starts just after the first picture is moved to 0, so that the first stream starts
		// there (see chooseBase).
		if (!video && !wroteSound && pkt->pts > 0 && usecOf(pkt->pts, p) < kMaxSoundFrameUsec)
			pkt->pts = pkt->dts = 0;
		wroteSound = wroteSound || !video;
		if (p.keyframe)
			pkt->flags |= AV_PKT_FLAG_KEY;
		if (video) {
			// A frame lasts until the next one: one frame period past its presentation time.
			const int64_t frameUsec =
			    header.video.fpsNum ? int64_t(header.video.fpsDen) * 1000000 / header.video.fpsNum : 0;
			endUsec = std::max(endUsec, baseUsec + usecOf(pkt->pts, p) + frameUsec);
		}
		av_packet_rescale_ts(pkt, tb, fmt->streams[pkt->stream_index]->time_base);
		const int rc = av_write_frame(fmt, pkt);
		if (rc < 0) {
			error = "write: " + avError(rc);
			return false;
		}
	}
	// Ends the cluster, so that what was appended is in the file, whole, for a reader.
	const int rc = av_write_frame(fmt, nullptr);
	avio_flush(fmt->pb);
	if (rc < 0 || fmt->pb->error < 0) {
		error = "write: " + avError(rc < 0 ? rc : fmt->pb->error);
		return false;
	}
	return true;
}

bool MatroskaWriter::finish(std::string &error)
{
	if (!fmt) {
		error = "not open";
		return false;
	}
	const int rc = av_write_trailer(fmt);
	avio_flush(fmt->pb);
	const int ioError = fmt->pb->error;
	close();
	if (rc < 0 || ioError < 0) {
		error = "trailer: " + avError(rc < 0 ? rc : ioError);
		return false;
	}
	return true;
}

bool muxMatroska(const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error)
{
	bool anyVideo = false;
	for (const encoder_packet &p : packets)
		anyVideo = anyVideo || p.type == OBS_ENCODER_VIDEO;
	if (!anyVideo) {
		error = "no video";
		return false;
	}
	const int fd = PrivateFiles::createFile(QString::fromStdString(path), error);
	if (fd < 0)
		return false;
	MatroskaWriter writer;
	const bool ok = writer.open(fd, header, error, true) && writer.append(packets, error) && writer.finish(error);
	if (!ok)
		os_unlink(path.c_str());
	return ok;
}
