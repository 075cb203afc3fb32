// Muxing a replay from memory: 10 s of 1280x720 at 30 fps and 6 Mbps (x264, keyframe every 2 s)
// with AAC beside it, into a Matroska file in a memory-backed folder, as a replay press does.
#include "playback/ReplayMux.h"

#include "EncodedPacket.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct TenSeconds {
	MuxHeader header;
	std::vector<encoder_packet> packets;
	size_t videoBytes = 0;

	TenSeconds()
	{
		av_log_set_level(AV_LOG_ERROR);
		const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
		AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
		if (!ctx)
			return;
		ctx->width = 1280;
		ctx->height = 720;
		ctx->time_base = AVRational{1, 30};
		ctx->pix_fmt = AV_PIX_FMT_YUV420P;
		ctx->gop_size = 60;
		ctx->bit_rate = 6000000;
		ctx->rc_max_rate = 6000000;
		ctx->rc_buffer_size = 6000000;
		ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
		AVDictionary *opts = nullptr;
		av_dict_set(&opts, "preset", "ultrafast", 0);
		if (avcodec_open2(ctx, codec, &opts) < 0) {
			av_dict_free(&opts);
			avcodec_free_context(&ctx);
			return;
		}
		av_dict_free(&opts);
		header.video.codec = "h264";
		header.video.extraData.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
		header.video.width = 1280;
		header.video.height = 720;
		header.video.fpsNum = 30;
		header.video.fpsDen = 1;
		header.hasAudio = true;
		header.audio.codec = "aac";
		header.audio.sampleRate = 48000;
		header.audio.channels = 2;
		header.audio.extraData = {0x11, 0x90};

		AVFrame *frame = av_frame_alloc();
		frame->format = ctx->pix_fmt;
		frame->width = ctx->width;
		frame->height = ctx->height;
		av_frame_get_buffer(frame, 0);
		AVPacket *pkt = av_packet_alloc();
		std::mt19937 noise(7);
		const std::vector<uint8_t> aac(426, 0x21); // 160 kbps of AAC frames
		auto drain = [&] {
			while (avcodec_receive_packet(ctx, pkt) == 0) {
				videoBytes += pkt->size;
				packets.push_back(refcountedPacket(OBS_ENCODER_VIDEO, pkt->data, pkt->size, pkt->pts,
								   pkt->dts, 30, pkt->flags & AV_PKT_FLAG_KEY));
				for (int k = 0; k < 2; ++k) {
					const int64_t n = pkt->dts * 1600 + k * 800;
					packets.push_back(refcountedPacket(OBS_ENCODER_AUDIO, aac.data(), aac.size(), n,
									   n, 48000, true));
				}
				av_packet_unref(pkt);
			}
		};
		for (int i = 0; i < 300; ++i) {
			av_frame_make_writable(frame);
			for (int plane = 0; plane < 3; ++plane) {
				const int h = plane ? 360 : 720;
				for (int y = 0; y < h; ++y)
					for (int x = 0; x < frame->linesize[plane]; x += 4) {
						const uint32_t v = noise();
						std::memcpy(frame->data[plane] + y * frame->linesize[plane] + x, &v, 4);
					}
			}
			frame->pts = i;
			avcodec_send_frame(ctx, frame);
			drain();
		}
		avcodec_send_frame(ctx, nullptr);
		drain();
		av_packet_free(&pkt);
		av_frame_free(&frame);
		avcodec_free_context(&ctx);
	}
	~TenSeconds()
	{
		for (encoder_packet &p : packets)
			obs_encoder_packet_release(&p);
	}
};

void BM_MuxTenSecondsAt6Mbps(benchmark::State &state)
{
	static TenSeconds input;
	if (input.packets.empty()) {
		state.SkipWithError("libx264 is not available");
		return;
	}
	const char *shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
	const std::string path = std::string(shm) + "/lumark-bench-mux.mkv";
	std::string error;
	for (auto _ : state) {
		std::remove(path.c_str()); // the file is always made new
		if (!muxMatroska(path, input.header, input.packets, error)) {
			state.SkipWithError(error.c_str());
			break;
		}
	}
	std::remove(path.c_str());
	state.counters["video_mbps"] = double(input.videoBytes) * 8 / 10 / 1e6;
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.videoBytes));
}
BENCHMARK(BM_MuxTenSecondsAt6Mbps)->Unit(benchmark::kMillisecond);

} // namespace
