#include "playback/HighlightCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

namespace {
const AVRational kUs = {1, AV_TIME_BASE};

std::string avError(int code)
{
	char text[AV_ERROR_MAX_STRING_SIZE] = {};
	av_strerror(code, text, sizeof(text));
	return text;
}

struct Input {
	AVFormatContext *fmt = nullptr;
	int video = -1;
	int audio = -1;
	~Input() { avformat_close_input(&fmt); }

	bool open(const std::string &path, std::string &error)
	{
		int ret = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
		if (ret >= 0)
			ret = avformat_find_stream_info(fmt, nullptr);
		if (ret < 0) {
			error = avError(ret);
			return false;
		}
		video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
		audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
		if (video < 0) {
			error = "no video";
			return false;
		}
		return true;
	}
	int64_t startUs() const { return fmt->start_time == AV_NOPTS_VALUE ? 0 : fmt->start_time; }
	AVStream *stream(int i) const { return fmt->streams[i]; }
};

struct Packet {
	AVPacket *pkt = av_packet_alloc();
	~Packet() { av_packet_free(&pkt); }
};

std::string hexBytes(const uint8_t *data, int size)
{
	static const char digits[] = "0123456789abcdef";
	std::string out;
	for (int i = 0; i < size; ++i) {
		out += digits[data[i] >> 4];
		out += digits[data[i] & 15];
	}
	return out;
}

// The parameters a decoder is set up with once: a stream copied from another clip must share them.
std::string streamSignature(const AVStream *st)
{
	const AVCodecParameters *p = st->codecpar;
	std::string s = avcodec_get_name(p->codec_id);
	if (p->codec_type == AVMEDIA_TYPE_VIDEO)
		s += " " + std::to_string(p->width) + "x" + std::to_string(p->height) + " " + std::to_string(p->format);
	else
		s += " " + std::to_string(p->sample_rate) + "Hz " + std::to_string(p->ch_layout.nb_channels) + "ch";
	return s + " " + hexBytes(p->extradata, p->extradata_size);
}

// One output stream and the piece's shift into it.
struct OutTrack {
	int in = -1;
	AVStream *st = nullptr;
	int64_t lastDts = AV_NOPTS_VALUE;
};

class Writer {
public:
	~Writer() { abandon(); }

	bool open(const std::string &path, const Input &first, std::string &ext, std::string &error)
	{
		const AVOutputFormat *mp4 = av_guess_format("mp4", nullptr, nullptr);
		bool fitsMp4 = mp4 != nullptr;
		for (int i : {first.video, first.audio})
			if (i >= 0 &&
			    avformat_query_codec(mp4, first.stream(i)->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1)
				fitsMp4 = false;
		ext = fitsMp4 ? ".mp4" : ".mkv";
		int ret = avformat_alloc_output_context2(&fmt, nullptr, fitsMp4 ? "mp4" : "matroska", path.c_str());
		if (ret < 0 || !fmt) {
			error = avError(ret);
			return false;
		}
		for (int i : {first.video, first.audio}) {
			if (i < 0)
				continue;
			OutTrack t;
			t.in = i;
			t.st = avformat_new_stream(fmt, nullptr);
			if (!t.st || avcodec_parameters_copy(t.st->codecpar, first.stream(i)->codecpar) < 0) {
				error = "out of memory";
				return false;
			}
			t.st->codecpar->codec_tag = 0;
			t.st->time_base = first.stream(i)->time_base;
			(i == first.video ? video : audio) = t;
		}
		ret = avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE);
		if (ret < 0) {
			error = avError(ret);
			return false;
		}
		AVDictionary *opts = nullptr;
		if (fitsMp4)
			av_dict_set(&opts, "movflags", "+faststart", 0);
		ret = avformat_write_header(fmt, &opts);
		av_dict_free(&opts);
		if (ret < 0) {
			error = avError(ret);
			return false;
		}
		started = true;
		return true;
	}

