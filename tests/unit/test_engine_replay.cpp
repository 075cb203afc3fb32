// The Engine with the real instant replay player on a scripted media source.
#include "test_engine_fixture.h"
#include "test_playback_fakes.h"

#include "EncodedClip.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>

namespace {

class EngineReplayTest : public EngineTest {
protected:
	fake::Objects objects;
	QString clipDir;

	void SetUp() override
	{
		EngineTest::SetUp();
		fake::registerSources();
		static int serial = 0;
		const std::string n = std::to_string(++serial);
		settings().replay_scene = QString::fromStdString("Engine Replay Scene #" + n);
		settings().replay_media = QString::fromStdString("Engine Replay Media #" + n);
		settings().press_replay = false;
		obs_scene_t *scene = objects.scene(settings().replay_scene.toUtf8().constData());
		obs_scene_add(scene, objects.source("ffmpeg_source", settings().replay_media.toUtf8().constData()));
		const std::string mainName = "Engine Main #" + n;
		obs_scene_t *main = objects.scene(mainName.c_str());
		FrontendDouble::state().sceneNames.push_back(mainName);
		obs_sceneitem_set_visible(obs_scene_add(main, obs_scene_get_source(scene)), false);

		clipDir = work.path() + "/clips";
		QDir().mkpath(clipDir);
		ready();
		FrontendDouble::state().replayBufferActive = true;
		FrontendDouble::state().streaming = true;
		engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	}

	void TearDown() override
	{
		engine->players().replay().abort();
		fake::clips().clear();
		EngineTest::TearDown();
	}

	// OBS's file; the player also knows the name the Engine moves it to at once.
	QString clip(const char *name, const char *keptAs)
	{
		const QString path = clipDir + "/" + QString::fromUtf8(name);
		EXPECT_TRUE(writeFileBytes(path, QByteArray("clip")));
		fake::clips()[normalizedPathKey(clipDir + "/" + QString::fromUtf8(keptAs))] = {5000, false, true};
		return path;
	}
};

TEST_F(EngineReplayTest, SharedClipPlaysTheOwnersFileAndItsRenameWaitsForThePlayer)
{
	clip("first.mkv", "first (Lumark01).mkv");
	const QString obsName = clip("second.mkv", "second (Lumark02).mkv");
	const QString second = clipDir + "/second (Lumark02).mkv";
	engine->press(PressMode::Default, QString());
	const long long owner = engine->press(PressMode::Replay, QString());
	const long long sharer = engine->press(PressMode::Default, QString());
	obsSaved(clipDir + "/first.mkv");
	EXPECT_EQ(FrontendDouble::state().replayBufferSaveRequests, 2) << "the next batch goes out at once";
	advance(1500);
	obsSaved(obsName);
	EXPECT_FALSE(QFile::exists(obsName));
	ASSERT_EQ(entry(sharer).clip.shared_with, owner);
	InstantReplay &player = engine->players().replay();
	EXPECT_NE(player.state(), InstantReplay::State::Idle) << "the replay press is played";
	EXPECT_TRUE(player.isLoaded(second));
	EXPECT_EQ(engine->statusText(),
		  msg("Msg.Saved", QString::fromUtf8("Lumark02・Lumark03"), QStringLiteral("00:00")));

	// The file is in the player: its rename waits.
	advance(15000);
	renameTick();
	EXPECT_TRUE(QFile::exists(second));
	EXPECT_EQ(renameQueue().back().attempts, 1);

	// Replaying the sharer plays the owner's file under the owner's id.
	EXPECT_TRUE(engine->players().replayEntry(engine->viewedSession(), sharer));
	EXPECT_TRUE(player.isLoaded(second));
	events.clear();
	player.abort();
	ASSERT_NE(lastEvent("ReplayEnded"), nullptr);
	EXPECT_EQ(lastEvent("ReplayEnded")->data["entry_id"].toInt(), owner);
	EXPECT_EQ(lastEvent("ReplayEnded")->data["file"].toString(), QStringLiteral("second (Lumark02).mkv"));
	// A record naming a sharer as its owner plays nothing, not even a path left in the sharer.
	const long long chained = engine->press(PressMode::MarkOnly, QString());
	entry(chained).clip.state = ClipState::Saved;
	entry(chained).clip.shared_with = sharer;
	entry(sharer).clip.path = second.toStdString();
	EXPECT_FALSE(engine->players().replayEntry(engine->viewedSession(), chained));
	entry(sharer).clip.path.clear();

	advance(300);
	renameTick();
	EXPECT_FALSE(QFile::exists(second)) << "renamed right after the replay";
	EXPECT_EQ(QFileInfo(QString::fromStdString(entry(owner).clip.path)).fileName(),
		  QString::fromUtf8("2026-05-01 20-00 Lumark02 0-00-00.mkv"));
}

// Replays made from memory, with packets that were really encoded: each press plays its own file, and
// its saved clip is not played again while that file plays.
TEST_F(EngineReplayTest, ReplayFromMemoryPlaysEachPressItsOwnFileUntilItsReplayEnds)
{
	QTemporaryDir runtime;
	const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
	qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
	const QString pid = QString::number(QCoreApplication::applicationPid());
	const auto file = [&](int n) {
		return runtime.path() + "/lumark-button/replay-" + pid + "-" + QString::number(n) + ".mkv";
	};
	for (int n = 1; n <= 3; ++n)
		fake::clips()[normalizedPathKey(file(n))] = {-1, false, false}; // a growing file names no length
	Encoded enc;
	encode(enc, 60);
	const int64_t shift = monoNs / 1000 - enc.lastVideoSys(); // captured up to now
	MemoryReplay &memory = memoryReplay();
	memory.startWithout(enc.header);
	for (encoder_packet &p : enc.packets) {
		p.sys_dts_usec += shift;
		memory.ring().push(&p);
	}
	settings().replay_from_memory = true;
	QSignalSpy complete(&memory, &MemoryReplay::fileComplete);
	InstantReplay &player = engine->players().replay();

	// Entry ids start again in each session: the earlier session's file is not the later press's.
	engine->press(PressMode::Replay, QString());
	obsSaved(clip("first.mkv", "first (Lumark02).mkv"));
	FrontendDouble::state().streaming = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	FrontendDouble::state().streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	const long long second = engine->press(PressMode::Replay, QString());
	EXPECT_EQ(second, 2);
	ASSERT_TRUE(complete.wait(5000) && (complete.size() == 2 || complete.wait(5000)));
	EXPECT_TRUE(player.isLoaded(file(2)));

	// Its clip saved while it plays is not played a second time.
	obsSaved(clip("second.mkv", "second (Lumark02).mkv"));
	EXPECT_TRUE(player.isLoaded(file(2)));

	// A replay ending while the next press's file is made leaves that file to its press.
	engine->press(PressMode::Replay, QString());
	player.abort();
	ASSERT_TRUE(complete.wait(5000));
	EXPECT_TRUE(player.isLoaded(file(3)));
	EXPECT_FALSE(QFile::exists(file(2)));
	player.abort();
	memory.stop();
	qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

} // namespace
