#include "remote/Remote.h"
#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <QMetaObject>
#include <QThread>

namespace remote {

const char *const kVendorName = "kelvaro-lumark";

namespace {
// Written once on the UI thread in registerVendor, before any request can arrive.
proc_handler_t *g_websocketHandler = nullptr;
void *g_vendor = nullptr;
QMetaObject::Connection g_notifyConnection;

const RequestDef kRequests[] = {
    {"Press", requestPress},
    {"AddMark", requestAddMark},
    {"StartFreeSession", requestStartFreeSession},
    {"EndFreeSession", requestEndFreeSession},
    {"GetSession", requestGetSession},
    {"ListSessions", requestListSessions},
    {"ViewSession", requestViewSession},
    {"RemoveSession", requestRemoveSession},
    {"SetLabel", requestSetLabel},
    {"SetChapter", requestSetChapter},
    {"RemoveEntry", requestRemoveEntry},
    {"SetShift", requestSetShift},
    {"SetArchiveUrl", requestSetArchiveUrl},
    {"DropShortChapters", requestDropShortChapters},
    {"Export", requestExport},
    {"ExportQuotes", requestExportQuotes},
    {"GetStatus", requestGetStatus},
    {"ReplayEntry", requestReplayEntry},
    {"StopReplay", requestStopReplay},
    {"SetupReplayScene", requestSetupReplayScene},
    {"SetupRecapScene", requestSetupRecapScene},
    {"GetRecapStatus", requestGetRecapStatus},
    {"SetConfig", requestSetConfig},
    {"ExportHighlights", requestExportHighlights},
};

proc_handler_t *findWebsocketHandler()
{
	if (g_websocketHandler)
		return g_websocketHandler;
	CallData cd;
	if (proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", cd.get()))
		g_websocketHandler = static_cast<proc_handler_t *>(calldata_ptr(cd.get(), "ph"));
	return g_websocketHandler;
}

// The one callback obs-websocket calls for every request; priv is the request's entry in kRequests.
void answerRequest(obs_data_t *request, obs_data_t *reply, void *priv)
{
	static_cast<const RequestDef *>(priv)->handler(request).writeTo(reply);
}

bool registerRequest(const RequestDef &def)
{
	// obs-websocket copies the record, so it may live on the stack.
	struct {
		void (*callback)(obs_data_t *, obs_data_t *, void *);
		void *priv;
	} record{answerRequest, const_cast<RequestDef *>(&def)};
	CallData cd;
	calldata_set_string(cd.get(), "type", def.name);
	calldata_set_ptr(cd.get(), "callback", &record);
	return callVendorProc("vendor_request_register", cd.get());
}
} // namespace

namespace {
// Set before the remote side opens; request threads read it only while it is open.
std::atomic<Engine *> g_engine{nullptr};
} // namespace

Engine &engine()
{
	return *g_engine.load();
}

void setEngine(Engine &target)
{
	g_engine.store(&target);
}

std::atomic<bool> &openFlag()
{
	static std::atomic<bool> flag{false};
	return flag;
}

proc_handler_t *websocketHandler()
{
	return g_websocketHandler;
}

void *vendorHandle()
{
	return g_vendor;
}

const RequestDef *requestTable(size_t *count)
{
	*count = sizeof(kRequests) / sizeof(kRequests[0]);
	return kRequests;
}

bool callVendorProc(const char *proc, calldata_t *cd)
{
	if (!g_websocketHandler || !g_vendor)
		return false;
	calldata_set_ptr(cd, "vendor", g_vendor);
	proc_handler_call(g_websocketHandler, proc, cd);
	return calldata_bool(cd, "success");
}

Result Result::okIf(bool ok)
{
	Result result;
	result.succeeded = ok;
	return result;
}

Result Result::failure(const char *error)
{
	Result result;
	result.succeeded = false;
	result.hasError = true;
	result.error = error;
	return result;
}

Result &Result::withError(const QString &text)
{
	hasError = true;
	error = toUtf8(text);
	return *this;
}

obs_data_t *Result::data()
{
	if (!fields)
		fields = OBSDataAutoRelease(obs_data_create()).Get();
	return fields;
}

Result &Result::setInt(const char *key, long long value)
{
	obs_data_set_int(data(), key, value);
	return *this;
}

Result &Result::setText(const char *key, const QString &text)
{
	obs_data_set_string(data(), key, text.toUtf8().constData());
	return *this;
}

void Result::writeTo(obs_data_t *reply) const
{
	if (fields)
		obs_data_apply(reply, fields);
	obs_data_set_bool(reply, keys::Ok, succeeded);
	if (hasError)
		obs_data_set_string(reply, keys::Error, error.c_str());
}

Result onUiThread(const std::function<Result()> &body)
{
	Result result = Result::failure(errors::ShuttingDown);
	if (!openFlag().load())
		return result;
	// closeRemote may run between the check above and the moment the UI thread gets to the body.
	auto guarded = [&]() {
		if (openFlag().load())
			result = body();
	};
	Engine &target = engine();
	if (QThread::currentThread() == target.thread())
		guarded();
	else
		QMetaObject::invokeMethod(&target, guarded, Qt::BlockingQueuedConnection);
	return result;
}

bool tooLong(const QString &text)
{
	// A UTF-16 unit takes one to three UTF-8 bytes, so most texts need no conversion.
	const size_t units = size_t(text.size());
	if (units > kMaxTextBytes)
		return true;
	if (units * 3 <= kMaxTextBytes)
		return false;
	return size_t(text.toUtf8().size()) > kMaxTextBytes;
}

QString readString(obs_data_t *request, const char *key)
{
	return QString::fromUtf8(request ? obs_data_get_string(request, key) : "");
}

long long readInt(obs_data_t *request, const char *key)
{
	return request ? obs_data_get_int(request, key) : 0;
}

bool readBool(obs_data_t *request, const char *key)
{
	return request && obs_data_get_bool(request, key);
}

std::optional<QString> readText(obs_data_t *request, const char *key)
{
	QString text = readString(request, key);
	if (tooLong(text))
		return std::nullopt;
	return text;
}

SessionField sessionField(obs_data_t *request)
{
	SessionField field;
	field.id = readString(request, keys::SessionId);
	field.given = !field.id.isEmpty();
	field.usable = field.given && isPlainSessionId(field.id.toStdString());
	return field;
}

Result onSession(const SessionField &session, const std::function<Result()> &body)
{
	return onUiThread([&]() {
		if (!session.given)
			return body();
		if (session.usable)
			engine().viewSession(session.id);
		// A session the client named but that does not exist must not let the edit fall through to
		// whatever session the dock happens to show.
		if (!session.usable || engine().viewedSessionId() != session.id)
			return Result::failure(errors::NoSession);
		return body();
	});
}

} // namespace remote

using namespace remote;

void registerVendor()
{
	if (!findWebsocketHandler()) {
		pluginLog(LOG_INFO, "obs-websocket not found, no vendor requests");
		return;
	}
	if (!g_vendor) {
		CallData cd;
		calldata_set_string(cd.get(), "name", kVendorName);
		proc_handler_call(g_websocketHandler, "vendor_register", cd.get());
		g_vendor = calldata_ptr(cd.get(), "vendor");
	}
	if (!g_vendor) {
		pluginLog(LOG_WARNING, "could not register the obs-websocket vendor");
		return;
	}

	int registered = 0;
	for (const RequestDef &def : kRequests)
		if (registerRequest(def))
			++registered;

	openEventPool();
	QObject::disconnect(g_notifyConnection);
	if (Engine *target = g_engine.load())
		g_notifyConnection =
		    QObject::connect(target, &Engine::notify, target, &sendEngineEvent, Qt::DirectConnection);

	pluginLog(LOG_INFO, "obs-websocket vendor %s ready (%d requests)", kVendorName, registered);
}

void closeRemote()
{
	openFlag().exchange(false);
	QObject::disconnect(g_notifyConnection);
	g_notifyConnection = {};
	drainEventPool();
}

bool isRemoteOpen()
{
	return openFlag().load();
}

void resetRemoteForTesting()
{
	closeRemote();
	g_websocketHandler = nullptr;
	g_vendor = nullptr;
}
