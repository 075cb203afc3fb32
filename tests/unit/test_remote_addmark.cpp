// The add-mark procedure on the global procedure handler: call-time capture, the 500 ms limit and
// the late mark.

#include "test_remote_common.h"

#include "remote/RemoteCore.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

using namespace remote_test;

const char *const kBusyLine = "[lumark] proc: the UI thread was busy, the mark is added later";

long long callAddMark(const char *label, const char *kind)
{
	remote::CallData cd;
	if (label)
		calldata_set_string(cd.get(), "label", label);
	if (kind)
		calldata_set_string(cd.get(), "kind", kind);
	proc_handler_call(obs_get_proc_handler(), "kelvaro_lumark_add_mark", cd.get());
	return calldata_int(cd.get(), "entry_id");
}

// A caller on a thread of its own; the UI thread decides whether to serve its event loop.
class OffThreadCall {
public:
	OffThreadCall(const char *label, const char *kind)
	    : thread([this, l = std::string(label ? label : ""), k = std::string(kind ? kind : ""),
		      hasLabel = label != nullptr] {
		      QElapsedTimer timer;
		      timer.start();
		      result = callAddMark(hasLabel ? l.c_str() : nullptr, k.c_str());
		      elapsedMs = timer.elapsed();
		      done = true;
	      })
	{
	}
	~OffThreadCall() { join(); }
	long long join()
	{
		waitUntil([this] { return done.load(); }, 5000);
		if (thread.joinable())
			thread.join();
		return result;
	}

	std::atomic<bool> done{false};
	std::atomic<long long> result{-2};
	std::atomic<long long> elapsedMs{0};

private:
	std::thread thread;
};

const Entry *findByLabel(Session *s, const std::string &label)
{
	if (s)
		for (const Entry &e : s->entries)
			if (e.label == label)
				return &e;
	return nullptr;
}

using RemoteAddMark = RemoteEngineFixture;

TEST_F(RemoteAddMark, FromTheUiThreadTheMarkIsAddedAtOnce)
{
	startStream();
	LogCapture log;
	const long long id = callAddMark("Blue Bird", "song");
	ASSERT_GT(id, 0);
	const Entry *e = engine->currentSession()->findEntry(id);
	ASSERT_NE(e, nullptr);
	EXPECT_EQ(e->kind, EntryKind::Song);
	EXPECT_EQ(log.count(kBusyLine), 0);
	// The same mark again within two seconds is the same mark.
	EXPECT_EQ(callAddMark("Blue Bird", "song"), id);
}

TEST_F(RemoteAddMark, RefusalsAnswerZero)
{
	EXPECT_EQ(OffThreadCall("no session", "song").join(), 0);
	startStream();
	EXPECT_EQ(OffThreadCall("", "song").join(), 0);
	EXPECT_EQ(OffThreadCall(" \t\r\n", "topic").join(), 0);
	EXPECT_EQ(OffThreadCall(nullptr, "song").join(), 0); // missing label reads as empty
	settings().marks_topic = false;
	EXPECT_EQ(OffThreadCall("later", "topic").join(), 0);
	EXPECT_EQ(OffThreadCall("later", "Topic").join(), 0);

	EXPECT_EQ(OffThreadCall(std::string(4097, 'x').c_str(), "song").join(), 0);

	const long long other = OffThreadCall("raid", nullptr).join();
	ASSERT_GT(other, 0);
	EXPECT_EQ(engine->currentSession()->findEntry(other)->kind, EntryKind::External);
}

TEST_F(RemoteAddMark, AfterCloseAnswersZeroWithoutPosting)
{
	startStream();
	const size_t before = engine->currentSession()->entries.size();
	closeRemote();
	LogCapture log;
	// This thread does not serve its event loop: a posted call would time out and answer -1.
	OffThreadCall call("after close", "song");
	QThread::msleep(300);
	EXPECT_TRUE(call.done.load());
	EXPECT_EQ(call.join(), 0);
	EXPECT_LT(call.elapsedMs.load(), 300);
	waitUntil([] { return false; }, 50);
	EXPECT_EQ(engine->currentSession()->entries.size(), before);
	EXPECT_EQ(log.count(kBusyLine), 0);
}

TEST_F(RemoteAddMark, BusyUiThreadAnswersMinusOneAndTheMarkLandsAtTheCallsOffset)
{
	startStream();
	QThread::msleep(30);
	LogCapture log;
	const long long offsetBefore = engine->offsetNow();
	OffThreadCall call("late song", "song");
	QThread::msleep(2000); // the UI thread is stuck

	ASSERT_TRUE(call.done.load());
	EXPECT_EQ(call.result.load(), -1);
	EXPECT_GE(call.elapsedMs.load(), 450);
	EXPECT_LT(call.elapsedMs.load(), 1500);
	EXPECT_EQ(log.count(kBusyLine), 1);
	EXPECT_EQ(findByLabel(engine->currentSession(), "late song"), nullptr);

	// When the UI thread comes free the mark follows, at the moment of the call.
	ASSERT_TRUE(waitUntil([&] { return findByLabel(engine->currentSession(), "late song") != nullptr; }, 2000));
	const Entry *e = findByLabel(engine->currentSession(), "late song");
	EXPECT_EQ(e->kind, EntryKind::Song);
	EXPECT_GE(e->t_ms, offsetBefore);
	EXPECT_LT(e->t_ms, offsetBefore + 400);
	EXPECT_GE(engine->offsetNow(), offsetBefore + 2000);
	EXPECT_EQ(log.count("[lumark] mark (kind 5) at " + std::to_string(e->t_ms) +
			    " ms (added late, at the time it was asked for)"),
		  1);
}

TEST_F(RemoteAddMark, AMarkStillQueuedAtCloseIsNotAdded)
{
	startStream();
	OffThreadCall call("queued", "topic");
	QThread::msleep(700);
	EXPECT_EQ(call.result.load(), -1);
	closeRemote();
	waitUntil([] { return false; }, 50); // the queued call runs now and only lets its reply go
	EXPECT_EQ(findByLabel(engine->currentSession(), "queued"), nullptr);
}

} // namespace
