#include "remote/Remote.h"
#include "remote/RemoteCore.h"

#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "util/ModuleCore.h"

#include <util/platform.h>

#include <QMetaObject>
#include <QSemaphore>
#include <QThread>

#include <memory>

namespace {

const char *const kAddMarkDecl = "void kelvaro_lumark_add_mark(in string label, in string kind, out int entry_id)";
// Callers are scripts and plug-ins blocked on their own threads; half a second is about as long as they can
// stall unnoticed, and a mark added later still lands at the time of the call.
constexpr int kReplyLimitMs = 500;

// Shared by the caller and the queued call; whoever lets go last frees it.
struct Reply {
	QSemaphore done{0};
	long long entryId = 0;
};

void procAddMark(void *, calldata_t *cd)
{
	// The mark belongs to this moment, however long the UI thread takes to add it.
	const long long callNs = static_cast<long long>(os_gettime_ns());
	const char *labelText = calldata_string(cd, remote::keys::Label);
	QString label = QString::fromUtf8(labelText ? labelText : "");
	const char *kindText = calldata_string(cd, remote::keys::Kind);
	const EntryKind kind = kindFromText(kindText ? kindText : "");

	if (!remote::openFlag().load() || remote::tooLong(label)) {
		calldata_set_int(cd, remote::keys::EntryId, 0);
		return;
	}

	Engine *engine = &remote::engine();
	if (QThread::currentThread() == engine->thread()) {
		calldata_set_int(cd, remote::keys::EntryId, engine->addMark(kind, label, callNs, 0));
		return;
	}

	auto reply = std::make_shared<Reply>();
	QMetaObject::invokeMethod(
	    engine,
	    [engine, reply, kind, label, callNs]() {
		    // Runs on the Engine's own thread, so the Engine is still alive.
		    if (remote::openFlag().load())
			    reply->entryId = engine->addMark(kind, label, callNs, 0);
		    reply->done.release();
	    },
	    Qt::QueuedConnection);
	label.clear();

	if (reply->done.tryAcquire(1, kReplyLimitMs)) {
		calldata_set_int(cd, remote::keys::EntryId, reply->entryId);
	} else {
		pluginLog(LOG_INFO, "proc: the UI thread was busy, the mark is added later");
		calldata_set_int(cd, remote::keys::EntryId, -1);
	}
}

} // namespace

void openRemote(Engine &engine)
{
	remote::setEngine(engine);
	remote::openFlag().exchange(true);
}

void registerAddMarkProc()
{
	// libobs cannot remove a procedure; a second add would only log a warning.
	static bool added = false;
	if (added)
		return;
	added = true;
	proc_handler_add(obs_get_proc_handler(), kAddMarkDecl, procAddMark, nullptr);
}
