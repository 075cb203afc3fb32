// Instant replay, driven through libobs's media calls on a scripted media source.
#include "test_replay_fixture.h"

using replaytest::Replay;
using replaytest::Spy;

TEST_F(Replay, RefusesWhenSourcesAreMissingOrNotPlaced)
{
	Spy spy(player);
	EXPECT_FALSE(player.play(QString(), 1));
	EXPECT_EQ(spy.changed, 0);

	settings().replay_media = "no such source";
	EXPECT_FALSE(player.play(clip("a.mp4", 3000), 1));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::MediaNotFound);

	settings().replay_media = QString::fromStdString(sceneName);
	EXPECT_FALSE(player.play(clip("a.mp4", 3000), 1));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::NotMediaSource);

	settings().replay_media = QString::fromStdString(mediaName);
	obs_sceneitem_remove(placement);
	EXPECT_FALSE(player.play(clip("a.mp4", 3000), 1));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::SceneNotPlaced);
	EXPECT_EQ(spy.changed, 3);
	EXPECT_EQ(int(spy.finished.size()), 0);
	EXPECT_EQ(player.state(), InstantReplay::State::Idle);
	EXPECT_TRUE(fm()->loads.empty());

	player.clearProblem();
	EXPECT_EQ(player.problem(), InstantReplay::Problem::NoProblem);
}

TEST_F(Replay, PlaysTheLastSecondsAndUnloads)
{
	Spy spy(player);
	const QString path = clip("b.mp4", 2200);
	ASSERT_TRUE(player.play(path, 7));
	EXPECT_EQ(player.state(), InstantReplay::State::Loading);
	EXPECT_TRUE(player.isLoaded("/clips/x/../B.MP4"));
	OBSDataAutoRelease loaded = obs_source_get_settings(media);
	EXPECT_EQ(obs_data_get_int(loaded, "speed_percent"), 100);
	EXPECT_FALSE(obs_data_get_bool(loaded, "looping"));

	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_EQ(fm()->seeks.size(), 1u);
	EXPECT_EQ(fm()->seeks[0], 1200);
	EXPECT_TRUE(obs_sceneitem_visible(placement));
	ASSERT_EQ(int(spy.started.size()), 1);
	EXPECT_EQ(spy.started[0].second, 7);

	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_FALSE(obs_sceneitem_visible(placement));
	ASSERT_EQ(int(spy.finished.size()), 1);
	EXPECT_EQ(spy.finished[0].first, path);
	EXPECT_EQ(spy.finished[0].second, 7);
	OBSDataAutoRelease after = obs_source_get_settings(media);
	EXPECT_STREQ(obs_data_get_string(after, "local_file"), "");
	EXPECT_GE(fm()->stops, 1);
	EXPECT_FALSE(player.isLoaded(path));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::NoProblem);
}

