// The highlights video: the plan of stretches from marks and clip times, and the copy of packets that
// libx264 really encoded, read back with libavformat.
#include "test_engine_fixture.h"

#include "engine/EngineSupport.h"
#include "lists/HighlightPlan.h"
#include "playback/HighlightCopy.h"
#include "playback/ReplayMux.h"

#include "EncodedPacket.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

TEST(HighlightPlan, CutsOverlapsLeavesOutBadClipsAndGroupsByCodec)
{
	auto clip = [](int64_t id, int64_t mark, int64_t end, int64_t duration, const char *codec) {
		HighlightClip c;
		c.entryId = id;
		c.path = "c" + std::to_string(id);
		c.title = "t" + std::to_string(id);
		c.markMs = mark;
		c.clipEndMs = end;
		c.durationMs = duration;
		c.codec = codec;
		return c;
	};
	std::vector<HighlightClip> clips = {clip(2, 35000, 36000, 60000, "A"), clip(1, 30000, 31000, 60000, "A"),
					    clip(3, 40000, 40500, 60000, "A"), clip(4, 50000, 50000, -1, "A"),
					    clip(5, 60000, 60000, 30000, "B"), clip(6, 61000, 61000, 60000, "A"),
					    clip(7, 61000, 61000, 60000, "A"), clip(8, 70000, 95000, 20000, "A")};
	clips[2].exists = false;
	const HighlightPlan plan = planHighlights(clips, 20000);
	ASSERT_EQ(plan.groups.size(), 2u);
	const auto &a = plan.groups[0].stretches;
	ASSERT_EQ(a.size(), 3u);
	// Mark order; the last 20 s before each mark, the second one only from where the first ended.
	EXPECT_EQ(a[0].entryId, 1);
	EXPECT_EQ(a[0].startMs, 39000);
	EXPECT_EQ(a[0].endMs, 59000);
	EXPECT_EQ(a[1].entryId, 2);
	EXPECT_EQ(a[1].startMs, 54000);
	EXPECT_EQ(a[1].endMs, 59000);
	EXPECT_EQ(a[2].entryId, 6);
	EXPECT_EQ(a[2].startMs, 40000);
	EXPECT_EQ(plan.groups[0].plannedMs(), 20000 + 5000 + 20000);
	ASSERT_EQ(plan.groups[1].stretches.size(), 1u);
	EXPECT_EQ(plan.groups[1].stretches[0].startMs, 10000);
	ASSERT_EQ(plan.leftOut.size(), 4u);
	EXPECT_EQ(plan.leftOut[0].why, HighlightSkip::Missing);
	EXPECT_EQ(plan.leftOut[1].why, HighlightSkip::Unreadable);
	EXPECT_EQ(plan.leftOut[2].why, HighlightSkip::AlreadyShown);
	EXPECT_EQ(plan.leftOut[3].why, HighlightSkip::NotInClip);

	// Description chapters: 0:00 first, a chapter under ten seconds dropped as the lists drop it.
	std::vector<ChapterIssue> issues;
	EXPECT_EQ(highlightTimestampsText({0, 20000, 25000, 45000}, {"a", "b", "c", "d"}, 65000, &issues),
		  "00:00 a\r\n00:25 c\r\n00:45 d\r\n");
	EXPECT_TRUE(issues.empty());
}

