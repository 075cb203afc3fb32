#include "remote/Remote.h"
#include "remote/RemoteCore.h"

#include "util/ModuleCore.h"

#include <obs.hpp>

#include <QByteArray>
#include <QRunnable>
#include <QThreadPool>

#include <memory>
#include <variant>

// QThreadPool hands a runnable to its thread under a lock inside Qt, which ThreadSanitizer cannot
// see in Debian's uninstrumented Qt; the two calls below state that hand-off for it.
#if defined(__SANITIZE_THREAD__)
#define LUMARK_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUMARK_THREAD_SANITIZER 1
#endif
#endif
#ifdef LUMARK_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#define LUMARK_HANDED_OVER(p) __tsan_release(p)
#define LUMARK_TAKEN_OVER(p) __tsan_acquire(p)
#else
#define LUMARK_HANDED_OVER(p) ((void)(p))
#define LUMARK_TAKEN_OVER(p) ((void)(p))
#endif

namespace remote {

namespace {
// Owned here; created by registerVendor, deleted by closeRemote. One thread keeps the events in order.
QThreadPool *g_eventPool = nullptr;
// At shutdown the queued events get this long: ample for a few small messages to a local client, short
// enough that OBS's exit does not seem to hang when obs-websocket is stuck.
constexpr int kDrainLimitMs = 2000;

class EventRunnable : public QRunnable {
public:
	EventRunnable(QByteArray type, QByteArray json) : type(std::move(type)), json(std::move(json)) {}

	void run() override
	{
		LUMARK_TAKEN_OVER(this);
		if (!openFlag().load())
			return;
		OBSDataAutoRelease data = obs_data_create_from_json(json.constData());
		// obs-websocket reads the object without a null check.
		if (!data)
			data = obs_data_create();
		CallData cd;
		calldata_set_string(cd.get(), "type", type.constData());
		calldata_set_ptr(cd.get(), "data", data.Get());
		callVendorProc("vendor_event_emit", cd.get());
	}

private:
	QByteArray type;
	QByteArray json;
};
} // namespace

void openEventPool()
{
	if (g_eventPool)
		return;
	g_eventPool = new QThreadPool();
	g_eventPool->setMaxThreadCount(1);
}

void drainEventPool()
{
	if (!g_eventPool)
		return;
	const bool drained = g_eventPool->waitForDone(kDrainLimitMs);
	// Whatever is still queued is dropped.
	g_eventPool->clear();
	if (drained) {
		delete g_eventPool;
	} else {
		// An event is stuck in obs-websocket; the pool's destructor would wait for it without
		// limit, so the pool is left to the process's end.
		pluginLog(LOG_WARNING, "an event was still being sent after %d ms; not waiting for it", kDrainLimitMs);
	}
	g_eventPool = nullptr;
}

} // namespace remote

namespace {
using namespace remote;

const char *payload(obs_data_t *data, const EntryEvent &e)
{
	obs_data_set_string(data, keys::SessionId, e.sessionId.c_str());
	obs_data_set_int(data, keys::EntryId, e.entryId);
	obs_data_set_int(data, keys::Kind, e.kind);
	obs_data_set_int(data, keys::TimeMs, e.tMs);
	obs_data_set_string(data, keys::Label, e.label.c_str());
	obs_data_set_int(data, keys::Number, e.number);
	obs_data_set_int(data, keys::ClipState, e.clipState);
	if (e.hasFile)
		obs_data_set_string(data, keys::File, e.file.c_str());
	return e.type == EntryEvent::Type::ClipSaved ? events::ClipSaved : events::Marked;
}

const char *payload(obs_data_t *data, const ReplayStartedEvent &e)
{
	obs_data_set_string(data, keys::File, e.file.c_str());
	obs_data_set_int(data, keys::EntryId, e.entryId);
	obs_data_set_int(data, keys::Seconds, e.seconds);
	obs_data_set_int(data, keys::Speed, e.speed);
	obs_data_set_int(data, keys::LatencyMs, e.latencyMs);
	obs_data_set_int(data, keys::Repeat, e.repeat);
	return events::ReplayStarted;
}

const char *payload(obs_data_t *data, const ReplayEndedEvent &e)
{
	obs_data_set_string(data, keys::File, e.file.c_str());
	obs_data_set_int(data, keys::EntryId, e.entryId);
	return events::ReplayEnded;
}

const char *payload(obs_data_t *data, const RecapClipEvent &e)
{
	obs_data_set_string(data, keys::File, e.file.c_str());
	obs_data_set_string(data, keys::Memo, e.memo.c_str());
	obs_data_set_int(data, keys::Index, e.index);
	obs_data_set_int(data, keys::Count, e.count);
	return events::RecapClip;
}

const char *payload(obs_data_t *data, const SessionEndedEvent &e)
{
	obs_data_set_string(data, keys::SessionId, e.sessionId.c_str());
	obs_data_set_int(data, keys::LengthMs, e.lengthMs);
	return events::SessionEnded;
}

const char *payload(obs_data_t *data, const HighlightsWrittenEvent &e)
{
	obs_data_set_string(data, keys::SessionId, e.sessionId.c_str());
	obs_data_set_string(data, keys::File, e.file.c_str());
	obs_data_set_int(data, keys::Stretches, e.stretches);
	obs_data_set_int(data, keys::DurationMs, e.durationMs);
	return events::HighlightsWritten;
}
} // namespace

std::pair<QString, QString> eventMessage(const EngineEvent &event)
{
	OBSDataAutoRelease data = obs_data_create();
	const char *type = std::visit([&](const auto &e) { return payload(data, e); }, event);
	return {QString::fromUtf8(type), QString::fromUtf8(obs_data_get_json(data))};
}

void sendEngineEvent(const EngineEvent &event)
{
	// Nothing to write while no client can get it.
	if (!remote::openFlag().load() || !remote::vendorHandle())
		return;
	const auto message = eventMessage(event);
	emitVendorEvent(message.first, message.second);
}

void emitVendorEvent(const QString &type, const QString &json)
{
	using namespace remote;
	if (!openFlag().load() || !vendorHandle() || !g_eventPool)
		return;
	auto *runnable = new EventRunnable(type.toUtf8(), json.toUtf8());
	LUMARK_HANDED_OVER(runnable);
	g_eventPool->start(runnable, 0);
}
