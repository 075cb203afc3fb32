// Registration with obs-websocket, the request frame and the event thread, against the stand-in.

#include "test_remote_common.h"

#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

using namespace remote_test;

EntryEvent markedEvent(long long entryId, EntryEvent::Type type = EntryEvent::Type::Marked)
{
	EntryEvent event;
	event.type = type;
	event.entryId = entryId;
	return event;
}

const std::vector<std::string> kRequestOrder = {
    "Press",         "AddMark",           "StartFreeSession", "EndFreeSession", "GetSession",  "ListSessions",
    "ViewSession",   "RemoveSession",     "SetLabel",         "SetChapter",     "RemoveEntry", "SetShift",
    "SetArchiveUrl", "DropShortChapters", "Export",           "ExportQuotes",   "GetStatus",   "ReplayEntry",
    "StopReplay",    "SetupReplayScene",  "SetupRecapScene",  "GetRecapStatus", "SetConfig",   "ExportHighlights",
};

using RemoteVendor = RemoteFixture;

TEST_F(RemoteVendor, RegistersTheVendorAndAllRequestsInTableOrder)
{
	LogCapture log;
	registerVendor();
	EXPECT_EQ(WebsocketStandIn::vendorNames(), std::vector<std::string>{"kelvaro-lumark"});
	EXPECT_EQ(WebsocketStandIn::requestNames(), kRequestOrder);
	EXPECT_EQ(log.countLevel(LOG_INFO, "[lumark] obs-websocket vendor kelvaro-lumark ready (24 requests)"), 1);
}

TEST_F(RemoteVendor, WithoutObsWebsocketLogsOnceAndSendsNoEvents)
{
	WebsocketStandIn::setPresent(false);
	LogCapture log;
	registerVendor();
	EXPECT_EQ(log.countLevel(LOG_INFO, "[lumark] obs-websocket not found, no vendor requests"), 1);
	EXPECT_TRUE(WebsocketStandIn::requestNames().empty());

	// obs-websocket appears later: nothing was connected, so no event reaches it.
	WebsocketStandIn::setPresent(true);
	emit engine->notify(markedEvent(1));
	emitVendorEvent("Marked", "{\"entry_id\":1}");
	QThread::msleep(50);
	EXPECT_TRUE(WebsocketStandIn::events().empty());
}

TEST_F(RemoteVendor, RefusedVendorLogsAWarningAndRegistersNothing)
{
	WebsocketStandIn::setRefuseVendor(true);
	LogCapture log;
	registerVendor();
	EXPECT_EQ(log.countLevel(LOG_WARNING, "[lumark] could not register the obs-websocket vendor"), 1);
	EXPECT_TRUE(WebsocketStandIn::requestNames().empty());
	emit engine->notify(markedEvent(0));
	QThread::msleep(50);
	EXPECT_TRUE(WebsocketStandIn::events().empty());
}

TEST_F(RemoteVendor, CountsOnlyTheRequestsObsWebsocketAccepted)
{
	WebsocketStandIn::setRefusedRequests({"GetSession", "SetConfig"});
	LogCapture log;
	registerVendor();
	EXPECT_EQ(log.countLevel(LOG_INFO, "[lumark] obs-websocket vendor kelvaro-lumark ready (22 requests)"), 1);
	const auto names = WebsocketStandIn::requestNames();
	EXPECT_EQ(names.size(), 22u);
	EXPECT_EQ(std::count(names.begin(), names.end(), "GetSession"), 0);
	EXPECT_EQ(names.front(), "Press");
	EXPECT_EQ(names.back(), "ExportHighlights");
}

TEST_F(RemoteVendor, EventsLeaveTheUiThreadInOrderUnderABurst)
{
	registerVendor();
	const int burst = 300;
	for (int i = 0; i < burst; ++i)
		emit engine->notify(markedEvent(i, i % 2 ? EntryEvent::Type::Marked : EntryEvent::Type::ClipSaved));
	ASSERT_TRUE(waitUntil([&] { return WebsocketStandIn::events().size() == size_t(burst); }, 5000));
	const auto events = WebsocketStandIn::events();
	for (int i = 0; i < burst; ++i) {
		SCOPED_TRACE(i);
		EXPECT_EQ(events[i].vendor, "kelvaro-lumark");
		EXPECT_EQ(events[i].type, i % 2 ? "Marked" : "ClipSaved");
		OBSDataAutoRelease data = obs_data_create_from_json(events[i].json.c_str());
		ASSERT_NE(data.Get(), nullptr);
		EXPECT_EQ(obs_data_get_int(data, "entry_id"), i);
		EXPECT_FALSE(events[i].onUiThread);
	}
}

TEST_F(RemoteVendor, EventPayloadKeepsUnicodeAndBadJsonBecomesAnEmptyObject)
{
	registerVendor();
	emit engine->notify(RecapClipEvent{"", "名言 ✓", 1, 0});
	emitVendorEvent("Marked", "{not json");
	ASSERT_TRUE(waitUntil([] { return WebsocketStandIn::events().size() == 2; }));
	const auto events = WebsocketStandIn::events();
	OBSDataAutoRelease first = obs_data_create_from_json(events[0].json.c_str());
	EXPECT_STREQ(obs_data_get_string(first, "memo"), "名言 ✓");
	OBSDataAutoRelease second = obs_data_create_from_json(events[1].json.c_str());
	ASSERT_NE(second.Get(), nullptr);
	EXPECT_EQ(obs_data_first(second), nullptr);
}

