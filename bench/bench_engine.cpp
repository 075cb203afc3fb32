// The press path, outside marks and one rename tick on sessions of realistic size.
#include "FrontendDouble.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "util/ModuleCore.h"

#include <benchmark/benchmark.h>
#include <obs.h>
#include <util/base.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdarg>
#include <memory>

namespace {

void quietLog(int, const char *, va_list, void *) {}

// libobs, Qt and a config folder once for the whole run; log lines are dropped.
struct World {
	int argc = 1;
	char name[16] = "lumark-bench";
	char *argv[2] = {name, nullptr};
	std::unique_ptr<QCoreApplication> app;
	QTemporaryDir dir;

	World()
	{
		app = std::make_unique<QCoreApplication>(argc, argv);
		obs_startup("en-US", nullptr, nullptr);
		base_set_log_handler(quietLog, nullptr);
		setModuleConfigDirForTesting(dir.path().toStdString());
		settings().export_dir = dir.path() + "/lists";
		settings().press_replay = false;
	}
};

World &world()
{
	static World w;
	return w;
}

struct FakeClock {
	long long mono = 100000LL * 1000000000LL;
	long long wall = 1777777777000LL;
	void advance(long long ms)
	{
		mono += ms * 1000000LL;
		wall += ms;
	}
};

} // namespace

// The steps a benchmark drives that otherwise run only from the Engine's timers.
class EngineBench {
public:
	static void setClocks(Engine &e, Engine::Clock mono, Engine::Clock wall)
	{
		e.setClocks(std::move(mono), std::move(wall));
	}
	static void startSession(Engine &e, SessionSource source, long long ns) { e.startSession(source, ns); }
	static void scheduleRename(Engine &e, long long id, long long delayMs)
	{
		e.scheduleRename(EntryRef{e.currentSessionId(), id}, delayMs);
	}
	static void holdAllFiles(Engine &e)
	{
		e.setFileOps(nullptr, [](const QString &) { return true; });
	}
	static void renameTick(Engine &e) { e.renameTick(); }
	static double renamesQueued(const Engine &e) { return double(e.renames.queued().size()); }
};

namespace {

// An engine with a running session that already holds n entries, one per second.
std::unique_ptr<Engine> engineWithSession(FakeClock &clock, SessionSource source, int n)
{
	world();
	FrontendDouble::reset();
	auto engine = std::make_unique<Engine>();
	EngineBench::setClocks(
	    *engine, [&clock] { return clock.mono; }, [&clock] { return clock.wall; });
	engine->onFinishedLoading();
	EngineBench::startSession(*engine, source, clock.mono);
	Session *s = engine->currentSession();
	for (int i = 0; i < n; ++i) {
		Entry e;
		e.kind = EntryKind::Press;
		e.t_ms = (long long)i * 1000;
		e.wall_ms = clock.wall + e.t_ms;
		e.label = "Lumark " + std::to_string(i);
		s->addEntry(std::move(e));
	}
	clock.advance((long long)n * 1000);
	return engine;
}

void trimTo(benchmark::State &state, Session &s, size_t n)
{
	if (s.entries.size() < n + 1000)
		return;
	state.PauseTiming();
	s.entries.resize(n);
	state.ResumeTiming();
}

void BM_PressMarkOnly(benchmark::State &state)
{
	FakeClock clock;
	auto engine = engineWithSession(clock, SessionSource::Free, 5000);
	Session &s = *engine->currentSession();
	for (auto _ : state) {
		clock.advance(700);
		benchmark::DoNotOptimize(engine->press(PressMode::MarkOnly, QString()));
		trimTo(state, s, 5000);
	}
}
BENCHMARK(BM_PressMarkOnly);

// A press that asks for a clip while a save is in flight: it joins the waiting presses.
void BM_PressWithClip(benchmark::State &state)
{
	FakeClock clock;
	auto engine = engineWithSession(clock, SessionSource::Free, 5000);
	FrontendDouble::state().replayBufferActive = true;
	Session &s = *engine->currentSession();
	for (auto _ : state) {
		clock.advance(700);
		benchmark::DoNotOptimize(engine->press(PressMode::Default, QStringLiteral("label")));
		trimTo(state, s, 5000);
	}
}
BENCHMARK(BM_PressWithClip);

void BM_AddMark(benchmark::State &state)
{
	FakeClock clock;
	auto engine = engineWithSession(clock, SessionSource::Stream, 5000);
	Session &s = *engine->currentSession();
	long long i = 0;
	for (auto _ : state) {
		clock.advance(2500);
		benchmark::DoNotOptimize(engine->addMark(EntryKind::Song, QStringLiteral("song %1").arg(++i), 0, 0));
		trimTo(state, s, 5000);
	}
}
BENCHMARK(BM_AddMark);

// The same mark sent again at once: found as a duplicate, nothing added.
void BM_AddMarkDuplicate(benchmark::State &state)
{
	FakeClock clock;
	auto engine = engineWithSession(clock, SessionSource::Stream, 5000);
	engine->addMark(EntryKind::Song, QStringLiteral("same"), 0, 0);
	for (auto _ : state)
		benchmark::DoNotOptimize(engine->addMark(EntryKind::Song, QStringLiteral("same"), 0, 0));
}
BENCHMARK(BM_AddMarkDuplicate);

// 500 saved clips in a session of 5000 entries, every job due.
struct RenameSetup {
	FakeClock clock;
	std::unique_ptr<Engine> engine;
	QTemporaryDir clips;
	std::vector<long long> owners;

