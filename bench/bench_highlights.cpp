// The highlights video of 20 marks (720p30, 6 Mbps, 20 s each) against copying the same bytes with cp.
#include "playback/HighlightCopy.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Session20 {
	std::string dir;
	std::vector<HighlightPiece> pieces;

	Session20()
	{
		char tmpl[] = "/tmp/lumark-bench-highlights-XXXXXX";
		if (!mkdtemp(tmpl))
			return;
		dir = tmpl;
		// As OBS's replay buffer writes them: H.264 with B-frames, a keyframe every 2 s, AAC, Matroska.
		const std::string first = dir + "/clip0.mkv";
		const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30:duration=30 "
					"-f lavfi -i sine=duration=30 -c:v libx264 -preset ultrafast -bf 2 -g 60 "
					"-b:v 6M -maxrate 6M -bufsize 12M -c:a aac -b:a 160k '" +
					first + "'";
		if (std::system(cmd.c_str()) != 0)
			return;
		for (int i = 0; i < 20; ++i) {
			const std::string clip = dir + "/clip" + std::to_string(i) + ".mkv";
			if (i > 0 && std::system(("cp '" + first + "' '" + clip + "'").c_str()) != 0)
				return;
			pieces.push_back({clip, 10000, 30000, "mark " + std::to_string(i + 1)});
		}
	}
	~Session20()
	{
		if (!dir.empty())
			std::system(("rm -rf '" + dir + "'").c_str());
	}
};

void BM_HighlightsOf20MarksVsCp(benchmark::State &state)
{
	using Clock = std::chrono::steady_clock;
	static Session20 session;
	if (session.pieces.size() != 20) {
		state.SkipWithError("ffmpeg could not make the clips");
		return;
	}
	std::atomic<bool> cancel{false};
	double copySec = 0, cpSec = 0, bytes = 0;
	for (auto _ : state) {
		const auto a = Clock::now();
		HighlightCopyResult r = copyHighlights(session.pieces, session.dir, cancel);
		const auto b = Clock::now();
		if (!r.ok) {
			state.SkipWithError(r.error.c_str());
			return;
		}
		const std::string copy = session.dir + "/cp-copy";
		const auto c = Clock::now();
		const int cp = std::system(("cp '" + r.tempPath + "' '" + copy + "'").c_str());
		const auto d = Clock::now();
		struct stat st = {};
		stat(r.tempPath.c_str(), &st);
		bytes = double(st.st_size);
		std::remove(r.tempPath.c_str());
		std::remove(copy.c_str());
		if (cp != 0) {
			state.SkipWithError("cp failed");
			return;
		}
		copySec += std::chrono::duration<double>(b - a).count();
		cpSec += std::chrono::duration<double>(d - c).count();
	}
	const double n = double(state.iterations());
	state.counters["video_s"] = copySec / n;
	state.counters["cp_s"] = cpSec / n;
	state.counters["ratio"] = cpSec > 0 ? copySec / cpSec : 0;
	state.counters["MB"] = bytes / 1e6;
}
BENCHMARK(BM_HighlightsOf20MarksVsCp)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
