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
void setText(obs_data_t *data, const char *key, const QString &text)
{
	obs_data_set_string(data, key, text.toUtf8().constData());
}

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

void writeSnapshotExtras(obs_data_t *reply, const SessionSnapshot &snap)
{
	obs_data_set_bool(reply, "active", snap.active);
	obs_data_set_string(reply, "chapter_text", snap.chapterText.c_str());
	obs_data_set_string(reply, "export_folder", snap.exportFolder.c_str());
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &issue : snap.issues) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_int(item, "problem", static_cast<long long>(issue.problem));
		obs_data_set_int(item, "index", issue.index);
		obs_data_set_int(item, "sec", issue.sec);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(reply, "issues", array);
	obs_data_set_bool(reply, "chapters_ok", snap.issues.empty());
	writeOk(reply, true);
}

Session *pickSession(const SessionField &field)
{
	if (field.given)
		return field.usable ? engine().findSession(field.id) : nullptr;
	if (Session *running = engine().currentSession())
		return running;
	return engine().viewedSession();
}
} // namespace

void requestStartFreeSession(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		if (engine().startFreeSession())
			writeOk(reply, true);
		else
			writeFailure(reply, errors::CannotStart);
	});
}

void requestEndFreeSession(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		if (engine().endFreeSession())
			writeOk(reply, true);
		else
			writeFailure(reply, errors::NoFreeSession);
	});
}

void requestGetSession(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField field = sessionField(request);
	SessionSnapshot snap;
	bool found = false;
	runOnUiThread(reply, [&]() {
		if (const Session *session = pickSession(field)) {
			snap = takeSnapshot(*session);
			found = true;
		} else
			writeFailure(reply, errors::NoSession);
	});
	if (!found)
		return;
	// The text is the session file's, which reads back through this same parser.
	OBSDataAutoRelease data = obs_data_create_from_json(snap.json.c_str());
	std::string().swap(snap.json);
	if (data)
		obs_data_apply(reply, data);
	else {
		pluginLog(LOG_WARNING, "GetSession: the session's text did not parse, building the reply in place");
		runOnUiThread(reply, [&]() {
			const Session *session = pickSession(field);
			if (session)
				writeSessionData(reply, *session);
			else
				writeFailure(reply, errors::NoSession);
			found = session != nullptr;
		});
		if (!found)
			return;
	}
	writeSnapshotExtras(reply, snap);
	releaseFreedPagesSoon(snap.marks);
}

void requestListSessions(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const QString &id : engine().sessionIds()) {
			OBSDataAutoRelease item = obs_data_create();
			setText(item, "id", id);
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(reply, "sessions", array);
		setText(reply, "current", engine().currentSessionId());
		setText(reply, "viewed", engine().viewedSessionId());
		writeOk(reply, true);
	});
}

void requestViewSession(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField field = sessionField(request);
	runOnUiThread(reply, [&]() {
		// An empty id is passed on: it clears the view, which then equals the id asked for.
		if (!field.given || field.usable)
			engine().viewSession(field.id);
		writeOk(reply, engine().viewedSessionId() == field.id);
	});
}

void requestRemoveSession(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField field = sessionField(request);
	runOnUiThread(reply, [&]() {
		if (field.usable && engine().removeSession(field.id)) {
			writeOk(reply, true);
			return;
		}
		// An ended session that is still there was refused by the file system.
		const Session *left = field.usable ? engine().findSession(field.id) : nullptr;
		const bool fileStays = left && left->isEnded() && field.id != engine().currentSessionId();
		writeFailure(reply, fileStays ? errors::SessionFileStays : errors::NoEndedSession);
	});
}

} // namespace remote
