#include "test_engine_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <set>

namespace {

class SavesTest : public EngineTest {
protected:
	void SetUp() override
	{
		EngineTest::SetUp();
		ready();
		FrontendDouble::state().replayBufferActive = true;
		FrontendDouble::state().streaming = true;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	}
	int requests() const { return FrontendDouble::state().replayBufferSaveRequests; }
};

TEST_F(SavesTest, ThreePressesTwoRequestsOneSharedFile)
{
	settings().press_replay = false;
	const long long p1 = engine->press(PressMode::Default, QString());
	EXPECT_EQ(requests(), 1) << "the first press asks at once";
	EXPECT_TRUE(saveTimeoutTimer().isActive());
	advance(300);
	const long long p2 = engine->press(PressMode::Default, QString());
	advance(300);
	const long long p3 = engine->press(PressMode::Default, QStringLiteral("mine"));
	EXPECT_EQ(requests(), 1) << "one request in flight at a time";
	EXPECT_EQ(waitingPressRefs().size(), 2u);

	advance(1400); // OBS took two seconds
	obsSaved(QStringLiteral("/clips/one.mkv"));
	EXPECT_EQ(entry(p1).clip.state, ClipState::Saved);
	EXPECT_EQ(entry(p1).clip.path, "/clips/one.mkv");
	EXPECT_EQ(requests(), 2);
	EXPECT_EQ(pendingPressRefs().size(), 2u) << "the waiting presses go out together";
	EXPECT_EQ(saveLatencyHistory(), std::vector<long long>{2000});
	EXPECT_EQ(engine->statusText(), msg("Msg.Saved", QStringLiteral("Lumark01"), QStringLiteral("00:00")));

	advance(2000);
	obsSaved(QStringLiteral("/clips/two.mkv"));
	EXPECT_EQ(entry(p2).clip.path, "/clips/two.mkv");
	EXPECT_EQ(entry(p2).clip.shared_with, 0);
	EXPECT_EQ(entry(p3).clip.state, ClipState::Saved);
	EXPECT_EQ(entry(p3).clip.path, "");
	EXPECT_EQ(entry(p3).clip.shared_with, p2);
	// Both end their clip at their batch's request, 2 s after the first press.
	EXPECT_EQ(entry(p2).clip.end_ms, 2000);
	EXPECT_EQ(entry(p3).clip.end_ms, 2000);
	EXPECT_EQ(engine->statusText(),
		  msg("Msg.Saved", QString::fromUtf8("Lumark02・Lumark03"), QStringLiteral("00:00")));
	EXPECT_FALSE(saveTimeoutTimer().isActive());
	EXPECT_EQ(requests(), 2);

	ASSERT_EQ(eventCount("ClipSaved"), 3);
	const NotifyRecord *last = lastEvent("ClipSaved");
	EXPECT_EQ(last->data["entry_id"].toInt(), p3);
	EXPECT_EQ(last->data["file"].toString(), QStringLiteral("two.mkv")) << "a shared clip names the owner's file";
	EXPECT_EQ(last->data["label"].toString(), QStringLiteral("mine"));

	ASSERT_EQ(renameQueue().size(), 2u) << "owners only";
	EXPECT_EQ(renameQueue()[1].ref.entryId, p2);
	EXPECT_EQ(renameQueue()[1].dueMs, wall + 15000);
}

// OBS names a replay file after the clock second of its save and writes over a file of that name.
// While a save could still get that name the file is kept aside, so no later save (ours or OBS's
// own) costs a clip and our next request never waits for the clock; then OBS's newest file of that
// name is back under it, where peers were told to find it.
TEST_F(SavesTest, AFileIsKeptAsideOnlyWhileASaveCouldGetItsName)
{
	settings().press_replay = false;
	const QString dir = work.path() + "/clips";
	QDir().mkpath(dir);
	nameSavesIn(dir);
	const QString obsName = dir + "/Replay 2026-05-01 20-00-00.mkv";
	// OBS (re)writes its file, then reports it.
	auto obsWrites = [&](const QByteArray &content) {
		EXPECT_TRUE(writeFileBytes(obsName, content));
		obsSaved(obsName);
	};

	const long long p1 = engine->press(PressMode::Default, QString());
	advance(250);
	obsWrites("first");
	const QString kept1 = dir + "/Replay 2026-05-01 20-00-00 (Lumark01).mkv";
	EXPECT_EQ(entry(p1).clip.path, kept1.toStdString());
	EXPECT_FALSE(QFile::exists(obsName));
	EXPECT_EQ(eventCount("ClipSaved"), 0) << "told once the file has the name it keeps";
	waitForWrites();
	Session onDisk;
	ASSERT_TRUE(loadSession(current().id, onDisk));
	EXPECT_EQ(onDisk.findEntry(p1)->clip.path, kept1.toStdString()) << "the session file knows it at once";

	// The fresh-clip timer runs within the second: the file stays aside. Then a websocket client's save
	// 300 ms later, in the same second.
	EXPECT_FALSE(waitUntil([] { return false; }, 100));
	EXPECT_EQ(entry(p1).clip.path, kept1.toStdString());
	advance(300);
	obsWrites("obs own");
	const long long own = current().entries.back().id;
	EXPECT_EQ(entry(own).number, 2);
	EXPECT_EQ(entry(own).clip.path, (dir + "/Replay 2026-05-01 20-00-00 (Lumark02).mkv").toStdString());

	// A press right after: asked at once, and its file of the same name is kept apart too.
	advance(100);
	const long long p3 = engine->press(PressMode::Default, QString());
	EXPECT_EQ(requests(), 2) << "no wait for the next clock second";
	advance(200);
	obsWrites("third");
	EXPECT_EQ(readFileBytes(kept1), QByteArray("first"));
	EXPECT_EQ(readFileBytes(QString::fromStdString(entry(own).clip.path)), QByteArray("obs own"));
	EXPECT_EQ(readFileBytes(QString::fromStdString(entry(p3).clip.path)), QByteArray("third"));
	std::set<std::string> paths{entry(p1).clip.path, entry(own).clip.path, entry(p3).clip.path};
	EXPECT_EQ(paths.size(), 3u) << "no two entries own one file";
	ASSERT_TRUE(waitUntil([this] { return freshClipQueue().size() == 1; })) << "the newest is watched";

	// The next second: the newest file is back under OBS's name, the older ones keep theirs.
	advance(200);
	ASSERT_TRUE(waitUntil([this] { return freshClipQueue().empty(); }));
	EXPECT_EQ(entry(p3).clip.path, obsName.toStdString());
	EXPECT_EQ(readFileBytes(obsName), QByteArray("third"));
	EXPECT_EQ(entry(p1).clip.path, kept1.toStdString());
	ASSERT_EQ(eventCount("ClipSaved"), 3);
	for (const NotifyRecord &e : events)
		if (e.type == QStringLiteral("ClipSaved"))
			EXPECT_EQ(
			    e.data["file"].toString(),
			    QFileInfo(QString::fromStdString(entry(e.data["entry_id"].toInt()).clip.path)).fileName());

	// The later rename goes from the kept name to the final one.
	advance(15000);
	renameTick();
	EXPECT_EQ(QFileInfo(QString::fromStdString(entry(p1).clip.path)).fileName(),
		  QStringLiteral("2026-05-01 20-00 Lumark01 0-00-00.mkv"));
	EXPECT_EQ(readFileBytes(QString::fromStdString(entry(p1).clip.path)), QByteArray("first"));
}

// At exit a file still aside goes back under OBS's name once no save can get that name; while OBS
// may still be writing a save asked for just before (the buffer still runs), it keeps its own.
TEST_F(SavesTest, ShutdownPutsAKeptFileBackUnderObsName)
{
	settings().press_replay = false;
	settings().rename_files = false; // OBS's name is then the final one
	const QString dir = work.path() + "/clips";
	QDir().mkpath(dir);
	nameSavesIn(dir);
	const QString obsName = dir + "/Replay 2026-05-01 20-00-00.mkv";
	const long long p1 = engine->press(PressMode::Default, QString());
	advance(250);
	ASSERT_TRUE(writeFileBytes(obsName, "clip"));
	obsSaved(obsName);
	ASSERT_FALSE(QFile::exists(obsName)) << "kept aside within its second";
	advance(1000);
	engine->shutdown();
	EXPECT_EQ(entry(p1).clip.path, obsName.toStdString());
	EXPECT_EQ(readFileBytes(obsName), QByteArray("clip"));
}

TEST_F(SavesTest, ShutdownDuringASaveLeavesAKeptFileAside)
{
	const QString dir = work.path() + "/clips";
	QDir().mkpath(dir);
	nameSavesIn(dir);
	settings().press_replay = false;
	settings().rename_files = false;
	const long long p1 = engine->press(PressMode::Default, QString());
	ASSERT_TRUE(writeFileBytes(dir + "/Replay 2026-05-01 20-00-00.mkv", "clip"));
	obsSaved(dir + "/Replay 2026-05-01 20-00-00.mkv");
	setSaveNamer([] { return QString(); }); // a save is being written
	advance(10000);
	const QString kept = dir + "/Replay 2026-05-01 20-00-00 (Lumark01).mkv";
	ASSERT_TRUE(waitUntil([this] { return eventCount("ClipSaved") == 1; })) << "told where it stays for now";
	EXPECT_EQ(lastEvent("ClipSaved")->data["file"].toString(), QFileInfo(kept).fileName());
	engine->shutdown();
	EXPECT_EQ(entry(p1).clip.path, kept.toStdString());
	EXPECT_EQ(readFileBytes(kept), QByteArray("clip"));
}

// With OBS's automatic remux the file keeps OBS's name until the remux has opened it (its copy
// appears); a request of the same second waits for that, and a save that writes over it meanwhile
// costs that clip, never the new one.
TEST_F(SavesTest, WithAutoRemuxTheFileMovesOnceTheRemuxHasStarted)
{
	settings().press_replay = false;
	config_set_bool(FrontendDouble::profileConfig(), "Video", "AutoRemux", true);
	const QString dir = work.path() + "/clips";
	QDir().mkpath(dir);
	nameSavesIn(dir);
	const QString mkv = dir + "/Replay 2026-05-01 20-00-00.mkv";
	ASSERT_TRUE(writeFileBytes(mkv, "clip"));

	const long long p1 = engine->press(PressMode::Default, QString());
	obsSaved(mkv);
	EXPECT_EQ(entry(p1).clip.path, mkv.toStdString()) << "the remux still needs OBS's name";
	const long long p2 = engine->press(PressMode::Default, QString());
	EXPECT_EQ(requests(), 1) << "OBS would give this save the same name";

	ASSERT_TRUE(writeFileBytes(dir + "/Replay 2026-05-01 20-00-00.mp4", "remuxing"));
	const QString kept = dir + "/Replay 2026-05-01 20-00-00 (Lumark01)";
	ASSERT_TRUE(waitUntil([&] { return entry(p1).clip.path == (kept + ".mkv").toStdString(); }));
	EXPECT_TRUE(QFile::exists(kept + ".mp4")) << "the remuxed copy goes along";
	EXPECT_EQ(requests(), 2);

	// A remux that never starts holds nothing for long; a buffer stop leaves no request behind.
	ASSERT_TRUE(writeFileBytes(mkv, "second"));
	obsSaved(mkv);
	engine->press(PressMode::Default, QString());
	EXPECT_EQ(requests(), 2);
	FrontendDouble::state().replayBufferActive = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED);
	EXPECT_TRUE(waitingPressRefs().empty());

