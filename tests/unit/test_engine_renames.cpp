#include "test_engine_fixture.h"

#include "engine/EngineSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

class RenamesTest : public EngineTest {
protected:
	QString clips;

	void SetUp() override
	{
		EngineTest::SetUp();
		clips = work.path() + "/clips";
		QDir().mkpath(clips);
		settings().press_replay = false;
		ready();
		FrontendDouble::state().replayBufferActive = true;
		FrontendDouble::state().streaming = true;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
		advance(5000);
	}

	QString makeFile(const QString &name)
	{
		const QString path = clips + "/" + name;
		EXPECT_TRUE(writeFileBytes(path, QByteArray("clip")));
		return path;
	}

	// A press whose clip OBS saved as this file; the rename is queued for 15 s later.
	long long savedPress(const QString &path, const QString &label = QString())
	{
		const long long id = engine->press(PressMode::Default, label);
		obsSaved(path);
		return id;
	}

	QString clipPath(long long id) { return QString::fromStdString(entry(id).clip.path); }
	QString base() const { return clips + "/2026-05-01 20-00 Lumark01 0-00-05"; }
};

TEST_F(RenamesTest, SavedClipAndItsRemuxedCopyGetTheirNamesAfterFifteenSeconds)
{
	const QString mkv = makeFile("Replay 2026-05-01 20-00-05.mkv");
	const QString mp4 = makeFile("Replay 2026-05-01 20-00-05.mp4");
	const long long id = savedPress(mkv);
	// Moved aside at once, with its copy, under OBS's name and the mark.
	const QString kept = clips + "/Replay 2026-05-01 20-00-05 (Lumark01)";
	EXPECT_EQ(clipPath(id), kept + ".mkv");
	EXPECT_TRUE(QFile::exists(kept + ".mp4"));
	ASSERT_EQ(renameQueue().size(), 1u);
	EXPECT_TRUE(renameTimerRef().isActive());

	advance(14999);
	renameTick();
	EXPECT_TRUE(QFile::exists(kept + ".mkv")) << "not before its time";

	advance(1);
	LogCapture log;
	renameTick();
	EXPECT_EQ(clipPath(id), base() + ".mkv");
	EXPECT_TRUE(QFile::exists(base() + ".mkv"));
	EXPECT_TRUE(QFile::exists(base() + ".mp4")) << "the remuxed copy follows";
	EXPECT_FALSE(QFile::exists(mkv));
	EXPECT_FALSE(QFile::exists(mp4));
	EXPECT_EQ(log.count("[lumark] clip renamed to 2026-05-01 20-00 Lumark01 0-00-05.mkv"), 1);
	EXPECT_TRUE(renameQueue().empty());
	EXPECT_FALSE(renameTimerRef().isActive());
	waitForWrites();
	Session onDisk;
	ASSERT_TRUE(loadSession(current().id, onDisk));
	EXPECT_EQ(onDisk.findEntry(id)->clip.path, (base() + ".mkv").toStdString()) << "on disk at once";

	// Asked again, the file already has its name.
	scheduleRename(id, 0);
	renameTick();
	EXPECT_EQ(clipPath(id), base() + ".mkv");
	EXPECT_TRUE(renameQueue().empty());
}

TEST_F(RenamesTest, ALockedRemuxedCopyIsRenamedOnALaterTick)
{
	const QString mkv = makeFile("a.mkv");
	const QString mp4 = makeFile("a.mp4");
	int refusals = 2; // at the move right after the save, and at the rename
	setFileOps(
	    [&](const QString &from, const QString &to) {
		    if (from == mp4 && refusals-- > 0)
			    return false;
		    return QFile::rename(from, to);
	    },
	    nullptr);
	savedPress(mkv);
	advance(15000);
	renameTick();
	EXPECT_TRUE(QFile::exists(base() + ".mkv"));
	EXPECT_TRUE(QFile::exists(mp4)) << "the copy was locked";
	ASSERT_EQ(remuxQueue().size(), 1u);
	EXPECT_EQ(remuxQueue()[0].to, base() + ".mp4");
	EXPECT_TRUE(renameTimerRef().isActive());

	LogCapture log;
	advance(4999);
	renameTick();
	EXPECT_TRUE(QFile::exists(mp4));
	advance(1);
	renameTick();
	EXPECT_TRUE(QFile::exists(base() + ".mp4"));
	EXPECT_FALSE(QFile::exists(mp4));
	EXPECT_EQ(log.count("[lumark] remuxed copy renamed to 2026-05-01 20-00 Lumark01 0-00-05.mp4"), 1);
	EXPECT_TRUE(remuxQueue().empty());
	EXPECT_FALSE(renameTimerRef().isActive());
}

