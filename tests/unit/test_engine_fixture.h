#pragma once

// Shared set-up of the Engine tests: a fresh Engine on settable clocks, a temporary config folder,
// the frontend stand-in, and captured events and log lines.

#include "FrontendDouble.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"
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
		wall = QDateTime(QDate(2026, 5, 1), QTime(20, 0, 0)).toMSecsSinceEpoch();
		setBuffer(20);
		engine = std::make_unique<Engine>();
		engine->setClocks([this] { return monoNs; }, [this] { return wall; });
		QObject::connect(engine.get(), &Engine::notify, [this](const QString &type, const QString &json) {
			events.push_back({type, QJsonDocument::fromJson(json.toUtf8()).object()});
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

	// Steps that otherwise run from the Engine's timers or inside a save.
	void saveTimesOut() { engine->onSaveTimeout(); }
	void trimLoadedSessions() { engine->trimLoadedSessions(); }
	void scheduleRename(long long entryId, long long delayMs)
	{
		engine->scheduleRename(EntryRef{engine->currentSessionId(), entryId}, delayMs);
	}
	void clipRange(Entry &entry, long long requestWallMs) { engine->clipRange(entry, requestWallMs); }
	MemoryReplay &memoryReplay() { return engine->memory; }

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
		engine->setSaveNamer([this, dir, ext] {
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
		engine->onReplayBufferSaved();
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
