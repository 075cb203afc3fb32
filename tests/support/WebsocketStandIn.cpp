#include "WebsocketStandIn.h"

#include "TestSupport.h"
#include "remote/Remote.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <map>
#include <mutex>

namespace WebsocketStandIn {

namespace {

struct RequestCallback {
	void (*callback)(obs_data_t *, obs_data_t *, void *);
	void *priv;
};

struct Vendor {
	std::string name;
};

struct StandIn {
	std::mutex mutex;
	proc_handler_t *handler = nullptr;
	bool present = true;
	bool refuseVendor = false;
	int emitDelayMs = 0;
	std::vector<std::string> refusedRequests;
	int getPhCalls = 0;
	// Vendor records stay allocated for the whole run: the plug-in may hold a pointer from an
	// earlier test until it is reset.
	std::vector<std::unique_ptr<Vendor>> vendors;
	std::vector<std::string> liveVendors;
	std::vector<std::string> requestOrder;
	std::map<std::string, RequestCallback> requests;
	std::vector<Event> events;
};

StandIn &standIn()
{
	static StandIn *s = new StandIn(); // lives until the process ends, like the procedures
	return *s;
}

bool isUiThread()
{
	return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

Vendor *vendorOf(calldata_t *cd)
{
	auto *v = static_cast<Vendor *>(calldata_ptr(cd, "vendor"));
	StandIn &s = standIn();
	for (const auto &owned : s.vendors)
		if (owned.get() == v)
			return v;
	return nullptr;
}

void getPh(void *, calldata_t *cd)
{
	StandIn &s = standIn();
	std::lock_guard<std::mutex> lock(s.mutex);
	++s.getPhCalls;
	if (s.present)
		calldata_set_ptr(cd, "ph", s.handler);
}

void vendorRegister(void *, calldata_t *cd)
{
	StandIn &s = standIn();
	std::lock_guard<std::mutex> lock(s.mutex);
	const char *name = calldata_string(cd, "name");
	if (s.refuseVendor || !name || !*name)
		return;
	for (const std::string &live : s.liveVendors)
		if (live == name)
			return; // obs-websocket refuses a second vendor of the same name
	s.vendors.push_back(std::make_unique<Vendor>(Vendor{name}));
	s.liveVendors.push_back(name);
	calldata_set_ptr(cd, "vendor", s.vendors.back().get());
}

void vendorRequestRegister(void *, calldata_t *cd)
{
	StandIn &s = standIn();
	std::lock_guard<std::mutex> lock(s.mutex);
	calldata_set_bool(cd, "success", false);
	const char *type = calldata_string(cd, "type");
	auto *cb = static_cast<RequestCallback *>(calldata_ptr(cd, "callback"));
	if (!vendorOf(cd) || !type || !*type || !cb || s.requests.count(type))
		return;
	for (const std::string &refused : s.refusedRequests)
		if (refused == type)
			return;
	s.requests[type] = *cb; // copied, as obs-websocket does
	s.requestOrder.push_back(type);
	calldata_set_bool(cd, "success", true);
}

void vendorEventEmit(void *, calldata_t *cd)
{
	StandIn &s = standIn();
	int delay;
	{
		std::lock_guard<std::mutex> lock(s.mutex);
		delay = s.emitDelayMs;
	}
	if (delay > 0)
		std::this_thread::sleep_for(std::chrono::milliseconds(delay));
	std::lock_guard<std::mutex> lock(s.mutex);
	Vendor *v = vendorOf(cd);
	const char *type = calldata_string(cd, "type");
	void *data = nullptr;
	if (!v || !type || !calldata_get_ptr(cd, "data", &data)) {
		calldata_set_bool(cd, "success", false);
		return;
	}
	Event e;
	e.vendor = v->name;
	e.type = type;
	e.json = data ? obs_data_get_json(static_cast<obs_data_t *>(data)) : "null";
	e.onUiThread = isUiThread();
	s.events.push_back(std::move(e));
	calldata_set_bool(cd, "success", true);
}

} // namespace

void install()
{
	StandIn &s = standIn();
	resetRemoteForTesting();
	std::lock_guard<std::mutex> lock(s.mutex);
	if (!s.handler) {
		s.handler = proc_handler_create();
		proc_handler_add(s.handler, "void vendor_register(in string name, out ptr vendor)", vendorRegister,
				 nullptr);
		proc_handler_add(
		    s.handler,
		    "void vendor_request_register(in ptr vendor, in string type, in ptr callback, out bool success)",
		    vendorRequestRegister, nullptr);
		proc_handler_add(s.handler,
				 "void vendor_event_emit(in ptr vendor, in string type, in ptr data, out bool success)",
				 vendorEventEmit, nullptr);
		proc_handler_add(obs_get_proc_handler(), "void obs_websocket_api_get_ph(out ptr ph)", getPh, nullptr);
	}
	s.present = true;
	s.refuseVendor = false;
	s.emitDelayMs = 0;
	s.refusedRequests.clear();
	s.getPhCalls = 0;
	s.liveVendors.clear();
	s.requestOrder.clear();
	s.requests.clear();
	s.events.clear();
}

void setPresent(bool present)
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	standIn().present = present;
}

void setRefuseVendor(bool refuse)
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	standIn().refuseVendor = refuse;
}

void setRefusedRequests(const std::vector<std::string> &names)
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	standIn().refusedRequests = names;
}

void setEmitDelayMs(int ms)
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	standIn().emitDelayMs = ms;
}

std::vector<std::string> vendorNames()
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	return standIn().liveVendors;
}

std::vector<std::string> requestNames()
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	return standIn().requestOrder;
}

std::vector<Event> events()
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	return standIn().events;
}

std::vector<std::string> eventTypes()
{
	std::vector<std::string> types;
	for (const Event &e : events())
		types.push_back(e.type);
	return types;
}

int getPhCalls()
{
	std::lock_guard<std::mutex> lock(standIn().mutex);
	return standIn().getPhCalls;
}

OBSData call(const std::string &type, const std::string &requestJson)
{
	RequestCallback cb{};
	{
		std::lock_guard<std::mutex> lock(standIn().mutex);
		auto it = standIn().requests.find(type);
		if (it == standIn().requests.end())
			return nullptr;
		cb = it->second;
	}
	OBSDataAutoRelease request = obs_data_create_from_json(requestJson.c_str());
	if (!request)
		request = obs_data_create();
	OBSData reply;
	{
		OBSDataAutoRelease created = obs_data_create();
		reply = created.Get();
	}
	cb.callback(request, reply, cb.priv);
	return reply;
}

AsyncCall::AsyncCall(std::string type, std::string requestJson)
{
	thread = std::thread([this, type = std::move(type), requestJson = std::move(requestJson)]() {
		reply = call(type, requestJson);
		done.store(true);
	});
}

AsyncCall::~AsyncCall()
{
	// The call may be waiting for the UI thread, which is this one: keep serving it.
	waitUntil([this]() { return done.load(); }, 60000);
	if (thread.joinable())
		thread.join();
}

OBSData AsyncCall::wait(int limitMs)
{
	if (!waitUntil([this]() { return done.load(); }, limitMs))
		return nullptr;
	if (thread.joinable())
		thread.join();
	return reply;
}

OBSData callOffThread(const std::string &type, const std::string &requestJson, int limitMs)
{
	AsyncCall callAsync(type, requestJson);
	return callAsync.wait(limitMs);
}

} // namespace WebsocketStandIn