	// OBS's own save writes over p2's file before its remux starts: p2 is lost, the new file is only
	// the new entry's.
	advance(300);
	ASSERT_TRUE(writeFileBytes(mkv, "obs own"));
	LogCapture log;
	obsSaved(mkv);
	const Entry &own = current().entries.back();
	EXPECT_EQ(entry(p2).clip.state, ClipState::Failed);
	EXPECT_EQ(entry(p2).clip.path, "");
	EXPECT_EQ(log.count("[lumark] a later save wrote over the clip of mark 2 before it was kept apart"), 1);
	ASSERT_TRUE(writeFileBytes(dir + "/Replay 2026-05-01 20-00-00.mp4", "remuxing own"));
	ASSERT_TRUE(waitUntil([&] { return own.clip.path != mkv.toStdString(); }));
	EXPECT_EQ(readFileBytes(QString::fromStdString(own.clip.path)), QByteArray("obs own"));

	// The next second OBS's name is free of clashes again: that file goes back under it.
	advance(1000);
	ASSERT_TRUE(waitUntil([this] { return freshClipQueue().empty(); }));
	EXPECT_EQ(own.clip.path, mkv.toStdString());
	EXPECT_EQ(readFileBytes(dir + "/Replay 2026-05-01 20-00-00.mp4"), QByteArray("remuxing own"));
	EXPECT_EQ(requests(), 2);
}

