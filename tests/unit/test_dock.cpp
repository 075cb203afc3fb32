#include "FrontendDouble.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "test_engine_fixture.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "playback/Recap.h"
#include "util/ModuleCore.h"
#include "session/Session.h"
#include "session/SessionStore.h"
#include "ui/LumarkDock.h"
#include "ui/StatusTexts.h"
#include "ui/UiText.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QApplication>
#include <QTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

// Reaches the dock's private widgets; the dock declares it a friend.
struct LumarkDockTestAccess {
	LumarkDock &d;
	QPushButton *press() { return d.pressButton; }
	QPushButton *markOnly() { return d.markOnlyButton; }
	QPushButton *replay() { return d.replayButton; }
	QPushButton *stopReplay() { return d.stopReplayButton; }
	QLineEdit *memo() { return d.memoEdit; }
	QLabel *memoLabel() { return d.memoLabel; }
	QLabel *message() { return d.messageLabel; }
	QComboBox *sessions() { return d.sessionCombo; }
	QTableWidget *table() { return d.entryTable; }
	// A rebuild held back by the burst limit is done now, as the event loop would shortly.
	void settle()
	{
		if (d.tableThrottleTimer->isActive())
			d.rebuildTable();
	}
	QLineEdit *shift() { return d.shiftEdit; }
	QLineEdit *url() { return d.urlEdit; }
	QLabel *check() { return d.checkLabel; }
	QPushButton *dropShort() { return d.dropShortButton; }
	QPushButton *removeSession() { return d.removeSessionButton; }
	QPushButton *freeSession() { return d.freeSessionButton; }
	QPushButton *settings() { return d.settingsButton; }
	void refresh() { d.refreshStatus(); }
};

namespace {

QString text(const char *key)
{
	return moduleQText(key);
}

class DockTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	std::unique_ptr<Engine> engine;
	std::unique_ptr<LumarkDock> dock;
	int settingsOpened = 0;

	void SetUp() override
	{
		FrontendDouble::reset();
		loadSettings();
		engine = std::make_unique<Engine>();
		engine->onFinishedLoading();
		dock = std::make_unique<LumarkDock>(*engine, [this] { ++settingsOpened; });
		dock->resize(320, 900);
		dock->show();
	}
	void TearDown() override
	{
		dock.reset();
		engine.reset();
		FrontendDouble::reset();
	}
	LumarkDockTestAccess ui()
	{
		LumarkDockTestAccess access{*dock};
		access.settle();
		return access;
	}

	// Row of the entry with this id in the table, -1 when absent.
	int rowOf(int64_t id)
	{
		QTableWidget *t = ui().table();
		for (int r = 0; r < t->rowCount(); ++r)
			if (t->item(r, 1) && t->item(r, 1)->data(Qt::UserRole).toLongLong() == id)
				return r;
		return -1;
	}
};

TEST_F(DockTest, ButtonsMakeTheirEntries)
{
	// A plain press saves a clip without playing it; only the replay button asks for the replay.
	settings().press_replay = false;
	FrontendDouble::state().replayBufferActive = true;
	QTest::mouseClick(ui().press(), Qt::LeftButton);
	QTest::mouseClick(ui().markOnly(), Qt::LeftButton);
	QTest::mouseClick(ui().replay(), Qt::LeftButton);

	Session *running = engine->currentSession();
	ASSERT_NE(running, nullptr) << "the first press starts a free session";
	EXPECT_EQ(running->source, SessionSource::Free);
	std::vector<const Entry *> presses;
	for (const Entry &e : running->entries)
		if (e.kind == EntryKind::Press)
			presses.push_back(&e);
	ASSERT_EQ(presses.size(), 3u);
	EXPECT_EQ(presses[0]->number, 1);
	EXPECT_NE(presses[0]->clip.state, ClipState::None) << "a press asks for a clip";
	EXPECT_EQ(presses[1]->clip.state, ClipState::None) << "mark only asks for none";
	EXPECT_FALSE(presses[0]->clip.want_replay);
	EXPECT_NE(presses[2]->clip.state, ClipState::None);
	EXPECT_TRUE(presses[2]->clip.want_replay);
	EXPECT_EQ(FrontendDouble::state().replayBufferSaveRequests, 1) << "the later press waits for the save";

	// The running session is the viewed one: every press shows up as a row, in order.
	ASSERT_EQ(ui().table()->rowCount(), 3);
	EXPECT_EQ(ui().table()->item(2, 2)->text(), QString::fromUtf8("Lumark03"));
	const QString id = QString::fromUtf8(running->id.c_str());
	EXPECT_EQ(ui().sessions()->currentText(),
		  text("Dock.SessionNow").arg(LumarkDock::sessionDisplayName(id, false)));
	EXPECT_FALSE(ui().stopReplay()->isEnabled()) << "nothing is playing";

	QTest::mouseClick(ui().settings(), Qt::LeftButton);
	EXPECT_EQ(settingsOpened, 1) << "the settings button asks the module for its dialog";
}