TEST_F(RemoteVendor, CloseDropsQueuedEventsAndStopsForwarding)
{
	registerVendor();
	WebsocketStandIn::setEmitDelayMs(200);
	for (int i = 0; i < 20; ++i)
		emit engine->notify(markedEvent(i));
	QThread::msleep(50); // the first event is under way
	QElapsedTimer timer;
	timer.start();
	closeRemote();
	EXPECT_LT(timer.elapsed(), 1500); // the one event in flight finishes, the queued ones are dropped
	const size_t sent = WebsocketStandIn::events().size();
	EXPECT_EQ(sent, 1u);

	WebsocketStandIn::setEmitDelayMs(0);
	emit engine->notify(markedEvent(0));
	emitVendorEvent("Marked", "{}");
	QThread::msleep(50);
	EXPECT_EQ(WebsocketStandIn::events().size(), sent);
	EXPECT_FALSE(isRemoteOpen());
}

TEST_F(RemoteVendor, RequestFromTheUiThreadRunsDirectly)
{
	registerVendor();
	// A blocking queued call to one's own thread would hang this test.
	OBSData reply = WebsocketStandIn::call("StopReplay");
	ASSERT_NE(reply.Get(), nullptr);
	EXPECT_TRUE(obs_data_get_bool(reply, "ok"));
}

TEST_F(RemoteVendor, RequestsFromObsWebsocketThreadsRunOnTheUiThread)
{
	registerVendor();
	OBSData reply = WebsocketStandIn::callOffThread("StopReplay");
	ASSERT_NE(reply.Get(), nullptr);
	EXPECT_TRUE(obs_data_get_bool(reply, "ok"));
	EXPECT_FALSE(obs_data_has_user_value(reply, "error"));
}

TEST_F(RemoteVendor, EveryRequestAnswersShuttingDownAfterClose)
{
	registerVendor();
	closeRemote();
	for (const std::string &name : kRequestOrder) {
		SCOPED_TRACE(name);
		OBSData reply = WebsocketStandIn::callOffThread(name, "{\"label\":\"x\",\"session_id\":\"a\"}");
		ASSERT_NE(reply.Get(), nullptr);
		EXPECT_FALSE(obs_data_get_bool(reply, "ok"));
		EXPECT_STREQ(obs_data_get_string(reply, "error"), "shutting down") << "AddMark too, not \"no mark\"";
		if (name == "Press" || name == "AddMark") {
			EXPECT_TRUE(obs_data_has_user_value(reply, "entry_id"));
			EXPECT_EQ(obs_data_get_int(reply, "entry_id"), 0);
		}
	}
}

TEST_F(RemoteVendor, ARequestWaitingForTheUiThreadWhenItClosesChangesNothing)
{
	registerVendor();
	const int before = settings().replay_seconds;
	const int wanted = before == 7 ? 8 : 7;
	// This thread does not serve its event loop yet, so the call waits in the queue.
	WebsocketStandIn::AsyncCall call("SetConfig", "{\"replay_seconds\":" + std::to_string(wanted) + "}");
	QThread::msleep(100);
	EXPECT_FALSE(call.finished());
	closeRemote();
	OBSData reply = call.wait();
	ASSERT_NE(reply.Get(), nullptr);
	EXPECT_FALSE(obs_data_get_bool(reply, "ok"));
	EXPECT_STREQ(obs_data_get_string(reply, "error"), "shutting down");
	EXPECT_EQ(settings().replay_seconds, before);
}

TEST_F(RemoteVendor, RequestsRacingCloseEitherRunOrAnswerShuttingDown)
{
	registerVendor();
	std::atomic<bool> stop{false};
	std::atomic<int> served{0}, refused{0}, malformed{0}, finished{0};
	std::vector<std::thread> callers;
	for (int t = 0; t < 4; ++t) {
		callers.emplace_back([&, t] {
			const char *name = t % 2 ? "GetStatus" : "ListSessions";
			while (!stop.load()) {
				OBSData reply = WebsocketStandIn::call(name);
				if (obs_data_get_bool(reply, "ok"))
					++served;
				else if (std::string(obs_data_get_string(reply, "error")) == "shutting down")
					++refused;
				else
					++malformed;
			}
			++finished;
		});
	}
	ASSERT_TRUE(waitUntil([&] { return served.load() > 20; }, 5000));
	closeRemote();
	const int servedAtClose = served.load();
	// Calls that were already waiting for the UI thread when it closed are answered "shutting down".
	ASSERT_TRUE(waitUntil([&] { return refused.load() > 20; }, 5000));
	stop = true;
	// Keep the event loop running while the callers finish their last call.
	ASSERT_TRUE(waitUntil([&] { return finished.load() == 4; }, 5000));
	for (auto &c : callers)
		c.join();
	EXPECT_EQ(malformed.load(), 0);
	EXPECT_LE(served.load(), servedAtClose + 4); // at most one call per caller was already past the check
}

} // namespace