TEST_F(SavesTest, ClipRanges)
{
	Entry e;
	e.t_ms = 100000;
	e.wall_ms = wall;
	clipRange(e, wall + 50);
	EXPECT_EQ(e.clip.start_ms, 80050);
	EXPECT_EQ(e.clip.end_ms, 100050);

	// The buffer started 5 s before a press: the clip reaches back only to the buffer's start.
	setBuffer(30);
	advance(20000);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED);
	advance(5000);
	Entry late;
	late.t_ms = engine->offsetNow();
	late.wall_ms = wall;
	clipRange(late, wall);
	EXPECT_EQ(late.clip.start_ms, late.t_ms - 5000);
	EXPECT_EQ(late.clip.end_ms, late.t_ms);

	// A buffer running since before the session: never before 0.
	Entry early;
	early.t_ms = 10000;
	early.wall_ms = wall;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED);
	clipRange(early, wall - 10);
	EXPECT_EQ(early.clip.start_ms, 0);
	EXPECT_EQ(early.clip.end_ms, 10000);
}

TEST_F(SavesTest, ReplayOnlyWithinTwentySecondsOfThePress)
{
	// The player cannot start here (no media source), which shows as "saved, no replay".
	const long long quick = engine->press(PressMode::Replay, QString());
	advance(19900);
	obsSaved(QStringLiteral("/clips/quick.mkv"));
	EXPECT_EQ(engine->statusText(), msg("Msg.SavedNoReplay", QStringLiteral("Lumark01"), QStringLiteral("00:00")));
	EXPECT_EQ(entry(quick).clip.state, ClipState::Saved);

	advance(100);
	const long long slow = engine->press(PressMode::Replay, QString());
	advance(25000);
	obsSaved(QStringLiteral("/clips/slow.mkv"));
	EXPECT_EQ(entry(slow).clip.state, ClipState::Saved);
	EXPECT_EQ(engine->statusText(), msg("Msg.Saved", QStringLiteral("Lumark02"), QStringLiteral("00:20")))
	    << "too late for a replay, and no message about it";
}

