#include "test_engine_fixture.h"

#include "lists/TextFormat.h"

namespace {

class EditTest : public EngineTest {
protected:
	void SetUp() override
	{
		EngineTest::SetUp();
		settings().press_replay = false;
		ready();
		FrontendDouble::state().replayBufferActive = true;
		FrontendDouble::state().streaming = true;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	}
};

TEST_F(EditTest, RemovingTheOwnerHandsTheFileToTheNextSharer)
{
	engine->press(PressMode::Default, QString());
	advance(1000);
	const long long p2 = engine->press(PressMode::Default, QString());
	advance(1000);
	const long long p3 = engine->press(PressMode::Default, QString());
	advance(1000);
	const long long p4 = engine->press(PressMode::Default, QString());
	obsSaved(QStringLiteral("/clips/1.mkv"));
	obsSaved(QStringLiteral("/clips/2.mkv"));
	ASSERT_EQ(entry(p3).clip.shared_with, p2);
	ASSERT_EQ(entry(p4).clip.shared_with, p2);

	// A sharer's new label renames the owner's file.
	engine->edits().setLabel(p4, QStringLiteral("memo"));
	ASSERT_EQ(renameQueue().back().ref.entryId, p2);
	EXPECT_EQ(renameQueue().back().dueMs, wall + 2500);

	advance(500);
	engine->edits().removeEntry(p2);
	EXPECT_EQ(entry(p3).clip.shared_with, 0);
	EXPECT_EQ(entry(p3).clip.path, "/clips/2.mkv");
	EXPECT_EQ(entry(p4).clip.shared_with, p3);
	EXPECT_EQ(current().findEntry(p2), nullptr);
	EXPECT_EQ(renameQueue().back().ref.entryId, p3);
	EXPECT_EQ(renameQueue().back().dueMs, wall + 2500);
	EXPECT_EQ(current().next_id, p4 + 1) << "ids are not given back";
}

TEST_F(EditTest, ShiftToAPressMakesItZeroAndRenamesEverySavedClip)
{
	advance(1000);
	const long long p1 = engine->press(PressMode::Default, QString());
	obsSaved(QStringLiteral("/clips/1.mkv"));
	advance(9000);
	const long long p2 = engine->press(PressMode::Default, QString());
	obsSaved(QStringLiteral("/clips/2.mkv"));
	advance(100);
	engine->edits().setShiftToEntry(p2);
	EXPECT_EQ(current().shift_ms, 10000);
	ASSERT_EQ(renameQueue().size(), 2u);
	for (const RenameJob &job : renameQueue())
		EXPECT_EQ(job.dueMs, wall + 2500);
	EXPECT_EQ(formatOffset(entry(p2).t_ms - current().shift_ms), "00:00");
	EXPECT_EQ(archiveTimeText(current(), entry(p1).t_ms, engine->exports().texts()),
		  engine->exports().texts().notes_before_cut);

	engine->edits().setShift(-3000);
	EXPECT_EQ(current().shift_ms, -3000);
	engine->edits().setShiftToEntry(424242); // no such entry
	EXPECT_EQ(current().shift_ms, -3000);
}

TEST_F(EditTest, ArchiveUrlChaptersAndShortChapterDrop)
{
	engine->edits().setArchiveUrl(QStringLiteral("  https://example.com/v  "));
	EXPECT_EQ(current().archive_url, "https://example.com/v");

	advance(5000);
	const long long early = engine->press(PressMode::MarkOnly, QString());
	advance(25000);
	engine->press(PressMode::MarkOnly, QString());
	advance(30000);
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(
	    OBS_FRONTEND_EVENT_STREAMING_STOPPED); // a session of 1:00, chapters at 0:00, 0:05, 0:30
	ASSERT_NE(engine->viewedSession(), nullptr);
	flushSaves();
	EXPECT_EQ(engine->edits().dropShortChapters(), 1);
	EXPECT_FALSE(entry(early).chapter);
	EXPECT_EQ(dirtySessionIds().size(), 1u);
	EXPECT_EQ(engine->edits().dropShortChapters(), 0);

	engine->edits().setChapter(early, true);
	EXPECT_TRUE(entry(early).chapter);
}

TEST_F(EditTest, EditsNeedAViewedSessionAndAnEntry)
{
	engine->edits().setLabel(999, QStringLiteral("x"));
	engine->edits().removeEntry(999);
	engine->edits().setChapter(999, false);
	EXPECT_TRUE(dirtySessionIds().empty());
	// An explicit session id reaches a session that is not viewed.
	const long long id = engine->press(PressMode::MarkOnly, QString());
	const QString running = engine->currentSessionId();
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	flushSaves();
	FrontendDouble::state().streaming = true;
	advance(60000);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	engine->edits().setLabel(id, QStringLiteral("later"), running);
	EXPECT_EQ(engine->findSession(running)->findEntry(id)->label, "later");
}

} // namespace