	RenameSetup()
	{
		engine = engineWithSession(clock, SessionSource::Stream, 4500);
		Session *s = engine->currentSession();
		for (int i = 0; i < 500; ++i) {
			Entry e;
			e.t_ms = 4500000 + (long long)i * 1000;
			e.clip.state = ClipState::Saved;
			owners.push_back(s->addEntry(std::move(e)).id);
		}
	}

	void placeFiles()
	{
		Session *s = engine->currentSession();
		QDir(clips.path()).removeRecursively();
		QDir().mkpath(clips.path());
		for (size_t i = 0; i < owners.size(); ++i) {
			const QString path = clips.path() + QStringLiteral("/Replay %1.mkv").arg(i);
			QFile f(path);
			f.open(QIODevice::WriteOnly);
			s->findEntry(owners[i])->clip.path = path.toStdString();
		}
	}

	void queueAll()
	{
		for (long long id : owners)
			EngineBench::scheduleRename(*engine, id, 0);
	}
};

// Every clip is held by a player: 500 lookups and retries.
void BM_RenameTick500Held(benchmark::State &state)
{
	RenameSetup setup;
	setup.placeFiles();
	EngineBench::holdAllFiles(*setup.engine);
	setup.queueAll();
	for (auto _ : state) {
		setup.clock.advance(5000);
		EngineBench::renameTick(*setup.engine);
	}
	state.counters["queued"] = EngineBench::renamesQueued(*setup.engine);
}
BENCHMARK(BM_RenameTick500Held)->Iterations(100);

// 500 clips held by a player, queued over five seconds, at the timer's one-second pace: each tick
// retries the fifth that is due and passes over the rest.
void BM_RenameTick500HeldPaced(benchmark::State &state)
{
	RenameSetup setup;
	setup.placeFiles();
	EngineBench::holdAllFiles(*setup.engine);
	for (size_t i = 0; i < setup.owners.size(); ++i)
		EngineBench::scheduleRename(*setup.engine, setup.owners[i], (long long)(i % 5) * 1000);
	for (auto _ : state) {
		setup.clock.advance(1000);
		EngineBench::renameTick(*setup.engine);
	}
	state.counters["queued"] = EngineBench::renamesQueued(*setup.engine);
}
BENCHMARK(BM_RenameTick500HeldPaced)->Iterations(100);

// Every clip gets its name: 500 real renames in one tick.
void BM_RenameTick500Renamed(benchmark::State &state)
{
	RenameSetup setup;
	for (auto _ : state) {
		state.PauseTiming();
		setup.placeFiles();
		setup.queueAll();
		state.ResumeTiming();
		EngineBench::renameTick(*setup.engine);
	}
	state.counters["left"] = EngineBench::renamesQueued(*setup.engine);
}
BENCHMARK(BM_RenameTick500Renamed)->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace
