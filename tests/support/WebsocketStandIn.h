#pragma once

// Stand-in for the obs-websocket plug-in, reached the same way: through "obs_websocket_api_get_ph" on
// libobs's global procedure handler and its own "vendor_register", "vendor_request_register" and
// "vendor_event_emit". It records registrations and emitted events and calls the registered request
// callbacks the way obs-websocket does (from a thread of its own).

#include <obs.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace WebsocketStandIn {

struct Event {
	std::string vendor;
	std::string type;
	std::string json; // obs_data_get_json of the emitted data ("null" when none came)
	bool onUiThread = false;
};

// Adds the global procedure (once per process) and forgets everything recorded; obs-websocket is then
// present and accepts vendors. Also resets the plug-in's remote state so it looks obs-websocket up again.
void install();

// Absent: "obs_websocket_api_get_ph" answers without "ph", as when obs-websocket is not loaded.
void setPresent(bool present);
// Refusing: "vendor_register" answers without "vendor".
void setRefuseVendor(bool refuse);
// "vendor_request_register" answers "success" false for these request names.
void setRefusedRequests(const std::vector<std::string> &names);
// Each "vendor_event_emit" takes this long (an obs-websocket busy sending).
void setEmitDelayMs(int ms);

std::vector<std::string> vendorNames();
std::vector<std::string> requestNames();
std::vector<Event> events();
std::vector<std::string> eventTypes();
int getPhCalls();

// Calls a registered request on the calling thread; the reply data, or null for an unknown request.
OBSData call(const std::string &type, const std::string &requestJson = "{}");

// A request call running on its own thread.
class AsyncCall {
public:
	AsyncCall(std::string type, std::string requestJson = "{}");
	~AsyncCall();
	bool finished() const { return done.load(); }
	// Spins the Qt event loop until the call returned; null on time-out.
	OBSData wait(int limitMs = 5000);

private:
	std::atomic<bool> done{false};
	OBSData reply;
	std::thread thread;
};

// The common case: call from another thread while this (UI) thread runs its event loop.
OBSData callOffThread(const std::string &type, const std::string &requestJson = "{}", int limitMs = 5000);

} // namespace WebsocketStandIn