TEST_F(DockTest, LabelEditAndChapterTickReachTheEngineButRebuildsDoNot)
{
	ASSERT_TRUE(engine->startFreeSession());
	engine->press(PressMode::MarkOnly, QString());
	engine->press(PressMode::MarkOnly, QString());
	Session *s = engine->currentSession();
	ASSERT_NE(s, nullptr);
	ASSERT_EQ(s->entries.size(), 2u);
	const int64_t first = s->entries[0].id;
	const int64_t second = s->entries[1].id;

	// The user renames the first press in its label cell.
	ui().table()->item(rowOf(first), 3)->setText(QStringLiteral("nice save"));
	EXPECT_EQ(engine->currentSession()->findEntry(first)->label, "nice save");

	// The user unticks the second press: it leaves the chapters and its row turns grey.
	ui().table()->item(rowOf(second), 0)->setCheckState(Qt::Unchecked);
	EXPECT_FALSE(engine->currentSession()->findEntry(second)->chapter);
	const int row = rowOf(second);
	const QColor grey = dock->palette().color(QPalette::Disabled, QPalette::Text);
	EXPECT_EQ(ui().table()->item(row, 1)->foreground().color(), grey);
	EXPECT_EQ(ui().table()->item(row, 0)->checkState(), Qt::Unchecked);

	// An unchecked entry slipped in ahead of the others moves every row down by one. The rebuild
	// then ticks and unticks boxes whose rows still carry the old ids; none of that may reach the
	// Engine as if the user had done it.
	Entry early;
	early.kind = EntryKind::Scene;
	early.t_ms = -1;
	early.chapter = false;
	engine->currentSession()->addEntry(early);
	QSignalSpy changed(engine.get(), &Engine::sessionChanged);
	emit engine->sessionChanged();
	EXPECT_EQ(changed.count(), 1) << "the rebuild itself changed the session";
	s = engine->currentSession();
	EXPECT_TRUE(s->findEntry(first)->chapter);
	EXPECT_FALSE(s->findEntry(second)->chapter);
	EXPECT_EQ(s->findEntry(first)->label, "nice save");
	EXPECT_EQ(ui().table()->rowCount(), 3);
	EXPECT_EQ(ui().table()->item(rowOf(first), 0)->checkState(), Qt::Checked);

	// The viewed session changes while the table still shows another (an editor was open): the
	// edit lands on the row's own session, not on the entry of the same id in the viewed one.
	const QString ended = engine->currentSessionId();
	ASSERT_TRUE(engine->endFreeSession());
	ASSERT_TRUE(engine->startFreeSession());
	engine->press(PressMode::MarkOnly, QString());
	const QString running = engine->currentSessionId();
	ASSERT_NE(running, ended);
	ASSERT_EQ(rowOf(first), 0);
	{
		const QSignalBlocker quiet(engine.get());
		engine->viewSession(ended);
	}
	ui().table()->item(rowOf(first), 3)->setText(QStringLiteral("for the shown row"));
	ui().table()->item(rowOf(first), 0)->setCheckState(Qt::Unchecked);
	EXPECT_EQ(engine->findSession(running)->findEntry(first)->label, "for the shown row");
	EXPECT_FALSE(engine->findSession(running)->findEntry(first)->chapter);
	EXPECT_EQ(engine->findSession(ended)->findEntry(first)->label, "nice save");
	EXPECT_TRUE(engine->findSession(ended)->findEntry(first)->chapter);
}