TEST_F(RenamesTest, AClipHeldByAPlayerWaitsAndGoesRightAfterTheReplay)
{
	QString mkv = makeFile("held.mkv");
	bool held = true;
	setFileOps(nullptr, [&](const QString &path) { return held && path == mkv; });
	const long long id = savedPress(mkv);
	mkv = clipPath(id);
	advance(15000);
	renameTick();
	EXPECT_TRUE(QFile::exists(mkv));
	ASSERT_EQ(renameQueue().size(), 1u);
	EXPECT_EQ(renameQueue()[0].attempts, 1);
	EXPECT_EQ(renameQueue()[0].dueMs, wall + 5000);

	held = false;
	advance(1000);
	emit engine->players().replay().finished(mkv, id);
	ASSERT_NE(lastEvent("ReplayEnded"), nullptr);
	EXPECT_EQ(lastEvent("ReplayEnded")->data["file"].toString(), QStringLiteral("held (Lumark01).mkv"));
	EXPECT_EQ(lastEvent("ReplayEnded")->data["entry_id"].toInt(), id);
	EXPECT_EQ(renameQueue()[0].dueMs, wall + 300);
	advance(300);
	renameTick();
	EXPECT_EQ(clipPath(id), base() + ".mkv");
}

TEST_F(RenamesTest, TakenNamesGetANumberAndMp4ClipsTakeNoCopy)
{
	makeFile("2026-05-01 20-00 Lumark01 0-00-05.mp4");
	const QString older = makeFile("Replay.mp4");
	const long long id = savedPress(older);
	advance(15000);
	renameTick();
	EXPECT_EQ(clipPath(id), base() + " (2).mp4");
	EXPECT_TRUE(QFile::exists(base() + ".mp4")) << "the other file is left alone";
}

// The Engine looks for a free name first, but a file may appear in between: it must never be replaced.
TEST_F(RenamesTest, MovingOntoAnExistingFileIsRefusedAndBothStayWhole)
{
	const QString from = makeFile("Replay.mkv");
	const QString to = clips + "/taken.mkv";
	ASSERT_TRUE(writeFileBytes(to, QByteArray("other")));
	EXPECT_FALSE(moveFileNoReplace(from, to));
	EXPECT_EQ(readFileBytes(from), QByteArray("clip"));
	EXPECT_EQ(readFileBytes(to), QByteArray("other"));
}

TEST_F(RenamesTest, RenamingSwitchedOffLeavesTheFileUnderObsName)
{
	settings().rename_files = false;
	nameSavesIn(clips);
	const QString obsName = makeFile("Replay 2026-05-01 20-00-05.mkv");
	const long long id = savedPress(obsName);
	// Only kept out of the way of a save of the same second, which a clip needs to survive.
	EXPECT_EQ(clipPath(id), clips + "/Replay 2026-05-01 20-00-05 (Lumark01).mkv");
	advance(1000);
	ASSERT_TRUE(waitUntil([&] { return clipPath(id) == obsName; }));
	advance(15000);
	renameTick();
	EXPECT_TRUE(QFile::exists(obsName));
	EXPECT_EQ(clipPath(id), obsName);
	EXPECT_TRUE(renameQueue().empty());
	EXPECT_FALSE(renameTimerRef().isActive());
}