namespace {
// A clip of `seconds` of 160x90 H.264 at 30 fps (keyframe every second, B-frames) with AAC beside
// it, muxed as the replay from memory muxes; every frame's picture differs by `shade`.
void writeClip(const std::string &path, int seconds, int shade)
{
	av_log_set_level(AV_LOG_ERROR);
	const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
	ASSERT_NE(codec, nullptr);
	AVCodecContext *ctx = avcodec_alloc_context3(codec);
	ctx->width = 160;
	ctx->height = 90;
	ctx->time_base = AVRational{1, 30};
	ctx->pix_fmt = AV_PIX_FMT_YUV420P;
	ctx->gop_size = 30;
	ctx->max_b_frames = 2;
	ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
	AVDictionary *opts = nullptr;
	av_dict_set(&opts, "x264-params", "scenecut=0", 0); // keyframes on the second, as OBS sets them
	ASSERT_EQ(avcodec_open2(ctx, codec, &opts), 0);
	av_dict_free(&opts);
	MuxHeader header;
	header.video.codec = "h264";
	header.video.extraData.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
	header.video.width = 160;
	header.video.height = 90;
	header.hasAudio = true;
	header.audio.codec = "aac";
	header.audio.sampleRate = 48000;
	header.audio.channels = 2;
	header.audio.extraData = {0x11, 0x90};
	std::vector<encoder_packet> packets;
	AVFrame *frame = av_frame_alloc();
	frame->format = ctx->pix_fmt;
	frame->width = 160;
	frame->height = 90;
	ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
	AVPacket *pkt = av_packet_alloc();
	auto drain = [&] {
		while (avcodec_receive_packet(ctx, pkt) == 0) {
			packets.push_back(refcountedPacket(OBS_ENCODER_VIDEO, pkt->data, size_t(pkt->size), pkt->pts,
							   pkt->dts, 30, pkt->flags & AV_PKT_FLAG_KEY));
			for (int k = 0; k < 2; ++k) {
				const int64_t n = (pkt->dts + 2) * 1600 + k * 800;
				const uint8_t silence[] = {0x21, 0x10, 0x04, 0x60, 0x8c, 0x1c};
				packets.push_back(
				    refcountedPacket(OBS_ENCODER_AUDIO, silence, sizeof(silence), n, n, 48000, true));
			}
			av_packet_unref(pkt);
		}
	};
	for (int i = 0; i < seconds * 30; ++i) {
		ASSERT_EQ(av_frame_make_writable(frame), 0);
		for (int plane = 0; plane < 3; ++plane)
			std::memset(frame->data[plane], (i * 5 + shade) & 0xFF,
				    size_t(frame->linesize[plane]) * (plane ? 45 : 90));
		frame->pts = i;
		ASSERT_EQ(avcodec_send_frame(ctx, frame), 0);
		drain();
	}
	avcodec_send_frame(ctx, nullptr);
	drain();
	std::string error;
	EXPECT_TRUE(muxMatroska(path, header, packets, error)) << error;
	for (encoder_packet &p : packets)
		obs_encoder_packet_release(&p);
	av_packet_free(&pkt);
	av_frame_free(&frame);
	avcodec_free_context(&ctx);
}
} // namespace

