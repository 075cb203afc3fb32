// Running, viewing, reading and removing sessions.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "lists/ChapterCheck.h"
#include "lists/Lists.h"
#include "session/SessionStore.h"

#include <obs.hpp>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace remote {

namespace {
void setText(obs_data_t *data, const char *key, const QString &text)
{
	obs_data_set_string(data, key, text.toUtf8().constData());
}

// A reply for a long session is thousands of small blocks, built here and freed on obs-websocket's
// threads once it has been turned into text there. glibc keeps such freed pages in each thread's
// arena, and replies that grow with every mark never quite fit the holes the last ones left, so a
// client polling the session raised OBS's resident memory with each mark. The pages are handed back
// a moment after the replies, at most once a second.
void releaseFreedPagesSoon()
{
#if defined(__GLIBC__)
	static std::atomic<bool> pending{false};
	if (pending.exchange(true))
		return;
	QTimer::singleShot(1000, QCoreApplication::instance(), [] {
		pending.store(false);
		malloc_trim(0);
	});
#endif
}

void writeSession(obs_data_t *reply, const Session &session)
{
	// Straight into the reply: a copy in between doubled the blocks of every reply.
	writeSessionData(reply, session);
	obs_data_set_bool(reply, "active", !session.isEnded());
	obs_data_set_string(reply, "chapter_text", chapterText(session, "\n").c_str());
	setText(reply, "export_folder", exportFolder(session));
	const auto issues = checkChapters(session);
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &issue : issues) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_int(item, "problem", static_cast<long long>(issue.problem));
		obs_data_set_int(item, "index", issue.index);
		obs_data_set_int(item, "sec", issue.sec);
		obs_data_array_push_back(array, item);
	}
	obs_data_set_array(reply, "issues", array);
	obs_data_set_bool(reply, "chapters_ok", issues.empty());
	writeOk(reply, true);
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
	runOnUiThread(reply, [&]() {
		Session *session = nullptr;
		if (field.given)
			session = field.usable ? engine().findSession(field.id) : nullptr;
		else if (!(session = engine().currentSession()))
			session = engine().viewedSession();
		if (session) {
			writeSession(reply, *session);
			releaseFreedPagesSoon();
		} else
			writeFailure(reply, errors::NoSession);
	});
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