	bool addChapters(const std::vector<int64_t> &starts, int64_t endMs, const std::vector<HighlightPiece> &pieces)
	{
		fmt->chapters = static_cast<AVChapter **>(av_calloc(starts.size(), sizeof(AVChapter *)));
		if (!fmt->chapters)
			return false;
		for (size_t i = 0; i < starts.size(); ++i) {
			AVChapter *ch = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
			if (!ch)
				return false;
			ch->id = int64_t(i + 1);
			ch->time_base = AVRational{1, 1000};
			ch->start = starts[i];
			ch->end = i + 1 < starts.size() ? starts[i + 1] : endMs;
			av_dict_set(&ch->metadata, "title", pieces[i].title.c_str(), 0);
			fmt->chapters[fmt->nb_chapters++] = ch;
		}
		return true;
	}

	OutTrack video, audio;
	AVFormatContext *fmt = nullptr;
	bool started = false;

	bool finish(std::string &error)
	{
		const int ret = av_write_trailer(fmt);
		started = false;
		if (ret < 0)
			error = avError(ret);
		const int closed = avio_closep(&fmt->pb);
		if (ret >= 0 && closed < 0)
			error = avError(closed);
		avformat_free_context(fmt);
		fmt = nullptr;
		return error.empty();
	}

	void abandon()
	{
		if (!fmt)
			return;
		avio_closep(&fmt->pb);
		avformat_free_context(fmt);
		fmt = nullptr;
	}
};

// Decode times of a piece's video from its presentation times, as libavformat guesses them where the
// container keeps none (Matroska, and any file just after a seek): the (delay + 1)-th largest pts so
// far, and for the first frames steps of one frame back from the keyframe.
class DecodeClock {
public:
	DecodeClock(const AVStream *st, int64_t keyPts) : keyPts(keyPts)
	{
		delay = std::max(st->codecpar->video_delay, 0);
		AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
		if (rate.num <= 0 || rate.den <= 0)
			rate = AVRational{30, 1};
		frame = std::max<int64_t>(av_rescale_q(1, av_inv_q(rate), st->time_base), 1);
	}
	int64_t next(int64_t pts)
	{
		largest.insert(std::upper_bound(largest.begin(), largest.end(), pts), pts);
		if (largest.size() > size_t(delay) + 1)
			largest.erase(largest.begin());
		const int64_t dts = count < delay ? keyPts - (delay - count) * frame : largest.front();
		++count;
		return dts;
	}
	// How far the keyframe's decode time lies before its presentation.
	int64_t lead() const { return int64_t(delay) * frame; }
	int64_t frameTicks() const { return frame; }

private:
	int64_t keyPts;
	int delay = 0;
	int64_t frame = 1;
	int count = 0;
	std::vector<int64_t> largest;
};
} // namespace

HighlightProbe probeHighlightClip(const std::string &path)
{
	HighlightProbe probe;
	Input in;
	std::string error;
	if (!in.open(path, error) || in.fmt->duration <= 0)
		return probe;
	probe.durationMs = in.fmt->duration / 1000;
	probe.signature = streamSignature(in.stream(in.video));
	if (in.audio >= 0)
		probe.signature += " | " + streamSignature(in.stream(in.audio));
	probe.ok = true;
	return probe;
}

