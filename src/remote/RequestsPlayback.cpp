// Instant replay, scene setup and the recap.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "playback/Recap.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"

namespace remote {

namespace {
void writeSetup(obs_data_t *reply, bool ok, const QString &message)
{
	writeOk(reply, ok);
	obs_data_set_string(reply, "error", message.toUtf8().constData());
}
} // namespace

void requestReplayEntry(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const long long entryId = intField(request, "entry_id");
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		writeOk(reply, engine().replayEntry(entryId));
	});
}

void requestStopReplay(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		engine().stopReplay();
		writeOk(reply, true);
	});
}

void requestSetupReplayScene(obs_data_t *request, obs_data_t *reply, void *)
{
	const bool addToCurrent = boolField(request, "add_to_current");
	runOnUiThread(reply, [&]() {
		QString message;
		bool ok = makeReplayScene(message);
		if (ok && addToCurrent)
			ok = addReplaySceneToCurrent(message);
		writeSetup(reply, ok, message);
	});
}

void requestSetupRecapScene(obs_data_t *request, obs_data_t *reply, void *)
{
	const bool addToCurrent = boolField(request, "add_to_current");
	runOnUiThread(reply, [&]() {
		QString message;
		const bool ok = setupRecapScene(engine().recapPlayer(), addToCurrent, message);
		writeSetup(reply, ok, message);
	});
}

void requestGetRecapStatus(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		const RecapStatus status = engine().recapPlayer().status();
		obs_data_set_bool(reply, "running", status.running);
		obs_data_set_string(reply, "session_id", status.sessionId.toUtf8().constData());
		obs_data_set_int(reply, "count", status.count);
		obs_data_set_int(reply, "index", status.index);
		obs_data_set_string(reply, "file", fileNameOf(status.currentFile.toStdString()).c_str());
		obs_data_set_string(reply, "memo", status.currentMemo.toUtf8().constData());
		writeOk(reply, true);
	});
}

} // namespace remote