TEST_F(DockTest, SelectionFollowsTheEntryAcrossRebuilds)
{
	ASSERT_TRUE(engine->startFreeSession());
	engine->press(PressMode::MarkOnly, QString());
	engine->press(PressMode::MarkOnly, QString());
	const int64_t second = engine->currentSession()->entries[1].id;
	ui().table()->selectRow(rowOf(second));
	ASSERT_EQ(dock->selectedEntryId(), second);

	Entry early;
	early.kind = EntryKind::Scene;
	early.t_ms = -1;
	engine->currentSession()->addEntry(early);
	emit engine->sessionChanged();
	EXPECT_EQ(dock->selectedEntryId(), second);
	EXPECT_EQ(ui().table()->currentRow() >= 0 ? ui().table()->selectedItems().first()->row() : -1, rowOf(second));
}

TEST_F(DockTest, ShiftFieldTakesNegativeTimesAndRefusesBadOnes)
{
	ASSERT_TRUE(engine->startFreeSession());
	engine->press(PressMode::MarkOnly, QString());
	QLineEdit *shift = ui().shift();
	ASSERT_TRUE(shift->isEnabled());

	shift->setText(QStringLiteral("-0:05"));
	emit shift->editingFinished();
	EXPECT_EQ(engine->viewedSession()->shift_ms, -5000);
	EXPECT_EQ(ui().shift()->text(), QStringLiteral("-00:05"));

	shift->setText(QStringLiteral("1:60"));
	emit shift->editingFinished();
	EXPECT_EQ(engine->viewedSession()->shift_ms, -5000) << "a bad time changes nothing";
	EXPECT_EQ(ui().message()->text(), text("Msg.BadTime"));
	ui().refresh();
	EXPECT_EQ(ui().message()->text(), text("Msg.BadTime")) << "the dock's own message stays readable";
	EngineTest::setStatus(*engine, QStringLiteral("news from the engine"));
	ui().refresh();
	EXPECT_EQ(ui().message()->text(), QStringLiteral("news from the engine"));

	shift->setText(QStringLiteral("  "));
	emit shift->editingFinished();
	EXPECT_EQ(engine->viewedSession()->shift_ms, 0) << "an empty field means 0:00";
	EXPECT_EQ(ui().shift()->text(), QString());

	// Typed for this session: a stream starting before Enter receives neither the shift nor the address.
	const QString typedFor = engine->viewedSessionId();
	QTest::keyClicks(shift, QStringLiteral("0:07"));
	QTest::keyClicks(ui().url(), QStringLiteral("https://v.example/1"));
	FrontendDouble::state().streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	QLineEdit *url = ui().url();
	ASSERT_NE(engine->viewedSessionId(), typedFor);
	emit shift->editingFinished();
	emit url->editingFinished();
	EXPECT_EQ(engine->findSession(typedFor)->shift_ms, 7000);
	EXPECT_EQ(engine->findSession(typedFor)->archive_url, "https://v.example/1");
	EXPECT_EQ(engine->currentSession()->shift_ms, 0);
	EXPECT_EQ(engine->currentSession()->archive_url, "");
}

TEST_F(DockTest, ComboShowsSecondsOnlyForSessionsOfTheSameMinute)
{
	for (const char *id : {"2024-05-01_21-07-33", "2024-05-01_21-07-50", "2024-05-01_22-00-00"}) {
		Session s;
		s.id = id;
		s.prefix = id;
		s.start_wall_ms = 1714590000000;
		s.end_wall_ms = s.start_wall_ms + 60000;
		ASSERT_TRUE(saveSession(s));
	}
	emit engine->sessionListChanged();
	QStringList shown;
	for (int i = 0; i < ui().sessions()->count(); ++i)
		shown << ui().sessions()->itemText(i);
	EXPECT_TRUE(shown.contains(QStringLiteral("2024-05-01 21:07:33"))) << shown.join('|').toStdString();
	EXPECT_TRUE(shown.contains(QStringLiteral("2024-05-01 21:07:50"))) << shown.join('|').toStdString();
	EXPECT_TRUE(shown.contains(QStringLiteral("2024-05-01 22:00"))) << shown.join('|').toStdString();
	EXPECT_EQ(ui().sessions()->findData(QStringLiteral("2024-05-01_22-00-00")) >= 0, true);

	// Choosing one views it; an ended session can be removed, and its check line is filled in.
	const int index = ui().sessions()->findData(QStringLiteral("2024-05-01_21-07-50"));
	ui().sessions()->setCurrentIndex(index);
	emit ui().sessions()->activated(index);
	EXPECT_EQ(engine->viewedSessionId(), QStringLiteral("2024-05-01_21-07-50"));
	EXPECT_TRUE(ui().removeSession()->isEnabled());
	EXPECT_EQ(ui().check()->text(), text("Check.One").arg(text("Check.TooFew").arg(0)));
}

