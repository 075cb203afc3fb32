// libFuzzer entry for the vendor requests, called with random JSON through the stand-in for
// obs-websocket, mixed with the frontend events that change what they act on.
// Input: records of [selector][length][JSON bytes]; a selector below the number of requests names a
// request in registration order, the others a frontend event. Each input runs on a fresh Engine in an empty
// configuration folder, so every crash replays from its input alone.
#include "FrontendDouble.h"
#include "WebsocketStandIn.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "util/ModuleCore.h"
#include "remote/Remote.h"
#include "remote/RemoteCore.h"
#include "session/SessionStore.h"

#include <obs.hpp>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// The steps of the Engine's rename and save timers, which run here on every input's own clock.
class EngineTest {
public:
	static void timerSteps(Engine &engine)
	{
		engine.renameTick();
		engine.flushSaves();
	}
};

namespace {

// Requests in the table; the selectors after them are the frontend events.
constexpr size_t kRequests = 24;
constexpr int kFrontendEvents = 4;

void check(bool ok)
{
	if (!ok)
		__builtin_trap();
}

struct World {
	QTemporaryDir config;
	QTemporaryDir exports;
	std::string clip;
};

World *world = nullptr;

void emptyFolder(const QString &path)
{
	QDir dir(path);
	dir.removeRecursively();
	QDir().mkpath(path);
}

void frontendEvent(Engine &engine, int which)
{
	FrontendDouble::State &st = FrontendDouble::state();
	switch (which) {
	case 0:
		st.streaming = !st.streaming;
		st.streaming ? engine.followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED)
			     : engine.followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
		break;
	case 1:
		st.recording = !st.recording;
		st.recording ? engine.followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED)
			     : engine.followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
		break;
	case 2:
		st.replayBufferActive = true;
		st.lastReplayPath = world->clip;
		engine.followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED);
		break;
	default:
		EngineTest::timerSteps(engine);
		engine.exports().flush();
		break;
	}
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
	setenv("QT_QPA_PLATFORM", "offscreen", 0);
	static QApplication *app = new QApplication(*argc, *argv);
	(void)app;
	if (!obs_startup("en-US", nullptr, nullptr)) {
		fprintf(stderr, "libobs did not start (is there an X display?)\n");
		abort();
	}
	setModuleDataDirForTesting(LUMARK_SOURCE_DIR "/data");
	setModuleLocale("en-US");
	world = new World();
	setModuleConfigDirForTesting(world->config.path().toStdString());
	// A small file standing in for a saved clip; the renames move it, so it is written per input.
	world->clip = (world->exports.path() + "/Replay 2026-01-01 00-00-00.mkv").toStdString();
	WebsocketStandIn::install();
	registerAddMarkProc();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	emptyFolder(world->config.path());
	emptyFolder(world->exports.path());
	if (FILE *f = fopen(world->clip.c_str(), "wb")) {
		fputs("not really a video", f);
		fclose(f);
	}
	FrontendDouble::reset();
	settings() = Settings();
	settings().export_dir = world->exports.path();

	size_t count = 0;
	const remote::RequestDef *table = remote::requestTable(&count);
	check(count == kRequests);

	auto engine = std::make_unique<Engine>();
	openRemote(*engine);
	engine->onFinishedLoading();
	registerVendor();

	for (size_t at = 0; at + 2 <= size;) {
		const int selector = data[at] % (int(kRequests) + kFrontendEvents);
		const size_t len = std::min<size_t>(data[at + 1], size - at - 2);
		std::string json(reinterpret_cast<const char *>(data + at + 2), len);
		at += 2 + len;
		if (selector >= int(kRequests)) {
			frontendEvent(*engine, selector - int(kRequests));
		} else {
			OBSDataAutoRelease request = obs_data_create_from_json(json.c_str());
			// A client may name any folder; this run writes only into its own.
			if (request && obs_data_has_user_value(request, "export_dir"))
				obs_data_set_string(request, "export_dir", world->exports.path().toUtf8().constData());
			const std::string sent = request ? obs_data_get_json(request) : json;
			OBSData reply = WebsocketStandIn::call(table[selector].name, sent);
			check(reply != nullptr);
			// Every request answers whether it did what was asked, and says why not.
			check(obs_data_has_user_value(reply, "ok"));
			if (!obs_data_get_bool(reply, "ok") && obs_data_has_user_value(reply, "error"))
				check(*obs_data_get_string(reply, "error") != '\0');
		}
		QCoreApplication::processEvents();
	}

	engine->shutdown();
	resetRemoteForTesting();
	WebsocketStandIn::install();
	engine.reset();
	settings() = Settings();
	return 0;
}