TEST_F(SavesTest, ASaveAfterTheLimitIsRecordedAsObsOwnSave)
{
	const long long p = engine->press(PressMode::Default, QString());
	EXPECT_EQ(saveTimeoutTimer().interval(), 30000);
	advance(30000);
	LogCapture log;
	saveTimesOut();
	EXPECT_EQ(entry(p).clip.state, ClipState::Failed);
	EXPECT_EQ(engine->statusText(), msg("Msg.SaveFailed"));
	EXPECT_EQ(log.count("the replay buffer was not saved within 30 seconds"), 1);

	advance(1000);
	events.clear();
	obsSaved(QStringLiteral("/clips/late.mkv"));
	Session &s = current();
	const Entry &made = s.entries.back();
	EXPECT_EQ(made.number, 2);
	EXPECT_EQ(made.label, "Lumark02");
	EXPECT_EQ(made.clip.state, ClipState::Saved);
	EXPECT_EQ(made.clip.path, "/clips/late.mkv");
	EXPECT_EQ(made.t_ms, 31000 - 1300) << "dated back by the default latency";
	EXPECT_EQ(made.wall_ms, wall - 1300);
	EXPECT_EQ(made.clip.end_ms, made.t_ms);
	EXPECT_EQ(entry(p).clip.state, ClipState::Failed) << "the failed press stays failed";
	ASSERT_EQ(events.size(), 2u);
	EXPECT_EQ(events[0].type, QStringLiteral("Marked"));
	EXPECT_EQ(events[1].type, QStringLiteral("ClipSaved"));
	EXPECT_EQ(engine->statusText(), msg("Msg.ObsSavedMarked", QStringLiteral("Lumark02"), QStringLiteral("00:29")));
}

TEST_F(SavesTest, ObsOwnSaveWithoutSessionStartsAFreeOneDatedByMeasuredLatency)
{
	// Measure one latency of 2 s, then end the stream.
	engine->press(PressMode::Default, QString());
	advance(2000);
	obsSaved(QStringLiteral("/clips/a.mkv"));
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	ASSERT_EQ(engine->currentSession(), nullptr);

	advance(10000);
	obsSaved(QStringLiteral("/clips/b.mkv"));
	Session &s = current();
	EXPECT_EQ(s.source, SessionSource::Free);
	EXPECT_EQ(s.start_wall_ms, wall - 2000);
	ASSERT_EQ(s.entries.size(), 1u);
	EXPECT_EQ(s.entries[0].t_ms, 0);
	EXPECT_EQ(s.entries[0].number, 1);

	// Empty path: nothing recorded.
	obsSaved(QString());
	EXPECT_EQ(s.entries.size(), 1u);
}

