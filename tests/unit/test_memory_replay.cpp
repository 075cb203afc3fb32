// The replay from memory: the packet ring over refcounted packets as libobs makes them, and the
// Matroska mux of packets that libavcodec really encoded, read back by the clip probe.
#include "playback/ClipProbe.h"
#include "playback/PacketRing.h"
#include "playback/ReplayMux.h"

#include "EncodedPacket.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

// A packet of `usec` in a microsecond timebase.
encoder_packet makePacket(obs_encoder_type type, int64_t usec, bool key)
{
	return refcountedPacket(type, nullptr, 16, usec, usec, 1000000, key);
}

// 30 fps video with a keyframe every 2 s and audio every 21 ms, from `fromUsec` for `seconds`.
void pushStream(PacketRing &ring, int64_t fromUsec, int seconds)
{
	for (int64_t t = fromUsec; t < fromUsec + seconds * 1000000LL; t += 1000) {
		if (t % 33000 == 0) {
			encoder_packet v = makePacket(OBS_ENCODER_VIDEO, t, (t / 33000) % 60 == 0);
			ring.push(&v);
			obs_encoder_packet_release(&v);
		}
		if (t % 21000 == 0) {
			encoder_packet a = makePacket(OBS_ENCODER_AUDIO, t, true);
			ring.push(&a);
			obs_encoder_packet_release(&a);
		}
	}
}

bool startsWithKeyframe(const PacketSnapshot &snap)
{
	return !snap.empty() && snap.packets.front().type == OBS_ENCODER_VIDEO && snap.packets.front().keyframe;
}

} // namespace

TEST(MemoryRing, KeepsWholeGopsBehindTheNewestPacketAndRestartsEmpty)
{
	PacketRing ring;
	ring.setKeepUsec(5 * 1000000LL);
	encoder_packet early = makePacket(OBS_ENCODER_AUDIO, 0, true);
	ring.push(&early); // before any keyframe: nothing to play it with
	obs_encoder_packet_release(&early);
	EXPECT_EQ(ring.size(), 0u);

	pushStream(ring, 33000, 30);
	// Trimmed to the keyframe at or before newest - 5 s: between 5 and 7 s held, never less.
	EXPECT_GE(ring.heldUsec(), 5 * 1000000LL);
	EXPECT_LT(ring.heldUsec(), 7 * 1000000LL);
	const size_t bytes = ring.heldBytes();
	EXPECT_LT(bytes, 16u * 7 * (30 + 48));

	// The last 3 s start at the keyframe at or before newest - 3 s, with audio from there on.
	PacketSnapshot snap = ring.snapshot(3 * 1000000LL);
	ASSERT_TRUE(startsWithKeyframe(snap));
	EXPECT_GE(snap.spanUsec(), 3 * 1000000LL);
	EXPECT_LT(snap.spanUsec(), 5 * 1000000LL);
	for (const encoder_packet &p : snap.packets)
		EXPECT_GE(p.dts_usec, snap.firstUsec);
	// More than is held gives what is held.
	EXPECT_EQ(ring.snapshot(60 * 1000000LL).firstUsec, ring.snapshot(6 * 1000000LL).firstUsec);

	ring.clear();
	EXPECT_EQ(ring.size(), 0u);
	EXPECT_EQ(ring.heldUsec(), 0);
	EXPECT_TRUE(ring.snapshot(1000000).empty());
	// The snapshot taken before still holds its own references.
	EXPECT_EQ(snap.packets.back().size, 16u);
	pushStream(ring, 100 * 1000000LL, 3);
	EXPECT_GE(ring.snapshot(1000000).firstUsec, 100 * 1000000LL);
}

TEST(MemoryRing, SnapshotsWhileEncoderThreadsAddAreWholeAndOrdered)
{
	PacketRing ring;
	ring.setKeepUsec(2 * 1000000LL);
	std::atomic<bool> done{false};
	std::atomic<int> taken{0};
	// The encoder goes on until enough snapshots were taken while it was adding.
	std::thread encoder([&] {
		for (int round = 0; taken < 50 && round < 100000; ++round)
			pushStream(ring, round * 4 * 1000000LL, 4);
		done = true;
	});
	while (!done) {
		PacketSnapshot snap = ring.snapshot(1000000);
		if (snap.empty())
			continue;
		++taken;
		ASSERT_TRUE(startsWithKeyframe(snap));
		int64_t lastVideo = -1;
		for (const encoder_packet &p : snap.packets) {
			if (p.type != OBS_ENCODER_VIDEO)
				continue;
			ASSERT_GT(p.dts_usec, lastVideo);
			lastVideo = p.dts_usec;
		}
	}
	encoder.join();
	EXPECT_GE(taken, 50);
}

