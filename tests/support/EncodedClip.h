#pragma once

// A short clip that libx264 really encoded, as packets the way libobs hands them to outputs.

#include "EncodedPacket.h"
#include "playback/ReplayMux.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

struct Encoded {
	MuxHeader header;
	std::vector<encoder_packet> packets;
	// Capture clock of the newest picture.
	int64_t lastVideoSys() const
	{
		for (auto p = packets.rbegin(); p != packets.rend(); ++p)
			if (p->type == OBS_ENCODER_VIDEO)
				return p->sys_dts_usec;
		return 0;
	}
	~Encoded()
	{
		for (encoder_packet &p : packets)
			obs_encoder_packet_release(&p);
	}
};

// `frames` of 160x90 video at 30 fps (keyframe every 15) and AAC beside it, as OBS hands them out.
inline void encode(Encoded &out, int frames)
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
			// Two AAC frames per video frame at 48 kHz, with a fixed valid header, on a clock of their
			// own: no sound frame starts with a picture.
			for (int k = 0; k < 2 && out.header.hasAudio; ++k) {
				const int64_t n = (pkt->dts + offset) * 1600 + k * 1024 + 500;
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
