#pragma once

// Shared internals of the remote side: module-wide state, the procedure-call helpers, the frame that
// runs a request on the UI thread, and the request table.

#include "util/Utf8.h"

#include <obs.h>

#include <QString>

#include <atomic>
#include <functional>
#include <string>

class Engine;

namespace remote {

extern const char *const kVendorName;

// The Engine that requests, events and marks go to, as handed to openRemote.
Engine &engine();
void setEngine(Engine &engine);

// Texts sent to clients: fixed, never localised.
namespace errors {
constexpr const char *ShuttingDown = "shutting down";
constexpr const char *NoMark = "not streaming or recording, or no label";
constexpr const char *CannotStart = "今は記録を始められません";
constexpr const char *NoFreeSession = "配信していないときの記録は動いていません";
constexpr const char *NoSession = "no session";
constexpr const char *NoEndedSession = "no such ended session (a running one cannot be removed)";
constexpr const char *NoQuotes = "名言集を書き出せませんでした";
constexpr const char *TooLong = "text too long (at most 4096 bytes)";
constexpr const char *ConfigNotSaved = "applied, but config.json could not be written";
constexpr const char *SessionFileStays = "the session file could not be deleted";
} // namespace errors

// Longer than kMaxTextBytes.
bool tooLong(const QString &text);

// True from module load until closeRemote; read on every thread.
std::atomic<bool> &openFlag();

// obs-websocket's procedure handler and our vendor handle; null until found/registered.
proc_handler_t *websocketHandler();
void *vendorHandle();

// Owns a calldata for one procedure call.
class CallData {
public:
	CallData() { calldata_init(&cd); }
	~CallData() { calldata_free(&cd); }
	CallData(const CallData &) = delete;
	CallData &operator=(const CallData &) = delete;
	calldata_t *get() { return &cd; }

private:
	calldata_t cd;
};

// Adds "vendor" to the calldata, calls the procedure on obs-websocket's handler and reads "success".
// False without calling anything when obs-websocket or the vendor is missing.
bool callVendorProc(const char *proc, calldata_t *cd);

// Request frame. Runs body on the UI thread (blocking the calling thread until it has run; directly
// when already there). When the remote side is closed, before or while waiting, writes the
// "shutting down" failure instead and returns false.
bool runOnUiThread(obs_data_t *reply, const std::function<void()> &body);

void writeFailure(obs_data_t *reply, const char *error);
void writeOk(obs_data_t *reply, bool ok);

// Typed field readers: a missing string reads as empty, a missing integer as 0, a missing bool as false.
QString stringField(obs_data_t *request, const char *key);
long long intField(obs_data_t *request, const char *key);
bool boolField(obs_data_t *request, const char *key);

// "session_id" of a request, when one was given and names a file of our own folder; an id with path
// characters is refused so that it behaves like an id that names no session.
struct SessionField {
	QString id;
	bool given = false;  // non-empty in the request
	bool usable = false; // given and a plain file name
};
SessionField sessionField(obs_data_t *request);

// On the UI thread, inside a body: makes the requested session the viewed one when an id was given.
// False, with "no session" in the reply, when the given id names no session.
bool selectSession(obs_data_t *reply, const SessionField &field);

using RequestCallback = void (*)(obs_data_t *request, obs_data_t *reply, void *priv);

struct RequestDef {
	const char *name;
	RequestCallback callback;
};

// The 23 requests in registration order.
const RequestDef *requestTable(size_t *count);

// Event thread.
void openEventPool();
void drainEventPool();

} // namespace remote