TEST_F(DockTest, EmptyListShowsThePlaceholderAndChoosingItChangesNothing)
{
	ASSERT_EQ(ui().sessions()->count(), 1);
	EXPECT_EQ(ui().sessions()->itemText(0), text("Dock.NoSessions"));
	QSignalSpy changed(engine.get(), &Engine::sessionChanged);
	emit ui().sessions()->activated(0);
	EXPECT_EQ(changed.count(), 0);
	EXPECT_FALSE(ui().shift()->isEnabled());
	EXPECT_FALSE(ui().removeSession()->isEnabled());
	EXPECT_TRUE(ui().check()->text().isEmpty());
}

TEST_F(DockTest, MemoGoesToThePreviousPressWhenANewOneArrives)
{
	EXPECT_FALSE(ui().memo()->isEnabled()) << "no press yet";
	EXPECT_EQ(ui().memoLabel()->text(), text("Dock.MemoNone"));

	QTest::mouseClick(ui().press(), Qt::LeftButton);
	ASSERT_TRUE(ui().memo()->isEnabled());
	EXPECT_EQ(ui().memoLabel()->text(), text("Dock.MemoTarget").arg(QStringLiteral("Lumark01")));
	QTest::keyClicks(ui().memo(), QStringLiteral("what a goal"));

	QTest::mouseClick(ui().press(), Qt::LeftButton);
	const Session *s = engine->currentSession();
	ASSERT_NE(s, nullptr);
	ASSERT_EQ(s->entries.size(), 2u);
	EXPECT_EQ(s->entries[0].label, "what a goal");
	EXPECT_NE(s->entries[1].label, "what a goal");
	EXPECT_TRUE(ui().memo()->text().isEmpty()) << "the memo starts over for the new press";
	EXPECT_EQ(ui().memoLabel()->text(), text("Dock.MemoTarget").arg(QStringLiteral("Lumark02")));

	// Enter writes it to the current target.
	QTest::keyClicks(ui().memo(), QStringLiteral("replay this"));
	QTest::keyClick(ui().memo(), Qt::Key_Return);
	EXPECT_EQ(engine->currentSession()->entries[1].label, "replay this");
}

TEST_F(DockTest, MenuReplayPlaysTheRowsSessionWhenTheViewChangesMeanwhile)
{
	// Two ended sessions; entry 1 owns a clip only in the first.
	QStringList ids;
	for (const char *name : {"a", "b"}) {
		Session s;
		s.id = std::string("2024-05-0") + (*name == 'a' ? "1" : "2") + "_21-07-33";
		s.start_wall_ms = 1714590000000;
		s.end_wall_ms = s.start_wall_ms + 60000;
		Entry p;
		p.kind = EntryKind::Press;
		p.clip.state = *name == 'a' ? ClipState::Saved : ClipState::None;
		p.clip.path = *name == 'a' ? "/clips/a.mkv" : "";
		ASSERT_EQ(s.addEntry(p).id, 1);
		ASSERT_TRUE(saveSession(s));
		ids << QString::fromStdString(s.id);
	}
	engine->viewSession(ids[0]);
	QTableWidget *table = ui().table();
	ASSERT_EQ(rowOf(1), 0);
	LogCapture log;
	// While the menu is open another session comes into view; then Replay is chosen.
	QTimer::singleShot(50, [&] {
		engine->viewSession(ids[1]);
		auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
		ASSERT_NE(menu, nullptr);
		for (QAction *action : menu->actions())
			if (action->text() == text(UiText::MenuReplay))
				menu->setActiveAction(action);
		QTest::keyClick(menu, Qt::Key_Return);
	});
	emit table->customContextMenuRequested(table->visualItemRect(table->item(0, 1)).center());
	// The first session's clip is asked for (no replay scene here, so the player says why it can't).
	EXPECT_EQ(log.count("replay: media source not found"), 1);
}

