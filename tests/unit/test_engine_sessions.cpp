#include "test_engine_fixture.h"

#include "engine/EngineSupport.h"

#include <QDir>
#include <QFile>

namespace {

using SessionsTest = EngineTest;

TEST_F(SessionsTest, NothingBeforeLoadingFinishedThenAPressStartsAFreeSession)
{
	EXPECT_EQ(engine->press(PressMode::Default, QString()), 0);
	EXPECT_EQ(engine->currentSession(), nullptr);
	EXPECT_FALSE(engine->startFreeSession());

	ready();
	advance(250);
	const long long id = engine->press(PressMode::MarkOnly, QString());
	ASSERT_NE(id, 0);
	Session &s = current();
	EXPECT_EQ(s.source, SessionSource::Free);
	EXPECT_TRUE(s.entries.size() == 1) << "free sessions get no start mark";
	EXPECT_EQ(entry(id).number, 1);
	EXPECT_EQ(entry(id).t_ms, 0);
	EXPECT_EQ(s.id, "2026-05-01_20-00-00");
	EXPECT_EQ(s.prefix, "2026-05-01 20-00");
	waitForWrites();
	EXPECT_TRUE(QFile::exists(sessionFile(s.id))) << "a new session is written at once";
	EXPECT_EQ(engine->viewedSessionId(), QString::fromStdString(s.id));
	EXPECT_FALSE(engine->startFreeSession()) << "one is already running";
}

TEST_F(SessionsTest, IdsAndPrefixesOfSessionsInTheSameSecondAndMinute)
{
	ready();
	ASSERT_TRUE(engine->startFreeSession());
	const std::string first = current().id;
	ASSERT_TRUE(engine->endFreeSession());
	ASSERT_TRUE(engine->startFreeSession());
	EXPECT_EQ(current().id, first + "_2");
	EXPECT_EQ(current().prefix, "2026-05-01 20-00-00 (2)");
	ASSERT_TRUE(engine->endFreeSession());

	advance(30000); // 20:00:30, same minute as the stored ones
	ASSERT_TRUE(engine->startFreeSession());
	EXPECT_EQ(current().id, "2026-05-01_20-00-30");
	EXPECT_EQ(current().prefix, "2026-05-01 20-00-30");
	ASSERT_TRUE(engine->endFreeSession());

	advance(60000); // a minute of its own
	ASSERT_TRUE(engine->startFreeSession());
	EXPECT_EQ(current().prefix, "2026-05-01 20-01");
	EXPECT_EQ(engine->sessionIds().front(), QStringLiteral("2026-05-01_20-01-30"));
}

TEST_F(SessionsTest, StreamReplacesRecordingButRecordingNeverReplacesStream)
{
	ready();
	FrontendDouble::state().recording = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	ASSERT_EQ(current().source, SessionSource::Recording);
	ASSERT_EQ(current().entries.size(), 1u);
	EXPECT_EQ(current().entries[0].kind, EntryKind::Start);
	EXPECT_EQ(current().entries[0].label, moduleText("Label.Start"));
	const std::string recordingId = current().id;

	advance(2000);
	FrontendDouble::state().streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	ASSERT_EQ(current().source, SessionSource::Stream);
	const std::string streamId = current().id;
	EXPECT_NE(streamId, recordingId);
	Session *ended = engine->findSession(QString::fromStdString(recordingId));
	ASSERT_NE(ended, nullptr);
	EXPECT_TRUE(ended->isEnded());
	EXPECT_EQ(ended->length_ms, 2000);

	// The recording stopping and starting again belongs to the stream.
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(current().id, streamId);

	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	EXPECT_EQ(engine->currentSession(), nullptr) << "no new session for the recording that goes on";
	ASSERT_NE(lastEvent("SessionEnded"), nullptr);
	EXPECT_EQ(lastEvent("SessionEnded")->data["session_id"].toString().toStdString(), streamId);
}

TEST_F(SessionsTest, PausedRecordingTimeIsNotCounted)
{
	ready();
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	advance(10000);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_PAUSED);
	advance(60000);
	EXPECT_EQ(engine->offsetNow(), 10000) << "the clock stands still while paused";
	engine->followFrontendEvent(
	    OBS_FRONTEND_EVENT_RECORDING_PAUSED); // a second pause event does not restart the pause
	advance(1000);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_UNPAUSED);
	advance(5000);
	EXPECT_EQ(engine->offsetNow(), 15000);
	const long long id = engine->press(PressMode::MarkOnly, QString());
	EXPECT_EQ(entry(id).t_ms, 15000);

	// A stream session ignores pauses.
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	advance(1000);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_PAUSED);
	advance(4000);
	EXPECT_EQ(engine->offsetNow(), 5000);
}