// A session file copied by hand still names the original's clips: shown and played from there, never
// renamed, whoever edits the copy, whatever the copy's file is called and whether or not the original
// is loaded; the original keeps renaming its own.
TEST_F(RenamesTest, ACopiedSessionNeverRenamesTheOriginalsClips)
{
	const long long id = savedPress(makeFile("copied.mkv"));
	const std::string originalId = current().id;
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	renameTick();
	const QString named = base() + ".mkv";
	ASSERT_EQ(clipPath(id), named);
	flushSaves();
	waitForWrites();
	const QString copyId = QStringLiteral("Backup");
	ASSERT_TRUE(QFile::copy(sessionFile(originalId), sessionFile(copyId.toStdString())));
	engine->edits().setArchiveUrl(QStringLiteral("https://example.com/backup"), copyId); // written as its own
	flushSaves();
	waitForWrites();
	engine.reset(); // a restart: neither is loaded
	engine = std::make_unique<Engine>();
	setClocks(
	    *engine, [this] { return monoNs; }, [this] { return wall; });

	LogCapture log;
	engine->edits().setShift(1000, copyId);
	advance(2500);
	renameTick();
	EXPECT_TRUE(QFile::exists(named));
	EXPECT_EQ(log.count("not renamed for its copy"), 1);

	engine->edits().setLabel(id, QStringLiteral("mine"), QString::fromStdString(originalId));
	advance(2500);
	renameTick();
	EXPECT_EQ(engine->findSession(QString::fromStdString(originalId))->findEntry(id)->clip.path,
		  (base() + " mine.mkv").toStdString());
}

TEST_F(RenamesTest, GivesUpAfterOneHundredTwentyRefusals)
{
	const QString mkv = makeFile("stuck.mkv");
	setFileOps([](const QString &, const QString &) { return false; }, nullptr);
	const long long id = savedPress(mkv);
	advance(15000);
	LogCapture log;
	for (int i = 0; i < 120; ++i) {
		renameTick();
		advance(5000);
	}
	EXPECT_EQ(renameQueue().size(), 1u);
	EXPECT_EQ(log.count("gave up"), 0);
	renameTick();
	EXPECT_TRUE(renameQueue().empty());
	EXPECT_EQ(log.count("[lumark] gave up renaming a clip (still in use after 10 minutes)"), 1);
	EXPECT_EQ(clipPath(id), mkv) << "the path stays valid";
}

TEST_F(RenamesTest, SessionEndRenamesAtTheNextTickAndAGoneFileIsReported)
{
	const QString mkv = makeFile("end.mkv");
	const QString gone = makeFile("gone.mkv");
	const long long id = savedPress(mkv);
	advance(1000);
	const long long other = savedPress(gone);
	QFile::remove(clipPath(other));
	advance(1000);
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	LogCapture log;
	renameTick();
	EXPECT_EQ(clipPath(id), base() + ".mkv");
	EXPECT_EQ(log.count("[lumark] clip file is gone, not renamed (gone (Lumark02).mkv)"), 1);
	EXPECT_EQ(clipPath(other), clips + "/gone (Lumark02).mkv");
	EXPECT_TRUE(renameQueue().empty());
}

TEST_F(RenamesTest, TwoLabelEditsGiveOneRenameAfterTheSecond)
{
	const QString mkv = makeFile("label.mkv");
	const long long id = savedPress(mkv);
	const QString kept = clipPath(id);
	engine->edits().setLabel(id, QStringLiteral("first"));
	advance(1000);
	engine->edits().setLabel(id, QStringLiteral("Big moment"));
	ASSERT_EQ(renameQueue().size(), 1u);
	EXPECT_EQ(renameQueue()[0].dueMs, wall + 2500);
	advance(2499);
	renameTick();
	EXPECT_EQ(clipPath(id), kept);
	advance(1);
	renameTick();
	EXPECT_EQ(clipPath(id), base() + " Big moment.mkv");
}

} // namespace
