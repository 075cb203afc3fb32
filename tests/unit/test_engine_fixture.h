#pragma once

// Shared set-up of the Engine tests: a fresh Engine on settable clocks, a temporary config folder,
// the frontend stand-in, and captured events and log lines.

#include "FrontendDouble.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "remote/Remote.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <gtest/gtest.h>
#include <obs.hpp>
#include <util/base.h>
#include <util/config-file.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

struct NotifyRecord {
	QString type;
	QJsonObject data;
};

class EngineTest : public ::testing::Test {
public:
	// For tests with an Engine of their own.
	static void setClocks(Engine &e, Engine::Clock monotonicNs, Engine::Clock wallMs)
	{
		e.setClocks(std::move(monotonicNs), std::move(wallMs));
	}
	static QStringList loadedSessionIds(const Engine &e) { return e.loadedSessionIds(); }
	static void waitForWrites(Engine &e) { e.waitForWrites(); }
	static void flushSaves(Engine &e) { e.flushSaves(); }
	static const QTimer &retryTimer(const SessionCache &cache) { return cache.saveRetry; }
	static const QTimer &tickTimer(const FreshClipWatch &watch) { return watch.timer; }
	static void setStatus(Engine &e, const QString &text) { e.setStatus(text); }

protected:
	TempConfigDir config;
	QTemporaryDir work;
	Settings savedSettings;
	long long monoNs = 5000LL * 1000000000LL;
	long long wall = 0;
	std::unique_ptr<Engine> engine;
	std::vector<NotifyRecord> events;
	int statusSignals = 0;
	int sessionSignals = 0;

	void SetUp() override
	{
		FrontendDouble::reset();
		savedSettings = settings();
		settings() = Settings();
		settings().export_dir = work.path() + "/lists";
		// Its worker would hold the clips against renames; the highlights tests switch it on.
		settings().highlights_video = false;
		wall = QDateTime(QDate(2026, 5, 1), QTime(20, 0, 0)).toMSecsSinceEpoch();
		setBuffer(20);
		engine = std::make_unique<Engine>();
		engine->setClocks([this] { return monoNs; }, [this] { return wall; });
		QObject::connect(engine.get(), &Engine::notify, [this](const EngineEvent &event) {
			const auto message = eventMessage(event);
			events.push_back({message.first, QJsonDocument::fromJson(message.second.toUtf8()).object()});
		});
		QObject::connect(engine.get(), &Engine::statusChanged, [this] { ++statusSignals; });
		QObject::connect(engine.get(), &Engine::sessionChanged, [this] { ++sessionSignals; });
	}

	void TearDown() override
	{
		engine.reset();
		settings() = savedSettings;
		FrontendDouble::reset();
	}

	// Simple output mode with the replay buffer switched on for that many seconds.
	void setBuffer(long long seconds)
	{
		config_t *profile = FrontendDouble::profileConfig();
		config_set_string(profile, "Output", "Mode", "Simple");
		config_set_bool(profile, "SimpleOutput", "RecRB", true);
		config_set_int(profile, "SimpleOutput", "RecRBTime", seconds);
	}

	void ready() { engine->onFinishedLoading(); }
	void flushSaves() { engine->flushSaves(); }
	void renameTick() { engine->renameTick(); }

	// Steps that otherwise run from the Engine's timers or inside a save.
	void saveTimesOut() { engine->onSaveTimeout(); }
	void trimLoadedSessions() { engine->trimLoadedSessions(); }
	void scheduleRename(long long entryId, long long delayMs)
	{
		engine->scheduleRename(EntryRef{engine->currentSessionId(), entryId}, delayMs);
	}
	void clipRange(Entry &entry, long long requestWallMs) { engine->clipRange(entry, requestWallMs); }
	MemoryReplay &memoryReplay() { return engine->playback.memory; }

	// The Engine's queues and timers, read where a test checks what is pending.
	const std::vector<EntryRef> &waitingPressRefs() const { return engine->waitingPresses; }
	const std::vector<EntryRef> &pendingPressRefs() const { return engine->pendingPresses; }
	const std::vector<RenameJob> &renameQueue() const { return engine->renames.queued(); }
	const std::vector<RemuxRename> &remuxQueue() const { return engine->renames.remux; }
	const std::vector<long long> &saveLatencyHistory() const { return engine->saveLatencies; }
	long long bufferStartedAtWallMs() const { return engine->buffer.startWallMs(); }
	const QTimer &saveTimeoutTimer() const { return engine->saveTimeout; }
	const QTimer &renameTimerRef() const { return engine->renames.timer; }
	const QTimer &saveDelayTimer() const { return engine->cache.saveDelay; }
	const QTimer &exportDelayTimer() const { return engine->sessionExports.exportDelay; }
	const QTimer &saveRetryTimer() const { return engine->cache.saveRetry; }
	const std::vector<FreshClip> &freshClipQueue() const { return engine->freshWatch.watched(); }
	const QTimer &sessionTrimTimer() const { return engine->sessionTrim; }
	const std::set<QString> &dirtySessionIds() const { return engine->cache.dirtySessions; }
	const std::set<QString> &dirtyExportIds() const { return engine->sessionExports.dirtyIds(); }
	void setFileOps(Engine::FileRenamer renamer, Engine::FileHeldCheck held)
	{
		engine->setFileOps(std::move(renamer), std::move(held));
	}
	void setSaveNamer(Engine::SaveNamer namer) { engine->setSaveNamer(std::move(namer)); }
	void waitForHighlights() { engine->sessionExports.waitForHighlights(); }
	void waitForWrites() { engine->waitForWrites(); }
	QStringList loadedSessionIds() const { return engine->loadedSessionIds(); }

	void advance(long long ms)
	{
		monoNs += ms * 1000000LL;
		wall += ms;
	}

	Session &current()
	{
		Session *s = engine->currentSession();
		EXPECT_NE(s, nullptr);
		return *s;
	}

	Entry &entry(long long id)
	{
		Session *s = engine->currentSession() ? engine->currentSession() : engine->viewedSession();
		Entry *e = s ? s->findEntry(id) : nullptr;
		EXPECT_NE(e, nullptr) << "entry " << id;
		static Entry none;
		return e ? *e : none;
	}

	// OBS names each save in dir after the clock second of the request, as its default format does.
	void nameSavesIn(const QString &dir, const QString &ext = QStringLiteral("mkv"))
	{
		setSaveNamer([this, dir, ext] {
			return dir +
			       QDateTime::fromMSecsSinceEpoch(wall).toString(
				   QStringLiteral("'/Replay 'yyyy-MM-dd hh-mm-ss.")) +
			       ext;
		});
	}

	// OBS answers a save request with this file.
	void obsSaved(const QString &path)
	{
		FrontendDouble::state().lastReplayPath = path.toStdString();
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED);
	}

	int eventCount(const QString &type) const
	{
		int n = 0;
		for (const auto &e : events)
			n += e.type == type ? 1 : 0;
		return n;
	}

	const NotifyRecord *lastEvent(const QString &type) const
	{
		for (auto it = events.rbegin(); it != events.rend(); ++it)
			if (it->type == type)
				return &*it;
		return nullptr;
	}

	QString sessionFile(const std::string &id) const
	{
		return config.path() + "/sessions/" + QString::fromStdString(id) + ".json";
	}

	static QString msg(const char *key, const QString &a = QString(), const QString &b = QString())
	{
		QString text = QString::fromUtf8(moduleText(key));
		text.replace(QStringLiteral("%1"), a);
		text.replace(QStringLiteral("%2"), b);
		return text;
	}
};
