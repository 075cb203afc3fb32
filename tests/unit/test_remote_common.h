#pragma once

// Shared by the remote-control tests: a fixture that puts the stand-in for
// obs-websocket in place and opens the remote side.

#include "FrontendDouble.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "WebsocketStandIn.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "remote/Remote.h"
#include "session/SessionStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Own namespace: other test files have helpers of the same names.
namespace remote_test {

class RemoteFixture : public ::testing::Test {
protected:
	void SetUp() override
	{
		WebsocketStandIn::install();
		owned = std::make_unique<Engine>();
		engine = owned.get();
		openRemote(*engine);
		registerAddMarkProc();
	}
	void TearDown() override
	{
		resetRemoteForTesting();
		owned.reset();
	}

	std::unique_ptr<Engine> owned;
	Engine *engine = nullptr;
};

// That Engine made ready, with no session running, its files in a temporary folder.
class RemoteEngineFixture : public RemoteFixture {
protected:
	void SetUp() override
	{
		RemoteFixture::SetUp();
		FrontendDouble::reset();
		savedSettings = settings();
		settings().export_dir = exportDir.path();
		engine->onFinishedLoading();
		registerVendor();
	}

	void TearDown() override
	{
		endAnySession();
		RemoteFixture::TearDown();
		settings() = savedSettings;
		FrontendDouble::reset();
	}

	void endAnySession()
	{
		FrontendDouble::state().streaming = false;
		FrontendDouble::state().recording = false;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
		engine->endFreeSession();
	}

	void startStream()
	{
		FrontendDouble::state().streaming = true;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		ASSERT_NE(engine->currentSession(), nullptr);
	}

	// A stored, ended session with a few marks; returns its id.
	QString storedSession(const char *id, std::vector<std::pair<long long, const char *>> marks)
	{
		Session s;
		s.id = id;
		s.prefix = id;
		s.source = SessionSource::Stream;
		s.start_wall_ms = 1700000000000;
		s.end_wall_ms = 1700003600000;
		s.length_ms = 3600000;
		for (const auto &m : marks) {
			Entry e;
			e.kind = EntryKind::Song;
			e.t_ms = m.first;
			e.label = m.second;
			s.addEntry(e);
		}
		EXPECT_TRUE(saveSession(s));
		return QString::fromUtf8(id);
	}

	static OBSData call(const std::string &name, const std::string &json = "{}")
	{
		OBSData reply = WebsocketStandIn::callOffThread(name, json);
		EXPECT_NE(reply.Get(), nullptr) << name;
		if (!reply)
			return OBSData(OBSDataAutoRelease(obs_data_create()).Get());
		return reply;
	}

	static bool ok(obs_data_t *reply) { return obs_data_get_bool(reply, "ok"); }
	static std::string error(obs_data_t *reply) { return obs_data_get_string(reply, "error"); }

	Entry *entry(long long id)
	{
		Session *s = engine->currentSession();
		return s ? s->findEntry(id) : nullptr;
	}

	TempConfigDir config;
	QTemporaryDir exportDir;
	Settings savedSettings;
	long long fakeNs = 1000000000000LL; // for tests that put the Engine on a clock of their own
};

} // namespace remote_test