TEST_F(SessionsTest, OutputStartIsDatedBackByItsFrames)
{
	// 180 frames at 60 fps: three seconds.
	EXPECT_EQ(backdateByFrames(10'000'000'000LL, 180, 60, 1), 7'000'000'000LL);
	// 59.94 fps for 48 hours must not overflow.
	const long long frames = 48LL * 3600 * 60000 / 1001;
	EXPECT_NEAR(double(100'000'000'000'000LL - backdateByFrames(100'000'000'000'000LL, frames, 60000, 1001)),
		    48.0 * 3600 * 1e9, 1e8);
	EXPECT_EQ(backdateByFrames(5, 0, 60, 1), 5);
	EXPECT_EQ(backdateByFrames(5, 100, 0, 1), 5);
}

TEST_F(SessionsTest, UnfinishedSessionIsClosedOnFirstLoad)
{
	Session left;
	left.id = "2026-04-30_18-00-00";
	left.start_wall_ms = 1777000000000LL;
	Entry a;
	a.t_ms = 5000;
	left.addEntry(a);
	Entry b;
	b.t_ms = 12000;
	left.addEntry(b);
	ASSERT_TRUE(saveSession(left));

	ready();
	EXPECT_EQ(engine->viewedSessionId(), QString::fromStdString(left.id)) << "the newest stored session is shown";
	Session *loaded = engine->findSession(QString::fromStdString(left.id));
	ASSERT_NE(loaded, nullptr);
	EXPECT_EQ(loaded->length_ms, 12000);
	EXPECT_EQ(loaded->end_wall_ms, left.start_wall_ms + 12001);
	waitForWrites();
	Session onDisk;
	ASSERT_TRUE(loadSession(left.id, onDisk));
	EXPECT_EQ(onDisk.end_wall_ms, left.start_wall_ms + 12001) << "the repair is saved at once";

	EXPECT_EQ(engine->findSession(QStringLiteral("../escape")), nullptr);
	EXPECT_EQ(engine->findSession(QStringLiteral("missing")), nullptr);
	EXPECT_EQ(loadedSessionIds(), QStringList{QString::fromStdString(left.id)});
}

TEST_F(SessionsTest, StoredSessionsReadForTheQuotesFileDoNotStayLoaded)
{
	// Twelve ended sessions, oldest first; the oldest has an edit that is not written yet.
	std::vector<std::string> ids;
	for (int i = 0; i < 12; ++i) {
		Session s;
		s.id = QStringLiteral("2026-03-%1_20-00-00").arg(i + 10).toStdString();
		s.start_wall_ms = 1773000000000LL + i * 86400000LL;
		s.end_wall_ms = s.start_wall_ms + 3600000;
		Entry e;
		e.t_ms = 1000;
		e.label = "quote " + std::to_string(i);
		s.addEntry(e);
		ASSERT_TRUE(saveSession(s));
		ids.push_back(s.id);
	}
	ready();
	const QString oldest = QString::fromStdString(ids.front());
	engine->edits().setLabel(1, QStringLiteral("edited"), oldest);
	ASSERT_FALSE(engine->exports().exportQuotes().isEmpty());
	EXPECT_EQ(loadedSessionIds().size(), 12) << "all read for the quotes file";
	EXPECT_TRUE(sessionTrimTimer().isActive());

	trimLoadedSessions();
	QStringList kept = loadedSessionIds();
	EXPECT_EQ(kept.size(), 9) << kept.join(' ').toStdString();
	EXPECT_TRUE(kept.contains(oldest)) << "an unwritten change keeps its session";
	EXPECT_TRUE(kept.contains(QString::fromStdString(ids.back()))) << "the newest stay";
	EXPECT_FALSE(kept.contains(QString::fromStdString(ids[1])));

	// A dropped session is read again when asked for.
	Session *again = engine->findSession(QString::fromStdString(ids[1]));
	ASSERT_NE(again, nullptr);
	EXPECT_EQ(again->entries.at(0).label, "quote 1");

	// A write that fails (its ".tmp" name is taken by a folder) keeps the session until one lands.
	const QString blocked = sessionFile(ids.front()) + ".tmp";
	ASSERT_TRUE(QDir().mkpath(blocked));
	for (bool writable : {false, true}) {
		if (writable)
			ASSERT_TRUE(QDir().rmdir(blocked));
		flushSaves();
		trimLoadedSessions();
		EXPECT_TRUE(loadedSessionIds().contains(oldest)) << "its write is still on its way";
		waitForWrites();
		trimLoadedSessions();
		EXPECT_EQ(loadedSessionIds().contains(oldest), !writable);
	}
	EXPECT_EQ(loadedSessionIds().size(), 8);
}

TEST_F(SessionsTest, RemovingSessions)
{
	ready();
	ASSERT_TRUE(engine->startFreeSession());
	const QString older = engine->currentSessionId();
	ASSERT_TRUE(engine->endFreeSession());
	advance(60000);
	FrontendDouble::state().replayBufferActive = true;
	ASSERT_TRUE(engine->startFreeSession());
	const QString running = engine->currentSessionId();
	EXPECT_FALSE(engine->removeSession(running)) << "the running session stays";
	EXPECT_FALSE(engine->removeSession(QString()));
	EXPECT_FALSE(engine->removeSession(QStringLiteral("nope")));

	engine->viewSession(older);
	EXPECT_EQ(engine->viewedSessionId(), older);
	engine->edits().setArchiveUrl(QStringLiteral("https://example.com/a"), older);
	flushSaves(); // a write that must not bring the file back after the removal
	ASSERT_TRUE(engine->removeSession(older));
	waitForWrites();
	EXPECT_FALSE(QFile::exists(sessionFile(older.toStdString())));
	EXPECT_EQ(engine->viewedSessionId(), running) << "the view falls back to the running session";
	EXPECT_EQ(engine->statusText(), msg("Msg.SessionRemoved"));
	EXPECT_EQ(engine->sessionIds(), QStringList{running});

	// A file that cannot be deleted is a failure, and the session stays.
	ASSERT_TRUE(engine->endFreeSession());
	waitForWrites();
	const QString stuck = sessionFile(running.toStdString());
	ASSERT_TRUE(QFile::remove(stuck));
	ASSERT_TRUE(QDir().mkpath(stuck + "/held")); // unlink refuses it, whoever runs the test
	engine->edits().setArchiveUrl(QStringLiteral("https://example.com/b"), running);
	flushSaves();
	EXPECT_FALSE(engine->removeSession(running));
	EXPECT_NE(engine->findSession(running), nullptr);
	EXPECT_EQ(dirtySessionIds().count(running), 1u) << "a write it dropped is made again";
}

// A copy of a stored session ("X - Copy.json") is viewed, repaired and saved under its own name.
TEST_F(SessionsTest, ViewingACopiedSessionLeavesTheOriginalAlone)
{
	Session left;
	left.id = "2026-04-30_18-00-00";
	left.prefix = "2026-04-30 18-00";
	left.start_wall_ms = 1777000000000LL;
	left.end_wall_ms = left.start_wall_ms + 9000;
	Entry a;
	a.t_ms = 5000;
	left.addEntry(a);
	ASSERT_TRUE(saveSession(left));
	const QByteArray original = readFileBytes(sessionFile(left.id));
	const std::string copyId = left.id + " - Copy";
	ASSERT_TRUE(writeFileBytes(sessionFile(copyId), original));

	ready();
	engine->viewSession(QString::fromStdString(copyId));
	ASSERT_EQ(engine->viewedSessionId(), QString::fromStdString(copyId));
	engine->edits().setLabel(1, QStringLiteral("only in the copy"));
	flushSaves();
	waitForWrites();
	EXPECT_EQ(readFileBytes(sessionFile(left.id)), original);
	Session copy;
	ASSERT_TRUE(loadSession(copyId, copy));
	EXPECT_EQ(copy.entries.front().label, "only in the copy");
	EXPECT_EQ(copy.prefix, "2026-04-30 18-00 - Copy") << "its lists get names of their own";
}

TEST_F(SessionsTest, ABurstOfChangesIsWrittenOnce)
{
	ready();
	const long long id = engine->press(PressMode::MarkOnly, QString());
	Session &s = current();
	flushSaves();
	waitForWrites();
	const QByteArray before = readFileBytes(sessionFile(s.id));

	for (int i = 0; i < 10; ++i)
		engine->edits().setLabel(id, QStringLiteral("label %1").arg(i));
	EXPECT_TRUE(saveDelayTimer().isActive());
	EXPECT_EQ(saveDelayTimer().interval(), 400);
	EXPECT_EQ(readFileBytes(sessionFile(s.id)), before) << "nothing is written before the delay";
	EXPECT_TRUE(dirtyExportIds().empty()) << "a running session is not re-exported";

	flushSaves();
	waitForWrites();
	Session onDisk;
	ASSERT_TRUE(loadSession(s.id, onDisk));
	EXPECT_EQ(onDisk.entries.back().label, "label 9");
	EXPECT_TRUE(dirtySessionIds().empty());

	// The same values again change nothing and write nothing.
	engine->edits().setLabel(id, QStringLiteral("  label 9 "));
	engine->edits().setChapter(id, true);
	engine->edits().setShift(0);
	engine->edits().setArchiveUrl(QString());
	EXPECT_TRUE(dirtySessionIds().empty());

	// A steady stream of changes still reaches the disk 2 s after the first of them.
	for (int i = 0; i < 14; ++i) {
		engine->edits().setLabel(id, QStringLiteral("steady %1").arg(i));
		advance(150);
	}
	engine->edits().setLabel(id, QStringLiteral("steady last"));
	EXPECT_EQ(saveDelayTimer().interval(), 0);
	ASSERT_TRUE(waitUntil([&] { return dirtySessionIds().empty(); }));
	waitForWrites();
	ASSERT_TRUE(loadSession(s.id, onDisk));
	EXPECT_EQ(onDisk.entries.back().label, "steady last");
}

TEST_F(SessionsTest, EditsOfAnExportedSessionRewriteItsListsLater)
{
	ready();
	const long long id = engine->press(PressMode::MarkOnly, QString());
	ASSERT_TRUE(engine->endFreeSession());
	Session *s = engine->viewedSession();
	ASSERT_NE(s, nullptr);
	s->export_dir = (work.path() + "/lists").toStdString(); // as after a complete export

	engine->edits().setLabel(id, QStringLiteral("new"));
	EXPECT_EQ(dirtyExportIds().count(QString::fromStdString(s->id)), 1u);
	EXPECT_TRUE(exportDelayTimer().isActive());
	EXPECT_EQ(exportDelayTimer().interval(), 1500);
	engine->exports().flush();
	EXPECT_TRUE(dirtyExportIds().empty());
}

// A failed write stays unsaved and is tried again by itself, later each time, and once more at shutdown.
TEST_F(SessionsTest, FailedWritesAreRetriedUntilTheyLand)
{
	ready();
	ASSERT_TRUE(engine->startFreeSession());
	waitForWrites();
	const std::string id = current().id;
	const QString blocked = sessionFile(id) + ".tmp"; // a folder there makes every write fail
	auto labelsOnDisk = [&] {
		Session onDisk;
		EXPECT_TRUE(loadSession(id, onDisk)) << "the stored file stays readable";
		std::string labels;
		for (const Entry &e : onDisk.entries)
			labels += e.label + ";";
		return labels;
	};

	ASSERT_TRUE(QDir().mkpath(blocked));
	engine->press(PressMode::MarkOnly, QStringLiteral("one"));
	flushSaves();
	ASSERT_TRUE(waitUntil([&] { return saveRetryTimer().interval() == 4000; }, 3000));
	EXPECT_EQ(labelsOnDisk(), "");
	ASSERT_TRUE(QDir().rmdir(blocked));
	flushSaves();                                               // the retry timer's turn
	engine->press(PressMode::MarkOnly, QStringLiteral("late")); // after that text was taken
	waitForWrites();
	EXPECT_EQ(labelsOnDisk(), "one;");
	EXPECT_TRUE(saveRetryTimer().isActive()) << "the problem stays until the newest text lands";
	flushSaves();
	waitForWrites();
	EXPECT_EQ(labelsOnDisk(), "one;late;");
	EXPECT_FALSE(saveRetryTimer().isActive());

	ASSERT_TRUE(QDir().mkpath(blocked));
	engine->press(PressMode::MarkOnly, QStringLiteral("two"));
	flushSaves();
	ASSERT_TRUE(QDir().rmdir(blocked));
	engine->shutdown();
	EXPECT_EQ(labelsOnDisk(), "one;late;two;");
}

// While another session still fails, a write that lands says nothing is written again.
TEST_F(SessionsTest, TwoSessionsFailingAtOnceAreToldSavedOnlyWhenBothLand)
{
	ready();
	ASSERT_TRUE(engine->startFreeSession());
	const std::string first = current().id;
	ASSERT_TRUE(engine->endFreeSession() && engine->startFreeSession());
	waitForWrites();
	const QString blocked[] = {sessionFile(first) + ".tmp", sessionFile(current().id) + ".tmp"};
	for (const QString &dir : blocked)
		ASSERT_TRUE(QDir().mkpath(dir));
	engine->edits().setArchiveUrl(QStringLiteral("https://example.com/a"), QString::fromStdString(first));
	engine->press(PressMode::MarkOnly, QString());
	for (const QString &dir : blocked) {
		flushSaves();
		waitForWrites();
		EXPECT_TRUE(saveRetryTimer().isActive()) << "a session is still unsaved";
		EXPECT_FALSE(engine->statusText().startsWith(msg("Msg.SessionsSavedAgain")));
		ASSERT_TRUE(QDir().rmdir(dir));
	}
	flushSaves();
	waitForWrites();
	EXPECT_FALSE(saveRetryTimer().isActive());
	EXPECT_EQ(engine->statusText(), msg("Msg.SessionsSavedAgain"));
}

TEST_F(SessionsTest, ShutdownEndsTheSessionAndRefusesEverythingAfter)
{
	ready();
	const long long id = engine->press(PressMode::MarkOnly, QStringLiteral("x"));
	ASSERT_NE(id, 0);
	const std::string sid = current().id;
	engine->shutdown();
	EXPECT_TRUE(engine->isStopped());
	EXPECT_EQ(engine->currentSession(), nullptr);
	Session onDisk;
	ASSERT_TRUE(loadSession(sid, onDisk));
	EXPECT_TRUE(onDisk.isEnded());
	EXPECT_EQ(engine->press(PressMode::Default, QString()), 0);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(engine->currentSession(), nullptr);
	EXPECT_FALSE(renameTimerRef().isActive());
	EXPECT_EQ(engine->bufferStatus().seconds, 0);
}

} // namespace
