#include "playback/ReplayMux.h"

#include <media-io/video-io.h>
#include <util/platform.h>

#include "util/PrivateFiles.h"

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

constexpr int kIoBufferSize = 64 * 1024;

#if LIBAVFORMAT_VERSION_MAJOR < 61
using WriteBuffer = uint8_t *;
#else
using WriteBuffer = const uint8_t *;
#endif

// The muxer writes through the descriptor the file was made with, never by its name again.
int writeToFd(void *opaque, WriteBuffer data, int size)
{
	return PrivateFiles::writeAll(*static_cast<int *>(opaque), data, size_t(size)) ? size : AVERROR(EIO);
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

struct Output {
	AVFormatContext *fmt = nullptr;
	AVIOContext *io = nullptr;
	int fd = -1;
	~Output()
	{
		if (fmt)
			avformat_free_context(fmt);
		if (io) {
			av_freep(&io->buffer);
			avio_context_free(&io);
		}
		PrivateFiles::closeFile(fd);
	}
};

struct PacketFree {
	void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

// A Matroska file on the output's descriptor with the header's streams, its header written.
bool openOutput(Output &out, const MuxHeader &header, std::string &error)
{
	int rc = avformat_alloc_output_context2(&out.fmt, nullptr, "matroska", nullptr);
	if (rc < 0 || !out.fmt) {
		error = "no Matroska muxer: " + avError(rc);
		return false;
	}
	if (!addStream(out.fmt, header.video, true, error))
		return false;
	if (header.hasAudio && !addStream(out.fmt, header.audio, false, error))
		return false;
	auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
	out.io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, &out.fd, nullptr, writeToFd, seekFd) : nullptr;
	if (!out.io) {
		av_free(buffer);
		error = "out of memory";
		return false;
	}
	out.fmt->pb = out.io;
	out.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
	rc = avformat_write_header(out.fmt, nullptr);
	if (rc < 0) {
		error = "header: " + avError(rc);
		return false;
	}
	return true;
}

// Time 0 is the first keyframe's decode time, so no stream starts below zero; packets before it
// are left out.
bool writePackets(AVFormatContext *fmt, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		  std::string &error)
{
	int64_t baseUsec = 0;
	for (const encoder_packet &p : packets) {
		if (p.type == OBS_ENCODER_VIDEO) {
			baseUsec = p.dts_usec;
			break;
		}
	}
	int64_t videoBase = 0;
	bool videoBaseSet = false;
	std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
	if (!pkt) {
		error = "out of memory";
		return false;
	}
	for (const encoder_packet &p : packets) {
		const bool video = p.type == OBS_ENCODER_VIDEO;
		if (!video && !header.hasAudio)
			continue;
		const AVRational tb{p.timebase_num, p.timebase_den};
		if (tb.num <= 0 || tb.den <= 0)
			continue;
		int64_t base;
		if (video) {
			if (!videoBaseSet) {
				videoBase = p.dts;
				videoBaseSet = true;
			}
			base = videoBase;
		} else {
			base = av_rescale_q(baseUsec, AVRational{1, 1000000}, tb);
		}
		av_packet_unref(pkt.get());
		pkt->data = p.data;
		pkt->size = static_cast<int>(p.size);
		pkt->stream_index = video ? 0 : 1;
		pkt->pts = p.pts - base;
		pkt->dts = p.dts - base;
		if (pkt->dts < 0 || pkt->pts < 0)
			continue;
		if (p.keyframe)
			pkt->flags |= AV_PKT_FLAG_KEY;
		av_packet_rescale_ts(pkt.get(), tb, fmt->streams[pkt->stream_index]->time_base);
		const int rc = av_write_frame(fmt, pkt.get());
		if (rc < 0) {
			error = "write: " + avError(rc);
			return false;
		}
	}
	return true;
}

bool writeAll(Output &out, const MuxHeader &header, const std::vector<encoder_packet> &packets, std::string &error)
{
	if (!openOutput(out, header, error) || !writePackets(out.fmt, header, packets, error))
		return false;
	const int rc = av_write_trailer(out.fmt);
	avio_flush(out.io);
	if (rc < 0 || out.io->error < 0) {
		error = "trailer: " + avError(rc < 0 ? rc : out.io->error);
		return false;
	}
	return true;
}

} // namespace

bool muxMatroska(int fd, const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error)
{
	if (fd < 0) {
		error = "no file";
		return false;
	}
	bool anyVideo = false;
	for (const encoder_packet &p : packets)
		anyVideo = anyVideo || p.type == OBS_ENCODER_VIDEO;
	bool ok = false;
	{
		Output out;
		out.fd = fd; // closed with out, whatever happens
		if (!anyVideo)
			error = "no video";
		else if (header.video.extraData.empty() && header.video.codec != "av1")
			error = "the video encoder gave no header";
		else
			ok = writeAll(out, header, packets, error);
	}
	if (!ok)
		os_unlink(path.c_str());
	return ok;
}

bool muxMatroska(const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error)
{
	const int fd = PrivateFiles::createFile(QString::fromStdString(path), error);
	return fd >= 0 && muxMatroska(fd, path, header, packets, error);
}