TEST_F(DockTest, MemoFollowsTheRunningSessionNotTheViewedOne)
{
	Session old;
	old.id = "2024-05-01_21-07-33";
	old.start_wall_ms = 1714590000000;
	old.end_wall_ms = old.start_wall_ms + 60000;
	Entry p;
	p.kind = EntryKind::Press;
	old.addEntry(p);
	ASSERT_TRUE(saveSession(old));

	QTest::mouseClick(ui().press(), Qt::LeftButton);
	const QString running = engine->currentSessionId();
	engine->viewSession(QStringLiteral("2024-05-01_21-07-33"));
	QTest::keyClicks(ui().memo(), QStringLiteral("memo"));
	emit ui().memo()->editingFinished();
	EXPECT_EQ(engine->findSession(running)->entries[0].label, "memo");
	EXPECT_NE(engine->findSession(QStringLiteral("2024-05-01_21-07-33"))->entries[0].label, "memo");
}

TEST_F(DockTest, SessionDisplayNames)
{
	EXPECT_EQ(LumarkDock::sessionDisplayName(QStringLiteral("2024-05-01_21-07-33"), false),
		  QStringLiteral("2024-05-01 21:07"));
	EXPECT_EQ(LumarkDock::sessionDisplayName(QStringLiteral("2024-05-01_21-07-33"), true),
		  QStringLiteral("2024-05-01 21:07:33"));
	EXPECT_EQ(LumarkDock::sessionDisplayName(QStringLiteral("2024-05-01_21-07-33_2"), true),
		  QStringLiteral("2024-05-01 21:07:33"));
	EXPECT_EQ(LumarkDock::sessionDisplayName(QStringLiteral("my session"), true), QStringLiteral("my session"));
	EXPECT_EQ(LumarkDock::sessionDisplayName(QStringLiteral("2024-05-01-21-07-33"), true),
		  QStringLiteral("2024-05-01-21-07-33"));
}

TEST_F(DockTest, ClipCellTexts)
{
	Session s;
	s.shift_ms = 10000;
	Entry owner;
	owner.kind = EntryKind::Press;
	owner.number = 3;
	owner.clip.state = ClipState::Saved;
	owner.clip.path = "/clips/a b.mkv";
	owner.clip.start_ms = 5000;
	owner.clip.end_ms = 30000;
	const int64_t ownerId = s.addEntry(owner).id;
	Entry shared;
	shared.kind = EntryKind::Press;
	shared.clip.state = ClipState::Saved;
	shared.clip.shared_with = ownerId;
	const Entry sharedStored = s.addEntry(shared);

	auto own = LumarkDock::clipCellText(*s.findEntry(ownerId), s, *engine);
	EXPECT_EQ(own.first, QStringLiteral("a b.mkv"));
	EXPECT_TRUE(own.second.endsWith(text("Clip.RangeTip").arg(QStringLiteral("00:00"), QStringLiteral("00:20"))))
	    << own.second.toStdString();
	auto other = LumarkDock::clipCellText(sharedStored, s, *engine);
	EXPECT_EQ(other.first, text("Clip.Shared").arg(QStringLiteral("Lumark03")));
	EXPECT_EQ(other.second, text("Clip.SharedTip"));

	s.removeEntry(ownerId);
	EXPECT_EQ(LumarkDock::clipCellText(sharedStored, s, *engine).first, text("Clip.Shared").arg(QString()));
	Entry waiting;
	waiting.clip.state = ClipState::Waiting;
	EXPECT_EQ(LumarkDock::clipCellText(waiting, s, *engine).first, text("Clip.Waiting"));
	Entry none;
	EXPECT_TRUE(LumarkDock::clipCellText(none, s, *engine).first.isEmpty());
}

