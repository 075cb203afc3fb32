#include "test_engine_fixture.h"

#include "module/Hotkeys.h"
#include "module/Lifecycle.h"

#include <QCoreApplication>
#include <QThread>

#include <thread>

namespace {

using MarksTest = EngineTest;

TEST_F(MarksTest, PressModesAskForClipAndReplayByTheSettings)
{
	ready();
	FrontendDouble::state().replayBufferActive = true;

	// Mark-only never asks for a clip, whatever the settings say.
	long long id = engine->press(PressMode::MarkOnly, QStringLiteral("  word  "));
	EXPECT_EQ(entry(id).label, "word");
	EXPECT_EQ(entry(id).clip.state, ClipState::None);
	EXPECT_EQ(engine->statusText(), msg("Msg.Marked", QStringLiteral("Lumark01"), QStringLiteral("00:00")))
	    << "the message names the press by its default label";
	ASSERT_NE(lastEvent("Marked"), nullptr);
	EXPECT_EQ(lastEvent("Marked")->data["clip_state"].toInt(), 0);
	EXPECT_FALSE(lastEvent("Marked")->data.contains("file"));
	EXPECT_EQ(lastEvent("Marked")->data["number"].toInt(), 1);
	EXPECT_EQ(FrontendDouble::state().replayBufferSaveRequests, 0);

	// Default mode with only press_replay on: clip and replay.
	settings().press_clip = false;
	settings().press_replay = true;
	advance(61000);
	id = engine->press(PressMode::Default, QString());
	EXPECT_EQ(entry(id).label, "Lumark02");
	EXPECT_EQ(entry(id).clip.state, ClipState::Waiting);
	EXPECT_TRUE(entry(id).clip.want_replay);
	EXPECT_EQ(engine->statusText(), msg("Msg.Saving", QStringLiteral("Lumark02"), QStringLiteral("01:01")));
	EXPECT_EQ(FrontendDouble::state().replayBufferSaveRequests, 1);

	// Default mode with both off: a mark only.
	settings().press_replay = false;
	id = engine->press(PressMode::Default, QString());
	EXPECT_EQ(entry(id).clip.state, ClipState::None);

	// Replay mode with the buffer off: the entry is made, without clip.
	FrontendDouble::state().replayBufferActive = false;
	id = engine->press(PressMode::Replay, QString());
	EXPECT_EQ(entry(id).clip.state, ClipState::NoBuffer);
	EXPECT_EQ(engine->statusText(), msg("Msg.NoBuffer", QStringLiteral("Lumark04"), QStringLiteral("01:01")));
}

TEST_F(MarksTest, OutsideMarksDuplicatesLookBackAndRefusals)
{
	ready();
	ASSERT_TRUE(engine->startFreeSession());
	EXPECT_EQ(engine->addMark(EntryKind::Song, QStringLiteral("song")), 0) << "free sessions take no outside marks";
	ASSERT_TRUE(engine->endFreeSession());

	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(engine->addMark(EntryKind::Song, QStringLiteral("   ")), 0);
	settings().marks_topic = false;
	EXPECT_EQ(engine->addMark(EntryKind::Topic, QStringLiteral("t")), 0);
	settings().marks_topic = true;

	advance(10000);
	const long long first = engine->addMark(EntryKind::Song, QStringLiteral("Intro"));
	ASSERT_NE(first, 0);
	advance(1500);
	EXPECT_EQ(engine->addMark(EntryKind::Song, QStringLiteral(" Intro ")), first) << "within 2 s: the same mark";
	const long long topic = engine->addMark(EntryKind::Topic, QStringLiteral("Intro"));
	EXPECT_NE(topic, 0);
	EXPECT_NE(topic, first) << "another kind is another mark";
	advance(1000);
	const long long second = engine->addMark(EntryKind::Song, QStringLiteral("Intro"));
	EXPECT_NE(second, first) << "2.5 s later it is a new mark";
	EXPECT_EQ(entry(second).t_ms, 12500);

	// A back-dated mark that lands next to the same mark is that mark.
	const long long back = engine->addMark(EntryKind::Song, QStringLiteral("Intro"), 0, 1000);
	EXPECT_EQ(back, second);

	advance(17500); // offset 30 000
	const long long clamped = engine->addMark(EntryKind::External, QStringLiteral("far"), 0, 90000);
	EXPECT_EQ(entry(clamped).t_ms, 0) << "look-back held to 60 s and floored at 0";
	EXPECT_EQ(entry(clamped).wall_ms, wall - 30000);

	LogCapture log;
	const long long late = engine->addMark(EntryKind::External, QStringLiteral("late"), monoNs - 2000000000LL);
	EXPECT_EQ(entry(late).t_ms, 28000);
	EXPECT_EQ(entry(late).wall_ms, wall - 2000);
	EXPECT_EQ(log.count(" (added late, at the time it was asked for)"), 1);

	EXPECT_EQ(engine->addMark(EntryKind::External, QStringLiteral("old"), monoNs - 60000000000LL), 0);
	EXPECT_EQ(log.count("asked for before this session started, dropped"), 1);
	EXPECT_EQ(eventCount("Marked"), 5);
}

TEST_F(MarksTest, SceneMarksSkipTheReplaySceneAndIgnoredScenes)
{
	OBSSceneAutoRelease a = obs_scene_create("engine-test A");
	OBSSceneAutoRelease b = obs_scene_create("engine-test B");
	OBSSceneAutoRelease r = obs_scene_create("engine-test Replay");
	settings().replay_scene = QStringLiteral("engine-test Replay");
	settings().ignore_scenes = QStringList{QStringLiteral("engine-test B")};
	auto &fe = FrontendDouble::state();
	fe.currentSceneName = "engine-test A";
	ready();
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	const size_t base = current().entries.size();

	engine->followFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED); // still A: no mark
	fe.currentSceneName = "engine-test Replay";
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
	fe.currentSceneName = "engine-test B";
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
	EXPECT_EQ(current().entries.size(), base);
	fe.currentSceneName = "engine-test A";
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
	ASSERT_EQ(current().entries.size(), base + 1) << "switching back to the scene before still counts";
	EXPECT_EQ(current().entries.back().kind, EntryKind::Scene);
	EXPECT_EQ(current().entries.back().label, "engine-test A");