TEST_F(Replay, ClipShorterThanTheSecondsIsShownWhole)
{
	settings().replay_seconds = 30;
	Spy spy(player);
	ASSERT_TRUE(player.play(clip("c.mp4", 1000), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	EXPECT_TRUE(fm()->seeks.empty());
	EXPECT_EQ(int(spy.started.size()), 1);
}

TEST_F(Replay, SeekOntoTheFirstKeyframeIsToldByTheMediaTime)
{
	// OBS lands a seek on the keyframe before the target: here the first one. From where playback
	// already is, only the media time moving on frame by frame tells that the seek was taken; from
	// further on, its fall does.
	settings().replay_seconds = 3;
	Spy spy(player);
	long long shownAt = -1;
	QObject::connect(&player, &InstantReplay::started, &spy.context, [&] { shownAt = fm()->posMs; });
	for (const long long playedMs : {0LL, 300LL}) {
		SCOPED_TRACE(playedMs);
		ASSERT_TRUE(player.play(clip("far.mp4", 20000), 1));
		fm()->keyframeEveryMs = 20000;
		fm()->stepMs = 10;
		fm()->posMs = playedMs;
		fm()->seeks.clear();
		ASSERT_TRUE(waitState(InstantReplay::State::Showing));
		ASSERT_EQ(fm()->seeks.size(), 1u);
		EXPECT_EQ(fm()->seeks[0], 17000);
		// Shown once the seek was taken and playback moved, not after a second of hidden playback.
		EXPECT_GE(shownAt, 40);
		EXPECT_LT(shownAt, 500);
	}
}

// Two frames decoded before the seek still arrive, then the time pauses until the seek takes: those
// rises are not the seek, and the clip must not go on air from where it was.
TEST_F(Replay, FramesAlreadyOnTheirWayDoNotCountAsTheSeek)
{
	settings().replay_seconds = 3;
	Spy spy(player);
	long long shownAt = -1;
	QObject::connect(&player, &InstantReplay::started, &spy.context, [&] { shownAt = fm()->posMs; });
	ASSERT_TRUE(player.play(clip("late.mp4", 20000), 1));
	fm()->stepMs = 10;
	fm()->framesInFlight = 2;
	fm()->seekLag = 40; // at 10 ms ticks: longer than a landing waits, short of the seek limit
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	EXPECT_GE(shownAt, 17000);
}

TEST_F(Replay, TooShortAndUnopenableClipsEndWithAProblem)
{
	Spy spy(player);
	ASSERT_TRUE(player.play(clip("short.mp4", 999), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::TooShort);
	EXPECT_EQ(int(spy.finished.size()), 1);

	ASSERT_TRUE(player.play(clip("broken.mp4", 5000, true), 2));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(player.problem(), InstantReplay::Problem::OpenFailed);
	EXPECT_EQ(int(spy.finished.size()), 2);
	EXPECT_EQ(int(spy.started.size()), 0);
	EXPECT_FALSE(obs_sceneitem_visible(placement));
}

TEST_F(Replay, StopWhileShowingWaitsForTheHideTransition)
{
	obs_sceneitem_set_transition_duration(placement, false, 300);
	Spy spy(player);
	ASSERT_TRUE(player.play(clip("long.mp4", 20000), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	QElapsedTimer clock;
	clock.start();
	player.stop();
	EXPECT_EQ(player.state(), InstantReplay::State::Hiding);
	EXPECT_FALSE(obs_sceneitem_visible(placement));
	EXPECT_EQ(int(spy.finished.size()), 0);
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_GE(clock.elapsed(), 440);
	EXPECT_EQ(int(spy.finished.size()), 1);

	// Stop while loading ends at once.
	ASSERT_TRUE(player.play(clip("long.mp4", 20000), 2));
	player.stop();
	EXPECT_EQ(player.state(), InstantReplay::State::Idle);
	EXPECT_EQ(int(spy.finished.size()), 2);
}

TEST_F(Replay, SecondPlayEndsTheFirstAtOnce)
{
	obs_sceneitem_set_transition_duration(placement, false, 5000);
	Spy spy(player);
	const QString first = clip("first.mp4", 20000);
	const QString second = clip("second.mp4", 20000);
	ASSERT_TRUE(player.play(first, 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_TRUE(player.play(second, 2));
	ASSERT_EQ(int(spy.finished.size()), 1);
	EXPECT_EQ(spy.finished[0].first, first);
	EXPECT_EQ(player.state(), InstantReplay::State::Loading);
	EXPECT_FALSE(obs_sceneitem_visible(placement));
	EXPECT_TRUE(player.isLoaded(second));
	EXPECT_FALSE(player.isLoaded(first));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));

	// Aborting ends without any wait and without the media source.
	player.abort();
	EXPECT_EQ(player.state(), InstantReplay::State::Idle);
	EXPECT_EQ(int(spy.finished.size()), 2);
}

TEST_F(Replay, ReplayingTheSameFileReloadsIt)
{
	const QString path = clip("same.mp4", 1200);
	ASSERT_TRUE(player.play(path, 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_TRUE(player.play(path, 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_EQ(fm()->loads.size(), 2u);
	EXPECT_NE(fm()->loads[0], fm()->loads[1]);
	EXPECT_EQ(normalizedPathKey(QString::fromStdString(fm()->loads[1])), normalizedPathKey(path));
}

TEST_F(Replay, RepeatsSeekBackNearTheEnd)
{
	settings().replay_repeat = 2;
	Spy spy(player);
	const QString path = clip("rep.mp4", 2000);
	ASSERT_TRUE(player.play(path, 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle, 6000));
	ASSERT_EQ(fm()->seeks.size(), 2u);
	EXPECT_EQ(fm()->seeks[0], 1000);
	EXPECT_EQ(fm()->seeks[1], 1000);
	EXPECT_EQ(fm()->loads.size(), 1u);
	EXPECT_EQ(player.leadFor(path), 700);
	EXPECT_EQ(int(spy.finished.size()), 1);
}

TEST_F(Replay, RepeatSeekThatReachesTheEndLearnsALongerLead)
{
	settings().replay_repeat = 2;
	const QString path = clip("overshoot.mp4", 2000);
	ASSERT_TRUE(player.play(path, 1));
	fm()->endOnSeek = 2; // the seek back overshoots to the end
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_TRUE(waitUntil([&] { return player.leadFor(path) == 1000; }, 3000));
	// Recovery reloads the file while hidden, seeks again and shows the second pass.
	ASSERT_TRUE(waitUntil([&] { return fm()->loads.size() == 2 && obs_sceneitem_visible(placement); }, 3000));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle, 5000));
	EXPECT_EQ(fm()->seeks.size(), 3u);
	// The lead is kept for the next replay of that file and forgotten on abort.
	EXPECT_EQ(player.leadFor("/clips/OVERSHOOT.mp4"), 1000);
	player.abort();
	EXPECT_EQ(player.leadFor(path), 700);
}

TEST_F(Replay, MediaSourceRemovedWhilePlayingAborts)
{
	Spy spy(player);
	ASSERT_TRUE(player.play(clip("gone.mp4", 20000), 1));
	obs_source_remove(media);
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(int(spy.finished.size()), 1);
}

// A file still being written is played from its start, never ended while it grows, ended at the length
// it is given once complete, and unloaded only once its reader (which cannot be stopped while it waits
// for more) has ended by itself.
TEST_F(Replay, GrowingFileEndsAtTheLengthItIsGivenAndOnlyThen)
{
	Spy spy(player);
	const QString path = clip("growing.mkv", -1); // names no length
	ASSERT_TRUE(player.playGrowing(path, 9));
	OBSDataAutoRelease loaded = obs_source_get_settings(media);
	EXPECT_TRUE(QString(obs_data_get_string(loaded, "ffmpeg_options")).contains(QStringLiteral("follow=1")));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	EXPECT_TRUE(fm()->seeks.empty());

	fm()->frozen = true; // waiting for the rest of the file
	EXPECT_FALSE(waitState(InstantReplay::State::Hiding, 800));
	player.growingEnds(path, 5000);
	ASSERT_TRUE(waitState(InstantReplay::State::Hiding, 1000)) << "the picture stands still short of the end";
	EXPECT_FALSE(waitState(InstantReplay::State::Idle, 500));
	fm()->state = OBS_MEDIA_STATE_ENDED;
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(spy.finished.size(), 1u);
}