TEST_F(DockTest, TimesBeforeTheShiftAndTheChapterCheckLine)
{
	ASSERT_TRUE(engine->startFreeSession());
	for (int i = 0; i < 3; ++i)
		engine->press(PressMode::MarkOnly, QString());
	Session *s = engine->currentSession();
	s->entries[0].t_ms = 0;
	s->entries[1].t_ms = 20000;
	s->entries[2].t_ms = 40000;
	emit engine->sessionChanged();
	EXPECT_EQ(ui().check()->text(), text("Check.Ok"));
	EXPECT_EQ(ui().check()->toolTip(), text("Check.LastLater")) << "the last chapter is measured at the end";
	EXPECT_EQ(ui().check()->styleSheet(), QStringLiteral("color: #2e8b57;"));
	EXPECT_TRUE(ui().dropShort()->isHidden());

	engine->edits().setShift(25000);
	QTableWidget *t = ui().table();
	EXPECT_EQ(t->item(1, 1)->text(), text("Time.BeforeCut"));
	EXPECT_EQ(t->item(1, 1)->toolTip(), text("Time.StreamTip").arg(QStringLiteral("00:20")));
	EXPECT_EQ(t->item(2, 1)->text(), QStringLiteral("00:15"));
	// Only the last chapter before the cut survives, at 0:00: two chapters are too few.
	EXPECT_EQ(ui().check()->text(), text("Check.One").arg(text("Check.TooFew").arg(2)));
	EXPECT_EQ(ui().check()->styleSheet(), QStringLiteral("color: #c77700;"));

	// A chapter five seconds after the first is too short; the repair button shows up.
	engine->edits().setShift(0);
	engine->currentSession()->entries[1].t_ms = 5000;
	emit engine->sessionChanged();
	EXPECT_FALSE(ui().dropShort()->isHidden());
	EXPECT_TRUE(ui().check()->toolTip().contains(
	    text("Check.TooShort").arg(QStringLiteral("00:00"), QStringLiteral("Lumark01"), QStringLiteral("5"))))
	    << ui().check()->toolTip().toStdString();
	QTest::mouseClick(ui().dropShort(), Qt::LeftButton);
	EXPECT_FALSE(engine->currentSession()->entries[1].chapter);

	ASSERT_TRUE(engine->endFreeSession());
	ASSERT_NE(engine->viewedSession(), nullptr);
	EXPECT_TRUE(ui().removeSession()->isEnabled()) << "an ended session can be removed";
}

TEST_F(DockTest, ReplayProblemAloneShowsWithoutLeadingBreak)
{
	// A replay of a saved clip with no replay scene placed anywhere fails with problem 3.
	ASSERT_TRUE(engine->startFreeSession());
	EngineTest::setStatus(*engine, QString());
	engine->players().replay().play(QStringLiteral("/nowhere/clip.mkv"), 1);
	dock->refreshStatus();
	const InstantReplay::Problem problem = engine->players().replay().problem();
	ASSERT_NE(problem, InstantReplay::Problem::NoProblem);
	const QString shown = ui().message()->text();
	EXPECT_FALSE(shown.startsWith('\n'));
	EXPECT_TRUE(shown == text("Replay.NoMedia") || shown == text("Replay.NotPlaced")) << shown.toStdString();
}

TEST_F(DockTest, FreeSessionButtonStartsAndEndsAndHidesWhileStreaming)
{
	dock->refreshStatus();
	EXPECT_FALSE(ui().freeSession()->isHidden());
	QTest::mouseClick(ui().freeSession(), Qt::LeftButton);
	ASSERT_NE(engine->currentSession(), nullptr);
	EXPECT_EQ(ui().freeSession()->text(), text("Dock.EndFreeSession"));
	QTest::mouseClick(ui().freeSession(), Qt::LeftButton);
	EXPECT_EQ(engine->currentSession(), nullptr);
	EXPECT_EQ(ui().freeSession()->text(), text("Dock.StartFreeSession"));

	FrontendDouble::state().streaming = true;
	dock->refreshStatus();
	EXPECT_TRUE(ui().freeSession()->isHidden());
}

} // namespace