TEST_F(SavesTest, BufferStopDuringARequest)
{
	const long long p1 = engine->press(PressMode::Default, QString());
	const long long p2 = engine->press(PressMode::Default, QString());
	FrontendDouble::state().replayBufferActive = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED);
	EXPECT_EQ(bufferStartedAtWallMs(), 0);
	EXPECT_TRUE(saveTimeoutTimer().isActive());
	EXPECT_EQ(saveTimeoutTimer().interval(), 3000) << "the limit is cut to 3 s";
	EXPECT_EQ(entry(p2).clip.state, ClipState::Waiting) << "still hoping for the batch in flight";

	saveTimesOut();
	EXPECT_EQ(entry(p1).clip.state, ClipState::Failed);
	EXPECT_EQ(entry(p2).clip.state, ClipState::NoBuffer) << "never asked: the buffer was off";
	EXPECT_EQ(engine->statusText(), msg("Msg.BufferStopped"));
	EXPECT_TRUE(waitingPressRefs().empty());
	EXPECT_EQ(requests(), 1);
}

TEST_F(SavesTest, FileArrivingAfterTheBufferStoppedStillCounts)
{
	const long long p = engine->press(PressMode::Default, QString());
	FrontendDouble::state().replayBufferActive = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED);
	advance(1000);
	obsSaved(QStringLiteral("/clips/x.mkv"));
	EXPECT_EQ(entry(p).clip.state, ClipState::Saved);
	EXPECT_FALSE(saveTimeoutTimer().isActive());
}

TEST_F(SavesTest, SavedEventWithoutFileFailsTheBatch)
{
	const long long p = engine->press(PressMode::Default, QString());
	obsSaved(QString());
	EXPECT_EQ(entry(p).clip.state, ClipState::Failed);
	EXPECT_EQ(engine->statusText(), msg("Msg.SaveFailed"));
	EXPECT_TRUE(pendingPressRefs().empty());
}

TEST_F(SavesTest, RemovedPressIsSkippedAndTheOthersShareTheFile)
{
	engine->press(PressMode::Default, QString());
	const long long p2 = engine->press(PressMode::Default, QString());
	const long long p3 = engine->press(PressMode::Default, QString());
	obsSaved(QStringLiteral("/clips/1.mkv"));
	ASSERT_EQ(requests(), 2);        // batch 2 and 3 goes out
	engine->edits().removeEntry(p2); // removed while in flight
	obsSaved(QStringLiteral("/clips/2.mkv"));
	advance(1000);
	EXPECT_EQ(entry(p3).clip.path, "/clips/2.mkv");
	EXPECT_EQ(entry(p3).clip.shared_with, 0) << "the first press still there owns the file";

	// A press removed while still waiting never reaches a request.
	engine->press(PressMode::Default, QString());
	const long long waiting = engine->press(PressMode::Default, QString());
	ASSERT_EQ(waitingPressRefs().size(), 1u);
	engine->edits().removeEntry(waiting);
	EXPECT_TRUE(waitingPressRefs().empty());
}

TEST_F(SavesTest, ReplayEntryRefusals)
{
	const long long mark = engine->press(PressMode::MarkOnly, QString());
	EXPECT_FALSE(engine->players().replayEntry(engine->viewedSession(), mark)) << "no clip";
	EXPECT_FALSE(engine->players().replayEntry(engine->viewedSession(), 9999));
	const long long waiting = engine->press(PressMode::Default, QString());
	EXPECT_FALSE(engine->players().replayEntry(engine->viewedSession(), waiting)) << "not saved yet";
}

} // namespace

namespace {

// Shifts and times from edited files or requests may sit at the int64 limits.
TEST_F(SavesTest, ExtremeShiftsAndTimesSaturate)
{
	constexpr long long hi = std::numeric_limits<long long>::max();
	constexpr long long lo = std::numeric_limits<long long>::min();
	engine->edits().setShift(lo);
	advance(5000);
	engine->press(PressMode::MarkOnly, QString());
	EXPECT_TRUE(engine->statusText().contains(QString::fromStdString(formatOffset(hi))))
	    << engine->statusText().toStdString();

	Entry far;
	far.t_ms = hi - 10;
	far.wall_ms = lo;
	clipRange(far, hi);
	EXPECT_EQ(far.clip.end_ms, hi);
	EXPECT_EQ(far.clip.start_ms, hi - 20000);
}

} // namespace