	settings().scene_marks = false;
	fe.currentSceneName = "engine-test Replay";
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
	EXPECT_EQ(current().entries.size(), base + 1);
}

TEST_F(MarksTest, ChapterWarningOncePerRecording)
{
	FrontendDouble::state().recording = true;
	FrontendDouble::state().recordingChaptersSupported = false;
	ready();
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	LogCapture log;
	engine->press(PressMode::MarkOnly, QString());
	engine->press(PressMode::MarkOnly, QString());
	EXPECT_EQ(log.count("録画にチャプターを入れられませんでした"), 1);
	EXPECT_EQ(log.lines().front().first, LOG_WARNING);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	engine->press(PressMode::MarkOnly, QString());
	EXPECT_EQ(log.count("録画にチャプターを入れられませんでした"), 2) << "warned again for the next recording";

	settings().record_chapters = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STOPPED);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_RECORDING_STARTED);
	engine->press(PressMode::MarkOnly, QString());
	EXPECT_EQ(log.count("録画にチャプターを入れられませんでした"), 2);
}

TEST_F(MarksTest, OverlongLabelsAreRefusedWithoutTouchingTheSession)
{
	ready();
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	const QString huge(5000, QLatin1Char('x'));
	const size_t before = current().entries.size();
	LogCapture log;
	EXPECT_EQ(engine->press(PressMode::MarkOnly, huge), 0);
	EXPECT_EQ(engine->addMark(EntryKind::External, huge), 0);
	EXPECT_EQ(current().entries.size(), before);
	EXPECT_EQ(current().next_number, 1) << "no press number used up";

	const long long id = engine->press(PressMode::MarkOnly, QStringLiteral("ok"));
	engine->edits().setLabel(id, huge);
	EXPECT_EQ(engine->statusText(), msg("Msg.TextTooLong", QStringLiteral("4096"))) << "the user learns why";
	engine->edits().setArchiveUrl(huge);
	EXPECT_EQ(entry(id).label, "ok");
	EXPECT_TRUE(current().archive_url.empty());
	EXPECT_EQ(log.count("refused: 5000 bytes is too long"), 4);
	// 4096 bytes is still taken.
	engine->edits().setLabel(id, QString(4096, QLatin1Char('y')));
	EXPECT_EQ(entry(id).label.size(), 4096u);
}

// The press hotkey fires on libobs's hotkey thread; the press itself must run on the UI thread.
TEST(EngineHotkey, PressHotkeyPostsAPressToTheUiThread)
{
	if (isShuttingDown())
		GTEST_SKIP() << "the module was shut down by an earlier test in this process";
	TempConfigDir config;
	QTemporaryDir work;
	struct Restore {
		Settings saved = settings();
		~Restore() { settings() = saved; }
	} restore;
	settings().export_dir = work.path();
	FrontendDouble::reset();
	Engine *engine = Engine::instance();
	if (!engine->isReady())
		engine->onFinishedLoading();
	ASSERT_EQ(engine->currentSession(), nullptr);

	QThread *pressThread = nullptr;
	auto connection = QObject::connect(engine, &Engine::notify, [&](const EngineEvent &event) {
		if (eventMessage(event).first == QStringLiteral("Marked"))
			pressThread = QThread::currentThread();
	});
	std::thread hotkeyThread([] { onHotkey(&hotkeyTable()[0], 0, nullptr, true); });
	hotkeyThread.join();
	std::thread release([] { onHotkey(&hotkeyTable()[0], 0, nullptr, false); });
	release.join();
	EXPECT_EQ(pressThread, nullptr) << "nothing runs on the hotkey thread";
	ASSERT_TRUE(waitUntil([&] { return pressThread != nullptr; }));
	EXPECT_EQ(pressThread, QCoreApplication::instance()->thread());
	QCoreApplication::processEvents();
	ASSERT_NE(engine->currentSession(), nullptr);
	EXPECT_EQ(engine->currentSession()->entries.size(), 1u) << "key-up adds nothing";

	QObject::disconnect(connection);
	const QString id = engine->currentSessionId();
	ASSERT_TRUE(engine->endFreeSession());
	EngineTest::flushSaves(*engine);
	engine->removeSession(id);
}

} // namespace
