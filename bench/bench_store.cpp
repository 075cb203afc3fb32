// Session files: a long session written and read back, and the listing of a crowded folder.
#include "module/ModuleCore.h"
#include "session/SessionStore.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

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

BENCHMARK(BM_SaveAndLoadSession)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSession)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSession)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListSessionIds)->Arg(5000)->Unit(benchmark::kMillisecond);
