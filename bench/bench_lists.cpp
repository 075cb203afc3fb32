// List builders over sessions of growing size; each should grow linearly with the entries.
#include "lists/Lists.h"
#include "ShippedTexts.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

Session makeListSession(int count)
{
	Session s;
	s.id = "2026-05-01_20-00-00";
	s.prefix = "2026-05-01 20-00";
	s.shift_ms = 10000;
	s.archive_url = "https://www.youtube.com/watch?v=abc123DEF45";
	s.end_wall_ms = 1;
	s.length_ms = int64_t(count) * 7000 + 60000;
	int64_t lastOwner = 0;
	for (int i = 0; i < count; ++i) {
		Entry e;
		e.t_ms = int64_t(i) * 7000;
		switch (i % 5) {
		case 0:
			e.kind = EntryKind::Scene;
			e.label = "Scene " + std::to_string(i);
			break;
		case 4:
			e.kind = EntryKind::Song;
			e.label = "曲, \"title\" " + std::to_string(i);
			break;
		default:
			e.kind = EntryKind::Press;
			e.label = i % 2 ? "いい所 " + std::to_string(i) : std::string();
			e.chapter = i % 3 == 0;
			e.clip.state = ClipState::Saved;
			e.clip.start_ms = e.t_ms - 20000;
			e.clip.end_ms = e.t_ms;
			if (i % 5 == 2 && lastOwner) {
				e.clip.shared_with = lastOwner;
			} else {
				e.clip.path = "C:\\Users\\me\\Videos\\Replay " + std::to_string(i) + ".mkv";
			}
		}
		const int64_t id = s.addEntry(e).id;
		if (e.kind == EntryKind::Press && e.clip.shared_with == 0)
			lastOwner = id;
	}
	return s;
}

void BM_BuildCsvText(benchmark::State &state)
{
	const Session s = makeListSession(int(state.range(0)));
	static const ExportTexts texts = shippedTexts("ja-JP");
	for (auto _ : state)
		benchmark::DoNotOptimize(buildCsvText(s, texts));
	state.SetComplexityN(state.range(0));
}

void BM_BuildNotesText(benchmark::State &state)
{
	const Session s = makeListSession(int(state.range(0)));
	static const ExportTexts texts = shippedTexts("ja-JP");
	for (auto _ : state)
		benchmark::DoNotOptimize(buildNotesText(s, texts));
	state.SetComplexityN(state.range(0));
}

void BM_ChapterList(benchmark::State &state)
{
	const Session s = makeListSession(int(state.range(0)));
	for (auto _ : state)
		benchmark::DoNotOptimize(chapterList(s));
	state.SetComplexityN(state.range(0));
}

void BM_ChapterText(benchmark::State &state)
{
	const Session s = makeListSession(int(state.range(0)));
	for (auto _ : state)
		benchmark::DoNotOptimize(chapterText(s, "\r\n"));
	state.SetComplexityN(state.range(0));
}

} // namespace

// The machine running these is often shared; with --benchmark_repetitions the minimum is the
// figure least disturbed by other work.
static double fastest(const std::vector<double> &v)
{
	return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

#define LUMARK_LIST_BENCH(fn)                                                                                          \
	BENCHMARK(fn)                                                                                                  \
	    ->Arg(200)                                                                                                 \
	    ->Arg(2000)                                                                                                \
	    ->Arg(20000)                                                                                               \
	    ->Unit(benchmark::kMicrosecond)                                                                            \
	    ->Complexity(benchmark::oN)                                                                                \
	    ->ComputeStatistics("min", fastest)

LUMARK_LIST_BENCH(BM_BuildCsvText);
LUMARK_LIST_BENCH(BM_BuildNotesText);
LUMARK_LIST_BENCH(BM_ChapterList);
LUMARK_LIST_BENCH(BM_ChapterText);