namespace {
// Copies one piece: from the last keyframe at or before start, video cut in decode order (so every
// frame kept has its references) before end, audio beside it from the keyframe's time on.
// offsetUs is where the keyframe lands in the video; the piece's length (from the keyframe to end)
// comes back in lengthUs.
bool copyPiece(Writer &out, const HighlightPiece &piece, int64_t &offsetUs, int64_t &prevLeadUs, bool first,
	       int64_t &lengthUs, const std::atomic<bool> &cancel, std::string &error)
{
	Input in;
	if (!in.open(piece.path, error))
		return false;
	AVStream *vs = in.stream(in.video);
	const int64_t startUs = in.startUs() + piece.startMs * 1000;
	const int64_t endUs = in.startUs() + piece.endMs * 1000;
	const int64_t startTs = av_rescale_q(startUs, kUs, vs->time_base);
	if (av_seek_frame(in.fmt, in.video, startTs, AVSEEK_FLAG_BACKWARD) < 0)
		av_seek_frame(in.fmt, -1, 0, AVSEEK_FLAG_BACKWARD);

	// Packets from the latest keyframe at or before the start, until a frame after the start shows
	// that keyframe to be the last such one.
	std::deque<AVPacket *> preroll;
	auto clearPreroll = [&] {
		for (AVPacket *p : preroll)
			av_packet_free(&p);
		preroll.clear();
	};
	int64_t keyPts = AV_NOPTS_VALUE; // video time base
	std::unique_ptr<DecodeClock> clock;
	bool started = false;
	bool videoDone = false;
	Packet read;
	AVPacket *pkt = read.pkt;

	auto write = [&](AVPacket *p) -> bool {
		OutTrack &t = p->stream_index == in.video ? out.video : out.audio;
		if (!t.st)
			return true; // a stream the first clip lacked
		AVStream *is = in.stream(p->stream_index);
		const int64_t keyUs = av_rescale_q(keyPts, vs->time_base, kUs);
		const int64_t shift =
		    av_rescale_q(offsetUs, kUs, is->time_base) - av_rescale_q(keyUs, kUs, is->time_base);
		p->pts += shift;
		p->dts = p->dts == AV_NOPTS_VALUE ? p->pts : p->dts + shift;
		if (t.lastDts != AV_NOPTS_VALUE && p->dts <= av_rescale_q(t.lastDts, t.st->time_base, is->time_base)) {
			if (p->stream_index != in.video)
				return true; // an audio frame that would overlap the one before
			p->dts = av_rescale_q(t.lastDts, t.st->time_base, is->time_base) + 1;
		}
		if (p->pts < p->dts)
			p->pts = p->dts;
		av_packet_rescale_ts(p, is->time_base, t.st->time_base);
		p->stream_index = t.st->index;
		p->pos = -1;
		t.lastDts = p->dts;
		const int ret = av_interleaved_write_frame(out.fmt, p);
		if (ret < 0)
			error = avError(ret);
		return ret >= 0;
	};
	auto inTime = [&](const AVPacket *p, int64_t us) {
		return av_rescale_q(p->pts, in.stream(p->stream_index)->time_base, kUs) < us;
	};
	const int64_t endTs = av_rescale_q(endUs, kUs, vs->time_base);
	// The video in decode order up to the frame that would show at the end: every frame kept has
	// its references.
	auto takeVideo = [&](AVPacket *p) {
		const int64_t dts = clock->next(p->pts);
		if (dts + clock->lead() + clock->frameTicks() / 2 >= endTs && started)
			videoDone = true;
		p->dts = dts;
		return !videoDone;
	};

	// Starts the piece at the keyframe: its decode time comes right after everything written before.
	auto flushPreroll = [&]() {
		started = true;
		clock = std::make_unique<DecodeClock>(vs, keyPts);
		// Decode times of the same settings trail by the same lead, so the piece follows the one before
		// without a gap; only a longer lead than before needs the room.
		const int64_t leadUs = av_rescale_q(clock->lead(), vs->time_base, kUs);
		offsetUs = first ? leadUs : offsetUs + std::max<int64_t>(leadUs - prevLeadUs, 0);
		prevLeadUs = leadUs;
		const int64_t keyUs = av_rescale_q(keyPts, vs->time_base, kUs);
		for (AVPacket *p : preroll) {
			const bool v = p->stream_index == in.video;
			const bool keep = v ? takeVideo(p) : !inTime(p, keyUs) && inTime(p, endUs);
			if (keep && !write(p))
				return false;
		}
		clearPreroll();
		return true;
	};

	bool ok = true;
	while (ok && !cancel.load(std::memory_order_relaxed)) {
		const int ret = av_read_frame(in.fmt, pkt);
		if (ret == AVERROR_EOF)
			break;
		if (ret < 0) {
			error = avError(ret);
			ok = false;
			break;
		}
		const bool isVideo = pkt->stream_index == in.video;
		if ((!isVideo && pkt->stream_index != in.audio) || pkt->pts == AV_NOPTS_VALUE) {
			av_packet_unref(pkt);
			continue;
		}
		if (!started) {
			const int64_t us = av_rescale_q(pkt->pts, in.stream(pkt->stream_index)->time_base, kUs);
			if (isVideo && (pkt->flags & AV_PKT_FLAG_KEY) && (us <= startUs || keyPts == AV_NOPTS_VALUE)) {
				clearPreroll();
				keyPts = pkt->pts;
			}
			if (keyPts == AV_NOPTS_VALUE) {
				av_packet_unref(pkt);
				continue;
			}
			preroll.push_back(av_packet_clone(pkt));
			av_packet_unref(pkt);
			if (!(isVideo && us > startUs))
				continue;
			ok = flushPreroll();
			continue;
		}
		const bool keep = isVideo ? takeVideo(pkt) : inTime(pkt, endUs);
		if (keep && !write(pkt))
			ok = false;
		av_packet_unref(pkt);
		if (videoDone && (in.audio < 0 || (!isVideo && !keep)))
			break;
	}
	// A clip that ended before a frame past the start: what was gathered is the piece.
	if (ok && !started && keyPts != AV_NOPTS_VALUE && !cancel.load())
		ok = flushPreroll();
	clearPreroll();
	if (!ok)
		return false;
	if (!started) {
		error = "no keyframe";
		return false;
	}
	lengthUs = std::max<int64_t>(endUs - av_rescale_q(keyPts, vs->time_base, kUs), 0);
	return true;
}
} // namespace

