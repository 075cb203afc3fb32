#pragma once

// Shared internals of the remote side: module-wide state, the procedure-call helpers, the frame that
// runs a request on the UI thread, and the request table.

#include "util/Utf8.h"

#include <obs.hpp>

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

class Engine;

namespace remote {

extern const char *const kVendorName;

// The Engine that requests, events and marks go to, as handed to openRemote.
Engine &engine();
void setEngine(Engine &engine);

// "text too long (at most N bytes)" with N = kMaxTextBytes, written out when compiling.
constexpr std::array<char, 48> tooLongText()
{
	std::array<char, 48> out{};
	size_t n = 0;
	for (const char *p = "text too long (at most "; *p; ++p)
		out[n++] = *p;
	char digits[20] = {};
	size_t count = 0;
	for (size_t v = kMaxTextBytes; v; v /= 10)
		digits[count++] = char('0' + v % 10);
	while (count)
		out[n++] = digits[--count];
	for (const char *p = " bytes)"; *p; ++p)
		out[n++] = *p;
	return out;
}
inline constexpr std::array<char, 48> kTooLongText = tooLongText();

// Texts sent to clients: fixed, never localised.
namespace errors {
constexpr const char *ShuttingDown = "shutting down";
constexpr const char *NoMark = "not streaming or recording, or no label";
constexpr const char *CannotStart = "今は記録を始められません";
constexpr const char *NoFreeSession = "配信していないときの記録は動いていません";
constexpr const char *NoSession = "no session";
constexpr const char *NoEndedSession = "no such ended session (a running one cannot be removed)";
constexpr const char *NoQuotes = "名言集を書き出せませんでした";
constexpr const char *TooLong = kTooLongText.data();
constexpr const char *ConfigNotSaved = "applied, but config.json could not be written";
constexpr const char *SessionFileStays = "the session file could not be deleted";
constexpr const char *HighlightsBusy = "a highlights video is being written";
constexpr const char *NoHighlights = "no saved clip for a highlights video";
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

// Keys of the wire format: requests, replies and events (docs/remote-api.md).
namespace keys {
constexpr const char *Ok = "ok";
constexpr const char *Error = "error";
constexpr const char *SessionId = "session_id";
constexpr const char *EntryId = "entry_id";
constexpr const char *Label = "label";
constexpr const char *Path = "path";
constexpr const char *Count = "count";
// Fields of the events.
constexpr const char *Kind = "kind";
constexpr const char *TimeMs = "t_ms";
constexpr const char *Number = "number";
constexpr const char *ClipState = "clip_state";
constexpr const char *File = "file";
constexpr const char *Seconds = "seconds";
constexpr const char *Speed = "speed";
constexpr const char *LatencyMs = "latency_ms";
constexpr const char *Repeat = "repeat";
constexpr const char *Memo = "memo";
constexpr const char *Index = "index";
constexpr const char *LengthMs = "length_ms";
constexpr const char *Stretches = "stretches";
constexpr const char *DurationMs = "duration_ms";
// Fields of the requests and their replies.
constexpr const char *Enabled = "enabled";
constexpr const char *Active = "active";
constexpr const char *SizeLimitMb = "size_limit_mb";
constexpr const char *VideoKbps = "video_kbps";
constexpr const char *AudioKbps = "audio_kbps";
constexpr const char *EstimateMb = "estimate_mb";
constexpr const char *CappedBySize = "capped_by_size";
constexpr const char *Buffer = "buffer";
constexpr const char *ViewedId = "viewed_id";
constexpr const char *StreamMs = "stream_ms";
constexpr const char *ReplayState = "replay_state";
constexpr const char *ReplayProblem = "replay_problem";
constexpr const char *ReplayPlaced = "replay_placed";
constexpr const char *ReplayVisible = "replay_visible";
constexpr const char *ReplayLatencyMs = "replay_latency_ms";
constexpr const char *RecordChaptersAdded = "record_chapters_added";
constexpr const char *SavePending = "save_pending";
constexpr const char *Message = "message";
constexpr const char *Mode = "mode";
constexpr const char *AgoMs = "ago_ms";
constexpr const char *Chapter = "chapter";
constexpr const char *Ms = "ms";
constexpr const char *Url = "url";
constexpr const char *Files = "files";
constexpr const char *AddToCurrent = "add_to_current";
constexpr const char *Running = "running";
constexpr const char *ChapterText = "chapter_text";
constexpr const char *ExportFolder = "export_folder";
constexpr const char *Problem = "problem";
constexpr const char *Sec = "sec";
constexpr const char *Issues = "issues";
constexpr const char *ChaptersOk = "chapters_ok";
constexpr const char *Id = "id";
constexpr const char *Sessions = "sessions";
constexpr const char *Current = "current";
constexpr const char *Viewed = "viewed";
} // namespace keys

// Event types.
namespace events {
constexpr const char *Marked = "Marked";
constexpr const char *ClipSaved = "ClipSaved";
constexpr const char *ReplayStarted = "ReplayStarted";
constexpr const char *ReplayEnded = "ReplayEnded";
constexpr const char *RecapClip = "RecapClip";
constexpr const char *SessionEnded = "SessionEnded";
constexpr const char *HighlightsWritten = "HighlightsWritten";
} // namespace events

// What a request answers, returned by its handler: "ok", the reason ("error") when there is one, and
// the handler's own fields. Written into obs-websocket's reply once the handler has returned.
class Result {
public:
	static Result okIf(bool ok);
	static Result success() { return okIf(true); }
	static Result failure(const char *error);

	bool ok() const { return succeeded; }
	// "error" is sent whatever "ok" says.
	Result &withError(const QString &error);
	// The handler's own fields; made on first use.
	obs_data_t *data();
	Result &setInt(const char *key, long long value);
	Result &setText(const char *key, const QString &text);

	void writeTo(obs_data_t *reply) const;

private:
	bool succeeded = true;
	bool hasError = false;
	std::string error;
	OBSData fields; // a copy of the result shares them
};

// Request frame. Runs body on the UI thread (blocking the calling thread until it has run; directly
// when already there) and returns its result; "shutting down" when the remote side is closed, before
// or while waiting.
Result onUiThread(const std::function<Result()> &body);

// Typed field readers: a missing string reads as empty, a missing integer as 0, a missing bool as false.
QString readString(obs_data_t *request, const char *key);
long long readInt(obs_data_t *request, const char *key);
bool readBool(obs_data_t *request, const char *key);
// A label, address or name to keep: nothing when it is longer than kMaxTextBytes, which the request
// refuses with errors::TooLong.
std::optional<QString> readText(obs_data_t *request, const char *key);

// "session_id" of a request, when one was given and names a file of our own folder; an id with path
// characters is refused so that it behaves like an id that names no session.
struct SessionField {
	QString id;
	bool given = false;  // non-empty in the request
	bool usable = false; // given and a plain file name
};
SessionField sessionField(obs_data_t *request);

// onUiThread on the session the request names, made the viewed one first ("no session" when it names
// none); without a name, on whatever session is viewed.
Result onSession(const SessionField &session, const std::function<Result()> &body);

using RequestHandler = Result (*)(obs_data_t *request);

struct RequestDef {
	const char *name;
	RequestHandler handler;
};

// The requests in registration order.
const RequestDef *requestTable(size_t *count);

// Event thread.
void openEventPool();
void drainEventPool();

} // namespace remote
