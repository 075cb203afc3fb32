// Instant replay, scene setup and the recap.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "util/Paths.h"
#include "playback/Recap.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"

namespace remote {

namespace {
// The set-up's message goes in "error" whether or not it succeeded.
Result setupResult(bool ok, const QString &message)
{
	return Result::okIf(ok).withError(message);
}
} // namespace

Result requestReplayEntry(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const long long entryId = readInt(request, keys::EntryId);
	return onSession(
	    session, [&]() { return Result::okIf(engine().players().replayEntry(engine().viewedSession(), entryId)); });
}

Result requestStopReplay(obs_data_t *)
{
	return onUiThread([]() {
		engine().players().stopReplay();
		return Result::success();
	});
}

Result requestSetupReplayScene(obs_data_t *request)
{
	const bool addToCurrent = readBool(request, keys::AddToCurrent);
	return onUiThread([&]() {
		QString message;
		bool ok = makeReplayScene(message);
		if (ok && addToCurrent)
			ok = addReplaySceneToCurrent(message);
		return setupResult(ok, message);
	});
}

Result requestSetupRecapScene(obs_data_t *request)
{
	const bool addToCurrent = readBool(request, keys::AddToCurrent);
	return onUiThread([&]() {
		QString message;
		const bool ok = setupRecapScene(engine().players().recap(), addToCurrent, message);
		return setupResult(ok, message);
	});
}

Result requestGetRecapStatus(obs_data_t *)
{
	return onUiThread([]() {
		const RecapStatus status = engine().players().recap().status();
		Result result = Result::success();
		obs_data_t *data = result.data();
		obs_data_set_bool(data, keys::Running, status.running);
		obs_data_set_string(data, keys::SessionId, status.sessionId.toUtf8().constData());
		obs_data_set_int(data, keys::Count, status.count);
		obs_data_set_int(data, keys::Index, status.index);
		obs_data_set_string(data, keys::File, fileNameOf(status.currentFile.toStdString()).c_str());
		obs_data_set_string(data, keys::Memo, status.currentMemo.toUtf8().constData());
		return result;
	});
}

} // namespace remote