namespace {
struct Encoded {
	MuxHeader header;
	std::vector<encoder_packet> packets;
	~Encoded()
	{
		for (encoder_packet &p : packets)
			obs_encoder_packet_release(&p);
	}
};

// `frames` of 160x90 video at 30 fps (keyframe every 15) and AAC beside it, as OBS hands them out.
void encode(Encoded &out, int frames)
{
	av_log_set_level(AV_LOG_ERROR);
	const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
	ASSERT_NE(codec, nullptr);
	AVCodecContext *ctx = avcodec_alloc_context3(codec);
	ctx->width = 160;
	ctx->height = 90;
	ctx->time_base = AVRational{1, 30};
	ctx->pix_fmt = AV_PIX_FMT_YUV420P;
	ctx->gop_size = 15;
	ctx->max_b_frames = 2;
	ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
	ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
	out.header.video.codec = "h264";
	out.header.video.extraData.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
	out.header.video.width = 160;
	out.header.video.height = 90;

	AVFrame *frame = av_frame_alloc();
	frame->format = ctx->pix_fmt;
	frame->width = ctx->width;
	frame->height = ctx->height;
	ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
	AVPacket *pkt = av_packet_alloc();
	// Starts mid-stream, as a ring does: the first timestamps are far from zero.
	const int64_t offset = 900;
	auto drain = [&] {
		while (avcodec_receive_packet(ctx, pkt) == 0) {
			out.packets.push_back(refcountedPacket(OBS_ENCODER_VIDEO, pkt->data, pkt->size,
							       pkt->pts + offset, pkt->dts + offset, 30,
							       pkt->flags & AV_PKT_FLAG_KEY));
			// Two AAC frames per video frame at 48 kHz, with a fixed valid header.
			for (int k = 0; k < 2 && out.header.hasAudio; ++k) {
				const int64_t n = (pkt->dts + offset) * 1600 + k * 1024;
				const uint8_t silence[] = {0x21, 0x10, 0x04, 0x60, 0x8c, 0x1c};
				out.packets.push_back(
				    refcountedPacket(OBS_ENCODER_AUDIO, silence, sizeof(silence), n, n, 48000, true));
			}
			av_packet_unref(pkt);
		}
	};
	out.header.hasAudio = true;
	out.header.audio.codec = "AAC";
	out.header.audio.sampleRate = 48000;
	out.header.audio.channels = 2;
	out.header.audio.extraData = {0x11, 0x90};
	for (int i = 0; i < frames; ++i) {
		ASSERT_EQ(av_frame_make_writable(frame), 0);
		for (int y = 0; y < 90; ++y)
			std::memset(frame->data[0] + y * frame->linesize[0], (y + i * 3) & 0xFF, 160);
		frame->pts = i;
		ASSERT_EQ(avcodec_send_frame(ctx, frame), 0);
		drain();
	}
	avcodec_send_frame(ctx, nullptr);
	drain();
	av_packet_free(&pkt);
	av_frame_free(&frame);
	avcodec_free_context(&ctx);
}
} // namespace

TEST(MemoryMux, MakesAPlayableClipThatStartsWithAKeyframe)
{
	Encoded enc;
	encode(enc, 60);
	ASSERT_GT(enc.packets.size(), 60u);
	QTemporaryDir dir;
	const std::string path = dir.filePath("replay.mkv").toStdString();
	std::string error;
	ASSERT_TRUE(muxMatroska(path, enc.header, enc.packets, error)) << error;

	AVFormatContext *fmt = nullptr;
	ASSERT_EQ(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr), 0);
	ASSERT_GE(avformat_find_stream_info(fmt, nullptr), 0);
	ASSERT_EQ(fmt->nb_streams, 2u);
	AVPacket *pkt = av_packet_alloc();
	int videoPackets = 0, audioPackets = 0;
	int64_t lastVideoMs = 0, lastAudioMs = 0;
	bool firstKey = false;
	while (av_read_frame(fmt, pkt) >= 0) {
		const AVStream *stream = fmt->streams[pkt->stream_index];
		const int64_t ms = av_rescale_q(pkt->pts, stream->time_base, AVRational{1, 1000});
		if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
			++audioPackets;
			lastAudioMs = std::max(lastAudioMs, ms);
		} else {
			lastVideoMs = std::max(lastVideoMs, ms);
			if (videoPackets++ == 0)
				firstKey = pkt->flags & AV_PKT_FLAG_KEY;
			if (pkt->pts != AV_NOPTS_VALUE)
				EXPECT_GE(pkt->pts, 0);
		}
		av_packet_unref(pkt);
	}
	av_packet_free(&pkt);
	avformat_close_input(&fmt);
	EXPECT_TRUE(firstKey);
	EXPECT_EQ(videoPackets, 60);
	// The sound runs beside the picture, over the same two seconds.
	EXPECT_EQ(audioPackets, 120);
	EXPECT_NEAR(lastVideoMs, 2000, 70);
	EXPECT_NEAR(lastAudioMs, lastVideoMs, 60);

	// A stream without its header, or a folder that cannot be written, is refused and leaves nothing.
	MuxHeader bare = enc.header;
	bare.video.extraData.clear();
	EXPECT_FALSE(muxMatroska(path + "2", bare, enc.packets, error));
	EXPECT_FALSE(QFile::exists(QString::fromStdString(path + "2")));
	EXPECT_FALSE(muxMatroska(dir.filePath("missing/replay.mkv").toStdString(), enc.header, enc.packets, error));
	EXPECT_FALSE(error.empty());
}