namespace {

TEST_F(DockTest, BurstOfPressesRebuildsTheTableOnceThenCatchesUp)
{
	settings().press_clip = false;
	settings().press_replay = false;
	ASSERT_TRUE(engine->startFreeSession());
	for (int i = 0; i < 50; ++i)
		engine->press(PressMode::MarkOnly, QStringLiteral("take %1").arg(i));
	// Only the first change of the burst rebuilt the rows; the rest wait for one later pass.
	QTableWidget *table = LumarkDockTestAccess{*dock}.table();
	EXPECT_LT(table->rowCount(), 50);
	ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 50; }, 3000));
	EXPECT_EQ(table->item(49, 3)->text(), QStringLiteral("take 49"));
}

} // namespace

namespace {

TEST(DockStatusTexts, EachStateTheDockAndTheDialogShow)
{
	Session free;
	free.source = SessionSource::Free;
	Session stream;
	stream.source = SessionSource::Stream;
	Session recording;
	recording.source = SessionSource::Recording;
	recording.start_wall_ms = QDateTime(QDate(2024, 5, 1), QTime(21, 7, 33)).toMSecsSinceEpoch();

	EXPECT_EQ(freeSessionButtonText(nullptr), QStringLiteral("Start free session"));
	EXPECT_EQ(freeSessionButtonText(&free), QStringLiteral("End free session"));
	EXPECT_EQ(freeSessionButtonText(&stream), QStringLiteral("Start free session"));

	EXPECT_EQ(sessionStatusText(nullptr, 0), text("Status.Idle"));
	EXPECT_EQ(sessionStatusText(&stream, 65000), QStringLiteral("Streaming 01:05"));
	EXPECT_EQ(sessionStatusText(&recording, 0), QStringLiteral("Recording 00:00"));
	EXPECT_EQ(sessionStatusText(&free, 3000), QStringLiteral("Free session 00:03"));

	BufferStatus buffer;
	buffer.enabled = true;
	EXPECT_TRUE(bufferStatusText(false, buffer).isEmpty()) << "nothing before OBS is ready";
	buffer.active = true;
	buffer.seconds = 90;
	EXPECT_EQ(bufferStatusText(true, buffer), QStringLiteral("Replay buffer: on (90 s)"));
	buffer.active = false;
	buffer.seconds = 120;
	buffer.estimate_mb = 300;
	buffer.capped_by_size = true;
	EXPECT_EQ(bufferStatusText(true, buffer), QStringLiteral("Replay buffer: stopped (2 min, max 300 MB)"));
	buffer.capped_by_size = false;
	EXPECT_EQ(bufferStatusText(true, buffer), QStringLiteral("Replay buffer: stopped (2 min, about 300 MB)"));
	buffer.video_kbps = 6000;
	buffer.audio_kbps = -1;
	EXPECT_EQ(bufferSizeText(buffer),
		  QStringLiteral("Replay buffer: 120 s at about 6000 kbps, about 300 MB of memory."));
	buffer.estimate_mb = 0;
	EXPECT_EQ(bufferSizeText(buffer), QStringLiteral("Replay buffer: 120 s (memory use unknown)."));
	buffer.enabled = false;
	EXPECT_EQ(bufferStatusText(true, buffer), text("Buffer.Disabled"));
	EXPECT_EQ(bufferSizeText(buffer), text("Buffer.Disabled"));

	RecapStatus recap;
	EXPECT_EQ(recapStatusText(recap, nullptr), text("Recap.Empty"));
	recap.empty = false;
	EXPECT_TRUE(recapStatusText(recap, nullptr).isEmpty());
	recap.running = true;
	recap.sessionId = QStringLiteral("2024-05-01_21-07-33");
	recap.index = 2;
	recap.count = 5;
	EXPECT_EQ(recapStatusText(recap, &recording), QStringLiteral("Recap: 2024-05-01 21:07 recording, clip 2 of 5"));
	EXPECT_EQ(recapStatusText(recap, nullptr), QStringLiteral("Recap: 2024-05-01 21:07 free session, clip 2 of 5"))
	    << "a session removed meanwhile is named by its id";
}

} // namespace