HighlightCopyResult copyHighlights(const std::vector<HighlightPiece> &pieces, const std::string &folder,
				   const std::atomic<bool> &cancel, const std::function<void(int, int)> &progress)
{
	HighlightCopyResult result;
	if (pieces.empty()) {
		result.error = "nothing to copy";
		return result;
	}
	// An unused name of our own in the folder; the muxer writes over it.
	QTemporaryFile temp(QDir(QString::fromStdString(folder)).filePath(QStringLiteral(".lumark-XXXXXX.part")));
	temp.setAutoRemove(true);
	if (!temp.open()) {
		result.error = temp.errorString().toStdString();
		return result;
	}
	const std::string path = QFile::encodeName(temp.fileName()).toStdString();
	temp.close();

	Input first;
	Writer out;
	if (!first.open(pieces.front().path, result.error) || !out.open(path, first, result.extension, result.error))
		return result;

	int64_t offsetUs = 0, leadUs = 0;
	for (size_t i = 0; i < pieces.size(); ++i) {
		int64_t lengthUs = 0;
		const bool copied = copyPiece(out, pieces[i], offsetUs, leadUs, i == 0, lengthUs, cancel, result.error);
		if (cancel.load()) {
			result.cancelled = true;
			return result;
		}
		if (!copied) {
			result.error = pieces[i].path + ": " + result.error;
			return result;
		}
		// The first chapter starts the video, not at the first keyframe's decode lead.
		result.chapterStartsMs.push_back(i == 0 ? 0 : offsetUs / 1000);
		offsetUs += lengthUs;
		if (progress)
			progress(int(i + 1), int(pieces.size()));
	}
	result.durationMs = offsetUs / 1000;
	// Chapters added after the header go into the trailer, with their times known by now.
	if (!out.addChapters(result.chapterStartsMs, result.durationMs, pieces)) {
		result.error = "out of memory";
		return result;
	}
	if (!out.finish(result.error))
		return result;
	QFile::setPermissions(temp.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
						   QFileDevice::ReadGroup | QFileDevice::ReadOther);
	temp.setAutoRemove(false);
	result.tempPath = path;
	result.ok = true;
	return result;
}