TEST(HighlightCopy, CopiesStretchesFromKeyframesWithChaptersAndLeavesNothingOnFailure)
{
	QTemporaryDir dir;
	const std::string a = dir.filePath("a.mkv").toStdString(), b = dir.filePath("b.mkv").toStdString();
	writeClip(a, 6, 0);
	writeClip(b, 6, 100);
	const HighlightProbe probe = probeHighlightClip(a);
	ASSERT_TRUE(probe.ok);
	EXPECT_NEAR(probe.durationMs, 6000, 100);
	EXPECT_EQ(probe.signature, probeHighlightClip(b).signature);

	// Starts 2.5 s and 0.2 s: the keyframes at 2 s and 0 s; 3 s + 2 s from there.
	const std::vector<HighlightPiece> pieces = {{a, 2500, 5000, "first"}, {b, 200, 2000, "second"}};
	std::atomic<bool> cancel{false};
	int progressed = 0;
	const HighlightCopyResult r =
	    copyHighlights(pieces, dir.path().toStdString(), cancel, [&](int done, int) { progressed = done; });
	ASSERT_TRUE(r.ok) << r.error;
	EXPECT_EQ(r.extension, ".mp4");
	EXPECT_EQ(progressed, 2);
	ASSERT_EQ(r.chapterStartsMs.size(), 2u);
	EXPECT_NEAR(r.chapterStartsMs[1], 3000, 150);
	EXPECT_NEAR(r.durationMs, 5000, 150);

	AVFormatContext *fmt = nullptr;
	ASSERT_EQ(avformat_open_input(&fmt, r.tempPath.c_str(), nullptr, nullptr), 0);
	ASSERT_GE(avformat_find_stream_info(fmt, nullptr), 0);
	EXPECT_NEAR(double(fmt->duration) / AV_TIME_BASE, 5.0, 0.15);
	ASSERT_EQ(fmt->nb_chapters, 2u);
	EXPECT_STREQ(av_dict_get(fmt->chapters[1]->metadata, "title", nullptr, 0)->value, "second");
	AVPacket *pkt = av_packet_alloc();
	std::vector<int64_t> lastDts(fmt->nb_streams, INT64_MIN);
	int videoPackets = 0, keyframes = 0;
	bool monotonic = true;
	std::vector<int64_t> shown; // video pts in ms
	while (av_read_frame(fmt, pkt) >= 0) {
		monotonic = monotonic && pkt->dts > lastDts[size_t(pkt->stream_index)];
		lastDts[size_t(pkt->stream_index)] = pkt->dts;
		if (fmt->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
			shown.push_back(av_rescale_q(pkt->pts, fmt->streams[pkt->stream_index]->time_base, {1, 1000}));
			keyframes += (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
			EXPECT_TRUE(videoPackets++ > 0 || (pkt->flags & AV_PKT_FLAG_KEY));
		}
		av_packet_unref(pkt);
	}
	av_packet_free(&pkt);
	avformat_close_input(&fmt);
	EXPECT_TRUE(monotonic);
	EXPECT_EQ(videoPackets, 150);
	EXPECT_EQ(keyframes, 5);
	// Every frame shows one frame after the one before, across the join too.
	std::sort(shown.begin(), shown.end());
	for (size_t i = 1; i < shown.size(); ++i)
		ASSERT_NEAR(shown[i] - shown[i - 1], 33, 1) << "frame " << i;
	// The index comes first, so that the file plays while it uploads.
	QFile file(QString::fromStdString(r.tempPath));
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	const QByteArray bytes = file.readAll();
	EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
	file.close();
	QFile::remove(file.fileName());

	// Cancelled, or a clip gone: no file, temporary or not.
	cancel = true;
	EXPECT_TRUE(copyHighlights(pieces, dir.path().toStdString(), cancel).cancelled);
	cancel = false;
	EXPECT_FALSE(copyHighlights({pieces[0], {dir.filePath("gone.mkv").toStdString(), 0, 1000, "x"}},
				    dir.path().toStdString(), cancel)
			 .ok);
	EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(EngineTest, HighlightsAtTheEndOfAStreamCutTheOverlapAndRefuseASecondRun)
{
	settings().highlights_video = true;
	settings().highlight_seconds = 5;
	settings().press_replay = false;
	ready();
	FrontendDouble::state().replayBufferActive = true;
	FrontendDouble::state().streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	const QString clips = work.path() + "/clips";
	QDir().mkpath(clips);
	// Two presses 2 s apart, each saved at once: the second stretch starts where the first ended.
	for (const char *name : {"/a.mkv", "/b.mkv"}) {
		advance(2000);
		writeClip((clips + name).toStdString(), 6, name[1]);
		engine->press(PressMode::Default, QString());
		obsSaved(clips + name);
	}
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	renameTick();
	EXPECT_TRUE(engine->exports().highlightsRunning());
	EXPECT_FALSE(engine->exports().exportHighlights());
	EXPECT_EQ(engine->statusText(), engineMessage(EngineText::HighlightsBusy));
	waitForHighlights();

	const NotifyRecord *written = lastEvent("HighlightsWritten");
	ASSERT_NE(written, nullptr) << engine->statusText().toStdString();
	EXPECT_EQ(written->data["stretches"].toInt(), 2);
	// 5 s and 2 s, within a keyframe interval (1 s) each; without the cut it would be 10 s.
	EXPECT_NEAR(written->data["duration_ms"].toInt(), 5000 + 2000, 1000);
	const QString video = written->data["file"].toString();
	EXPECT_TRUE(video.endsWith(" highlights.mp4")) << video.toStdString();
	QFile text(video.chopped(4) + ".txt");
	ASSERT_TRUE(text.open(QIODevice::ReadOnly));
	EXPECT_TRUE(text.readAll().startsWith("00:00 "));

	// By hand again: a new name; the session's removal cancels a run and leaves no file.
	ASSERT_TRUE(engine->exports().exportHighlights());
	waitForHighlights();
	EXPECT_TRUE(lastEvent("HighlightsWritten")->data["file"].toString().endsWith(" highlights (2).mp4"));
	ASSERT_TRUE(engine->exports().exportHighlights());
	ASSERT_TRUE(engine->removeSession(engine->viewedSessionId()));
	EXPECT_FALSE(engine->exports().highlightsRunning());
	const QStringList after = QDir(work.path() + "/lists").entryList(QDir::Files | QDir::Hidden);
	EXPECT_TRUE(after.filter(".part").isEmpty());
}
