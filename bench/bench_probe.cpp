// Reading a clip's duration from its header against asking ffprobe, per file.
#include "playback/ClipProbe.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Clips {
	std::string dir;
	std::vector<std::string> files;

	Clips()
	{
		char tmpl[] = "/tmp/lumark-bench-probe-XXXXXX";
		if (!mkdtemp(tmpl))
			return;
		dir = tmpl;
		const char *exts[] = {"mp4", "mov", "mkv"};
		for (const char *ext : exts) {
			std::string file = dir + "/clip." + ext;
			std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=30:duration=20 "
					  "-f lavfi -i sine=duration=20 -c:v mpeg4 -c:a aac -shortest '" +
					  file + "'";
			if (std::system(cmd.c_str()) == 0)
				files.push_back(file);
		}
	}
	~Clips()
	{
		for (const std::string &f : files)
			std::remove(f.c_str());
		if (!dir.empty())
			rmdir(dir.c_str());
	}
};

Clips &clips()
{
	static Clips c;
	return c;
}

bool runFfprobe(const std::string &file)
{
	std::string cmd = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "' > /dev/null";
	return std::system(cmd.c_str()) == 0;
}

void BM_ProbeClipDuration(benchmark::State &state)
{
	const auto &files = clips().files;
	if (files.empty()) {
		state.SkipWithError("ffmpeg could not make the clips");
		return;
	}
	size_t i = 0;
	for (auto _ : state) {
		ProbeResult r = probeClipDuration(files[i++ % files.size()]);
		benchmark::DoNotOptimize(r);
	}
}
BENCHMARK(BM_ProbeClipDuration);

// Both ways on the same files in one run; "ratio" is how many probes fit in one ffprobe call.
void BM_ProbeVsFfprobe(benchmark::State &state)
{
	using Clock = std::chrono::steady_clock;
	const auto &files = clips().files;
	if (files.empty()) {
		state.SkipWithError("ffmpeg could not make the clips");
		return;
	}
	double probeNs = 0, ffprobeNs = 0;
	long long rounds = 0;
	for (auto _ : state) {
		for (const std::string &f : files) {
			auto a = Clock::now();
			for (int k = 0; k < 100; ++k) {
				ProbeResult r = probeClipDuration(f);
				benchmark::DoNotOptimize(r);
			}
			auto b = Clock::now();
			if (!runFfprobe(f))
				state.SkipWithError("ffprobe failed");
			auto c = Clock::now();
			probeNs += std::chrono::duration<double, std::nano>(b - a).count() / 100.0;
			ffprobeNs += std::chrono::duration<double, std::nano>(c - b).count();
			++rounds;
		}
	}
	if (rounds > 0 && probeNs > 0) {
		state.counters["probe_us"] = probeNs / rounds / 1000.0;
		state.counters["ffprobe_us"] = ffprobeNs / rounds / 1000.0;
		state.counters["ratio"] = ffprobeNs / probeNs;
	}
}
BENCHMARK(BM_ProbeVsFfprobe)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace
