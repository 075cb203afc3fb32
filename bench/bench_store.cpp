// Session files: a long session written and read back, the listing of a crowded folder, and the
// quotes file over many stored sessions.
#include "config/Settings.h"
#include "engine/Engine.h"
#include "lists/Lists.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <benchmark/benchmark.h>
#include <obs.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

Session makeStoredSession(int count)
{
	Session s;
	s.id = "2026-05-01_20-00-00";
	s.prefix = "2026-05-01 20-00";
	s.start_wall_ms = 1777000000000LL;
	s.archive_url = "https://www.youtube.com/watch?v=abc123DEF45";
	for (int i = 0; i < count; ++i) {
		Entry e;
		e.kind = i % 4 ? EntryKind::Press : EntryKind::Scene;
		e.t_ms = int64_t(i) * 7000;
		e.wall_ms = s.start_wall_ms + e.t_ms;
		e.label = i % 2 ? "ラベル \"quoted\" " + std::to_string(i) : "Scene";
		if (e.kind == EntryKind::Press) {
			e.clip.state = ClipState::Saved;
			e.clip.path = "C:\\Users\\me\\Videos\\Replay " + std::to_string(i) + ".mkv";
			e.clip.start_ms = e.t_ms - 20000;
			e.clip.end_ms = e.t_ms;
			e.clip.saved_wall_ms = e.wall_ms + 900;
		}
		s.addEntry(e);
	}
	return s;
}

struct BenchConfigDir {
	QTemporaryDir dir;
	BenchConfigDir() { setModuleConfigDirForTesting(dir.path().toStdString()); }
	~BenchConfigDir() { setModuleConfigDirForTesting(std::string()); }
};

void BM_SaveAndLoadSession(benchmark::State &state)
{
	BenchConfigDir config;
	const Session s = makeStoredSession(int(state.range(0)));
	for (auto _ : state) {
		if (!saveSession(s)) {
			state.SkipWithError("save failed");
			break;
		}
		Session back;
		if (!loadSession(s.id, back) || back.entries.size() != s.entries.size()) {
			state.SkipWithError("load failed");
			break;
		}
	}
}

void BM_SaveSession(benchmark::State &state)
{
	BenchConfigDir config;
	const Session s = makeStoredSession(int(state.range(0)));
	for (auto _ : state)
		benchmark::DoNotOptimize(saveSession(s));
}

void BM_LoadSession(benchmark::State &state)
{
	BenchConfigDir config;
	const Session s = makeStoredSession(int(state.range(0)));
	saveSession(s);
	for (auto _ : state) {
		Session back;
		benchmark::DoNotOptimize(loadSession(s.id, back));
	}
}

void BM_ListSessionIds(benchmark::State &state)
{
	BenchConfigDir config;
	const std::string folder = sessionsFolder();
	QDir().mkpath(QString::fromStdString(folder));
	char name[64];
	for (int i = 0; i < state.range(0); ++i) {
		snprintf(name, sizeof(name), "/%04d-%02d-%02d_20-00-00.json", 2000 + i / 365, 1 + (i / 28) % 12,
			 1 + i % 28);
		QFile f(QString::fromStdString(folder + name));
		f.open(QIODevice::WriteOnly);
		f.write("{}");
		// Companions are skipped by the listing but still cost a look.
		if (i % 10 == 0) {
			QFile bak(QString::fromStdString(folder + name + ".bak"));
			bak.open(QIODevice::WriteOnly);
		}
	}
	for (auto _ : state)
		benchmark::DoNotOptimize(listSessionIds());
}

} // namespace

// Shared machines disturb single runs; with --benchmark_repetitions the minimum is the steadiest.
static double fastest(const std::vector<double> &v)
{
	return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

BENCHMARK(BM_SaveAndLoadSession)->Arg(2000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_SaveSession)->Arg(2000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_LoadSession)->Arg(2000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ListSessionIds)->Arg(5000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);

// The quotes file reads every stored session once (cold) and then works from memory (warm).
namespace {

void ensureHost()
{
	static int argc = 1;
	static char name[] = "lumark-bench";
	static char *argv[] = {name, nullptr};
	static QCoreApplication *app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
	(void)app;
	if (!obs_initialized())
		obs_startup("en-US", nullptr, nullptr);
}

void storeQuotedSessions(int count)
{
	for (int i = 0; i < count; ++i) {
		Session s;
		char id[64];
		snprintf(id, sizeof(id), "%04d-%02d-%02d_20-00-00", 2000 + i / 336, 1 + (i / 28) % 12, 1 + i % 28);
		s.id = id;
		s.prefix = id;
		s.start_wall_ms = 946728000000LL + int64_t(i) * 86400000LL;
		s.end_wall_ms = s.start_wall_ms + 3600000;
		s.length_ms = 3600000;
		for (int k = 0; k < 10; ++k) {
			Entry e;
			e.kind = k % 3 ? EntryKind::Press : EntryKind::Scene;
			e.t_ms = int64_t(k) * 60000;
			e.label = k % 2 ? "quote\tnumber " + std::to_string(k) : std::string();
			s.addEntry(e);
		}
		saveSession(s);
	}
}

void BM_WriteQuotesFileCold(benchmark::State &state)
{
	ensureHost();
	BenchConfigDir config;
	settings().export_dir = config.dir.path() + "/out";
	storeQuotedSessions(int(state.range(0)));
	for (auto _ : state) {
		state.PauseTiming();
		auto engine = std::make_unique<Engine>();
		state.ResumeTiming();
		if (engine->exports().exportQuotes().isEmpty()) {
			state.SkipWithError("quotes file not written");
			break;
		}
		state.PauseTiming();
		engine.reset();
		state.ResumeTiming();
	}
	settings().export_dir.clear();
}

void BM_WriteQuotesFileWarm(benchmark::State &state)
{
	ensureHost();
	BenchConfigDir config;
	settings().export_dir = config.dir.path() + "/out";
	storeQuotedSessions(int(state.range(0)));
	Engine engine;
	engine.exports().exportQuotes();
	for (auto _ : state) {
		if (engine.exports().exportQuotes().isEmpty()) {
			state.SkipWithError("quotes file not written");
			break;
		}
	}
	settings().export_dir.clear();
}

} // namespace

BENCHMARK(BM_WriteQuotesFileCold)->Arg(1000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_WriteQuotesFileWarm)->Arg(1000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
