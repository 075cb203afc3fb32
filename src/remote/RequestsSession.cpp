// Running, viewing, reading and removing sessions.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "lists/ChapterCheck.h"
#include "lists/Lists.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <obs.hpp>

#include <string>
#include <vector>

namespace remote {

namespace {
// What a reply needs from a session, taken on the UI thread in a handful of blocks. The reply itself
// is built on obs-websocket's thread: thousands of short-lived blocks made on the UI thread landed
// between the blocks the UI keeps, which then held those pages resident for good.
struct SessionSnapshot {
	std::string json;
	size_t marks = 0;
	bool active = false;
	std::string chapterText;
	std::string exportFolder;
	std::vector<ChapterIssue> issues;
};

SessionSnapshot takeSnapshot(const Session &session)
{
	SessionSnapshot snap;
	snap.json = sessionToJson(session);
	snap.marks = session.entries.size();
	snap.active = !session.isEnded();
	snap.chapterText = chapterText(session, "\n");
	snap.exportFolder = exportFolder(session).toStdString();
	snap.issues = checkChapters(session);
	return snap;
}

Result resultWithExtras(Result result, const SessionSnapshot &snap)
{
	obs_data_t *data = result.data();
	obs_data_set_bool(data, keys::Active, snap.active);
	obs_data_set_string(data, keys::ChapterText, snap.chapterText.c_str());
	obs_data_set_string(data, keys::ExportFolder, snap.exportFolder.c_str());
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &issue : snap.issues) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_int(item, keys::Problem, static_cast<long long>(issue.problem));
		obs_data_set_int(item, keys::Index, issue.index);
		obs_data_set_int(item, keys::Sec, issue.sec);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(data, keys::Issues, array);
	obs_data_set_bool(data, keys::ChaptersOk, snap.issues.empty());
	return result;
}

Session *pickSession(const SessionField &field)
{
	if (field.given)
		return field.usable ? engine().findSession(field.id) : nullptr;
	if (Session *running = engine().currentSession())
		return running;
	return engine().viewedSession();
}

// The session's fields as in its file. The text is the session file's, which reads back through this
// same parser; should it not, the fields are written from the session itself on the UI thread.
Result sessionResult(const SessionField &field, SessionSnapshot &snap)
{
	Result result = Result::success();
	OBSDataAutoRelease data = obs_data_create_from_json(snap.json.c_str());
	std::string().swap(snap.json);
	if (data) {
		obs_data_apply(result.data(), data);
		return result;
	}
	pluginLog(LOG_WARNING, "GetSession: the session's text did not parse, building the reply in place");
	return onUiThread([&]() {
		const Session *session = pickSession(field);
		if (!session)
			return Result::failure(errors::NoSession);
		writeSessionData(result.data(), *session);
		return std::move(result);
	});
}
} // namespace

Result requestStartFreeSession(obs_data_t *)
{
	return onUiThread(
	    []() { return engine().startFreeSession() ? Result::success() : Result::failure(errors::CannotStart); });
}

Result requestEndFreeSession(obs_data_t *)
{
	return onUiThread(
	    []() { return engine().endFreeSession() ? Result::success() : Result::failure(errors::NoFreeSession); });
}

Result requestGetSession(obs_data_t *request)
{
	const SessionField field = sessionField(request);
	SessionSnapshot snap;
	const Result found = onUiThread([&]() {
		const Session *session = pickSession(field);
		if (!session)
			return Result::failure(errors::NoSession);
		snap = takeSnapshot(*session);
		return Result::success();
	});
	if (!found.ok())
		return found;
	Result result = sessionResult(field, snap);
	if (!result.ok())
		return result;
	releaseFreedPagesSoon(snap.marks);
	return resultWithExtras(std::move(result), snap);
}

Result requestListSessions(obs_data_t *)
{
	return onUiThread([]() {
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const QString &id : engine().sessionIds()) {
			OBSDataAutoRelease item = obs_data_create();
			obs_data_set_string(item, keys::Id, id.toUtf8().constData());
			obs_data_array_push_back(array, item);
		}
		Result result = Result::success();
		obs_data_set_array(result.data(), keys::Sessions, array);
		result.setText(keys::Current, engine().currentSessionId());
		result.setText(keys::Viewed, engine().viewedSessionId());
		return result;
	});
}

Result requestViewSession(obs_data_t *request)
{
	const SessionField field = sessionField(request);
	return onUiThread([&]() {
		// An empty id is passed on: it clears the view, which then equals the id asked for.
		if (!field.given || field.usable)
			engine().viewSession(field.id);
		return Result::okIf(engine().viewedSessionId() == field.id);
	});
}

Result requestRemoveSession(obs_data_t *request)
{
	const SessionField field = sessionField(request);
	return onUiThread([&]() {
		if (field.usable && engine().removeSession(field.id))
			return Result::success();
		// An ended session that is still there was refused by the file system.
		const Session *left = field.usable ? engine().findSession(field.id) : nullptr;
		const bool fileStays = left && left->isEnded() && field.id != engine().currentSessionId();
		return Result::failure(fileStays ? errors::SessionFileStays : errors::NoEndedSession);
	});
}

} // namespace remote
