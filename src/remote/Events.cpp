#include "remote/Remote.h"
#include "remote/RemoteCore.h"

#include "module/ModuleCore.h"

#include <obs.hpp>

#include <QByteArray>
#include <QRunnable>
#include <QThreadPool>

#include <memory>

namespace remote {

namespace {
// Owned here; created by registerVendor, deleted by closeRemote. One thread keeps the events in order.
QThreadPool *g_eventPool = nullptr;
constexpr int kDrainLimitMs = 2000;

class EventRunnable : public QRunnable {
public:
	EventRunnable(QByteArray type, QByteArray json) : type(std::move(type)), json(std::move(json)) {}

	void run() override
	{
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

void emitVendorEvent(const QString &type, const QString &json)
{
	using namespace remote;
	if (!openFlag().load() || !vendorHandle() || !g_eventPool)
		return;
	g_eventPool->start(new EventRunnable(type.toUtf8(), json.toUtf8()), 0);
}
