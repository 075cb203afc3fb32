// Replay and recap scene setup against real libobs scenes, with the frontend double as the host.
#include "test_playback_fakes.h"

#include "FrontendDouble.h"
#include "TestSupport.h"
#include "util/ModuleCore.h"
#include "util/ObsScenes.h"
#include "playback/Recap.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <deque>
#include <string>

namespace {

QString text(const char *key)
{
	return QString::fromUtf8(moduleText(key));
}

class SceneSetup : public ::testing::Test {
protected:
	void SetUp() override
	{
		fake::registerSources();
		FrontendDouble::reset();
		settings().replay_scene = n("T Replay");
		settings().replay_media = n("T Replay Media");
		settings().recap_scene = n("T Recap");
		settings().recap_media = n("T Recap Media");
		settings().recap_text = n("T Recap Text");
		setVideoBaseSizeForTesting(1920, 1080);
	}
	void TearDown() override
	{
		setVideoBaseSizeForTesting(0, 0);
		FrontendDouble::reset();
	}
	void adoptMade()
	{
		for (const char *name :
		     {n("T Replay"), n("T Replay Media"), n("T Recap"), n("T Recap Media"), n("T Recap Text")})
			objects.adopt(name);
	}
	// A main scene listed by the frontend.
	obs_scene_t *mainScene(const char *name)
	{
		obs_scene_t *s = objects.scene(name);
		FrontendDouble::state().sceneNames.push_back(name);
		return s;
	}

	// Names unique to this test: sources removed by an earlier test may linger in libobs.
	const char *n(const char *base)
	{
		names.push_back(std::string(base) + " #" + std::to_string(serial));
		return names.back().c_str();
	}

	fake::SettingsGuard guard;
	fake::Objects objects;
	std::deque<std::string> names;
	int serial = ++counter;
	static inline int counter = 0;
};

} // namespace

TEST(PlaybackPathKey, NormalisesSeparatorsDotsAndCase)
{
	EXPECT_EQ(normalizedPathKey("C:\\Clips\\..\\Video\\Replay.MP4"), "c:/video/replay.mp4");
	EXPECT_EQ(normalizedPathKey("/a//b/./c.mkv"), "/a/b/c.mkv");
	EXPECT_EQ(normalizedPathKey(""), "");
}

TEST_F(SceneSetup, AssignLocalFileRespellsTheSameFileAndRemembersIt)
{
	QTemporaryDir dir;
	const QString clip = dir.filePath("clip.mp4");
	ASSERT_TRUE(writeFileBytes(clip, "x"));
	obs_source_t *m = objects.source("ffmpeg_source", n("T Media A"));

	auto apply = [&](const QString &path) {
		OBSDataAutoRelease data = obs_data_create();
		assignLocalFile(m, data, path);
		obs_source_update(m, data);
		OBSDataAutoRelease now = obs_source_get_settings(m);
		return QString::fromUtf8(obs_data_get_string(now, "local_file"));
	};
	auto remembered = [&] {
		OBSDataAutoRelease priv = obs_source_get_private_settings(m);
		return QString::fromUtf8(obs_data_get_string(priv, kPreviousLocalFileKey));
	};

	EXPECT_EQ(apply(clip), clip);
	EXPECT_EQ(remembered(), clip);
	// Same file again: a different spelling of the same file, so the source reloads it.
	const QString again = apply(clip);
	EXPECT_NE(again, clip);
	EXPECT_EQ(QFileInfo(again).canonicalFilePath(), QFileInfo(clip).canonicalFilePath());
	EXPECT_EQ(remembered(), clip);
	// Unloading keeps the last path privately; the next load is still respelled.
	EXPECT_EQ(apply(QString()), "");
	EXPECT_EQ(remembered().toStdString(), again.toStdString());
	const QString third = apply(clip);
	EXPECT_NE(third, "");
	EXPECT_EQ(normalizedPathKey(third), normalizedPathKey(clip));
	EXPECT_EQ(fake::media(m)->loads.size(), 3u);
	// Another file is written as given.
	EXPECT_EQ(apply(dir.filePath("other.mp4")), dir.filePath("other.mp4"));
}

TEST_F(SceneSetup, MakeReplaySceneRefusesTakenNames)
{
	QString msg;
	settings().replay_media = "";
	EXPECT_FALSE(makeReplayScene(msg));
	EXPECT_EQ(msg, text("Setup.NoName"));

	settings().replay_media = n("T Replay Media");
	objects.source("ffmpeg_source", n("T Replay"));
	EXPECT_FALSE(makeReplayScene(msg));
	EXPECT_EQ(msg, text("Setup.SceneNameTaken"));

	settings().replay_scene = n("T Replay 2");
	objects.source(recapTextSourceType(), n("T Replay Media"));
	EXPECT_FALSE(makeReplayScene(msg));
	EXPECT_EQ(msg, text("Setup.MediaNameTaken"));
	// The scene made before the refusal stays.
	objects.adopt(n("T Replay 2"));
	OBSSourceAutoRelease made = obs_get_source_by_name(n("T Replay 2"));
	EXPECT_TRUE(made && obs_scene_from_source(made));
}

TEST_F(SceneSetup, MakeReplaySceneTwiceKeepsWhatExists)
{
	QString msg;
	ASSERT_TRUE(makeReplayScene(msg)) << msg.toStdString();
	adoptMade();
	EXPECT_TRUE(msg.isEmpty());
	OBSSourceAutoRelease scene = findReplayScene();
	OBSSourceAutoRelease media = findReplayMedia();
	ASSERT_TRUE(scene && media);
	obs_sceneitem_t *item = obs_scene_find_source(obs_scene_from_source(scene), n("T Replay Media"));
	ASSERT_TRUE(item);
	EXPECT_EQ(obs_sceneitem_get_bounds_type(item), OBS_BOUNDS_SCALE_INNER);
	vec2 bounds;
	obs_sceneitem_get_bounds(item, &bounds);
	EXPECT_FLOAT_EQ(bounds.x, 1920);
	EXPECT_FLOAT_EQ(bounds.y, 1080);

	vec2 moved = {100, 50};
	obs_sceneitem_set_pos(item, &moved);
	ASSERT_TRUE(makeReplayScene(msg));
	OBSSourceAutoRelease sceneAgain = findReplayScene();
	EXPECT_EQ(sceneAgain.Get(), scene.Get());
	int count = 0;
	obs_scene_enum_items(
	    obs_scene_from_source(scene),
	    [](obs_scene_t *, obs_sceneitem_t *, void *p) {
		    ++*static_cast<int *>(p);
		    return true;
	    },
	    &count);
	EXPECT_EQ(count, 1);
	vec2 pos;
	obs_sceneitem_get_pos(item, &pos);
	EXPECT_FLOAT_EQ(pos.x, 100);
}

TEST_F(SceneSetup, ExistingMediaSourceIsReusedAndAdded)
{
	// A removed scene that something still holds is not built into: the set-up makes one it can find.
	obs_source_remove(obs_scene_get_source(objects.scene(n("T Replay"))));
	obs_scene_t *other = mainScene(n("T Other"));
	obs_source_t *media = objects.source("ffmpeg_source", n("T Replay Media"));
	obs_scene_add(other, media);
	QString msg;
	ASSERT_TRUE(makeReplayScene(msg));
	adoptMade();
	OBSSourceAutoRelease scene = findReplayScene();
	obs_sceneitem_t *item = obs_scene_find_source(obs_scene_from_source(scene), n("T Replay Media"));
	ASSERT_TRUE(item);
	EXPECT_EQ(obs_sceneitem_get_source(item), media);
	EXPECT_FALSE(obs_source_removed(scene));
}

TEST_F(SceneSetup, PlacementsThroughGroupsCountedOnce)
{
	QString msg;
	ASSERT_TRUE(makeReplayScene(msg));
	adoptMade();
	OBSSourceAutoRelease replay = findReplayScene();
	EXPECT_EQ(replayPlacementCount(), 0);

	obs_scene_t *main = mainScene(n("T Main"));
	obs_scene_t *second = mainScene(n("T Second"));
	FrontendDouble::state().sceneNames.push_back(n("T Main")); // listed twice, searched once
	obs_sceneitem_t *group = obs_scene_add_group(main, n("T Group"));
	objects.adopt(n("T Group"));
	obs_sceneitem_t *inGroup = obs_scene_add(main, replay);
	obs_sceneitem_group_add_item(group, inGroup);
	obs_sceneitem_t *direct = obs_scene_add(second, replay);
	obs_sceneitem_set_visible(direct, false);
	obs_sceneitem_set_transition_duration(direct, false, 300);
	obs_sceneitem_set_transition_duration(inGroup, false, 700);

	EXPECT_EQ(findSceneItems(replay).size(), 2u);
	EXPECT_EQ(replayPlacementCount(), 2);
	EXPECT_EQ(replayVisibleCount(), 1);
	EXPECT_EQ(setReplayVisible(false), 700u);
	EXPECT_EQ(replayVisibleCount(), 0);
	setReplayVisible(true);
	EXPECT_EQ(replayVisibleCount(), 2);

	// Reset hides everything and unloads the media source, keeping the last path privately.
	OBSSourceAutoRelease media = findReplayMedia();
	OBSDataAutoRelease load = obs_data_create();
	obs_data_set_string(load, "local_file", "/tmp/some clip.mp4");
	obs_source_update(media, load);
	resetReplayScene();
	EXPECT_EQ(replayVisibleCount(), 0);
	OBSDataAutoRelease now = obs_source_get_settings(media);
	EXPECT_STREQ(obs_data_get_string(now, "local_file"), "");
	OBSDataAutoRelease priv = obs_source_get_private_settings(media);
	EXPECT_STREQ(obs_data_get_string(priv, kPreviousLocalFileKey), "/tmp/some clip.mp4");
}

TEST_F(SceneSetup, AddReplaySceneToCurrent)
{
	QString msg;
	EXPECT_FALSE(addReplaySceneToCurrent(msg));
	EXPECT_EQ(msg, text("Setup.NoScene"));
	ASSERT_TRUE(makeReplayScene(msg));
	adoptMade();

	FrontendDouble::state().currentSceneName = n("T Replay");
	EXPECT_FALSE(addReplaySceneToCurrent(msg));
	EXPECT_EQ(msg, text("Setup.PickOtherScene"));

	obs_scene_t *program = mainScene(n("T Program"));
	obs_scene_t *preview = mainScene(n("T Preview"));
	FrontendDouble::state().currentSceneName = n("T Program");
	FrontendDouble::state().currentPreviewSceneName = n("T Preview");
	FrontendDouble::state().previewProgramMode = true;
	msg.clear();
	ASSERT_TRUE(addReplaySceneToCurrent(msg)) << msg.toStdString();
	EXPECT_TRUE(msg.isEmpty());
	EXPECT_EQ(obs_scene_find_source(program, n("T Replay")), nullptr);
	obs_sceneitem_t *item = obs_scene_find_source(preview, n("T Replay"));
	ASSERT_TRUE(item);
	EXPECT_FALSE(obs_sceneitem_visible(item));

	EXPECT_FALSE(addReplaySceneToCurrent(msg));
	EXPECT_EQ(msg, text("Setup.AlreadyThere"));

	// Inside a group of the program scene also counts as already there.
	FrontendDouble::state().previewProgramMode = false;
	obs_sceneitem_t *group = obs_scene_add_group(program, n("T Group 2"));
	objects.adopt(n("T Group 2"));
	OBSSourceAutoRelease replay = findReplayScene();
	obs_sceneitem_group_add_item(group, obs_scene_add(program, replay));
	EXPECT_FALSE(addReplaySceneToCurrent(msg));
	EXPECT_EQ(msg, text("Setup.AlreadyThere"));
}

TEST_F(SceneSetup, RecapNamesAreValidated)
{
	QString msg;
	EXPECT_TRUE(Recap::validateRecapNames(&msg));
	settings().recap_text = "";
	EXPECT_FALSE(Recap::validateRecapNames(&msg));
	EXPECT_EQ(msg, text("Recap.NoName"));
	settings().recap_text = n("T Replay Media");
	EXPECT_FALSE(Recap::validateRecapNames(&msg));
	EXPECT_EQ(msg, text("Recap.ReplayNameTaken"));
	settings().recap_text = n("T Recap");
	EXPECT_FALSE(Recap::validateRecapNames(&msg));
	EXPECT_EQ(msg, text("Recap.SameNames"));
	EXPECT_FALSE(makeRecapScene(msg));
	EXPECT_EQ(msg, text("Recap.SameNames"));
}

TEST_F(SceneSetup, MakeRecapSceneLaysOutMediaAndMemo)
{
	objects.source("ffmpeg_source", n("T Recap Text"));
	QString msg;
	EXPECT_FALSE(makeRecapScene(msg));
	EXPECT_EQ(msg, text("Recap.TextNameTaken"));
	settings().recap_text = n("T Recap Text 2");

	setVideoBaseSizeForTesting(0, 0);
	uint32_t w = 0, h = 0;
	if (!videoBaseSize(w, h)) {
		EXPECT_FALSE(makeRecapScene(msg));
		EXPECT_EQ(msg, text("Setup.Failed"));
	}
	setVideoBaseSizeForTesting(1920, 1080);
	ASSERT_TRUE(makeRecapScene(msg)) << msg.toStdString();
	adoptMade();
	objects.adopt(n("T Recap Text 2"));

	OBSSourceAutoRelease scene = obs_get_source_by_name(n("T Recap"));
	OBSSourceAutoRelease media = obs_get_source_by_name(n("T Recap Media"));
	OBSSourceAutoRelease memo = obs_get_source_by_name(n("T Recap Text 2"));
	ASSERT_TRUE(scene && media && memo);
	EXPECT_TRUE(obs_source_muted(media));
	EXPECT_STREQ(obs_source_get_unversioned_id(memo), recapTextSourceType());
	OBSDataAutoRelease ts = obs_source_get_settings(memo);
	OBSDataAutoRelease font = obs_data_get_obj(ts, "font");
	EXPECT_EQ(obs_data_get_int(font, "size"), 60);
	EXPECT_TRUE(obs_data_get_bool(ts, "outline"));

	obs_scene_t *s = obs_scene_from_source(scene);
	obs_sceneitem_t *textItem = obs_scene_find_source(s, n("T Recap Text 2"));
	obs_sceneitem_t *mediaItem = obs_scene_find_source(s, n("T Recap Media"));
	ASSERT_TRUE(textItem && mediaItem);
	vec2 pos;
	obs_sceneitem_get_pos(textItem, &pos);
	EXPECT_FLOAT_EQ(pos.x, 960);
	EXPECT_FLOAT_EQ(pos.y, 1026);
	EXPECT_EQ(obs_sceneitem_get_alignment(textItem), uint32_t(OBS_ALIGN_BOTTOM));
	EXPECT_EQ(obs_sceneitem_get_bounds_type(mediaItem), OBS_BOUNDS_SCALE_INNER);

	// Making again neither adds nor moves items.
	vec2 moved = {5, 5};
	obs_sceneitem_set_pos(textItem, &moved);
	ASSERT_TRUE(makeRecapScene(msg));
	obs_sceneitem_get_pos(textItem, &pos);
	EXPECT_FLOAT_EQ(pos.x, 5);
	int count = 0;
	obs_scene_enum_items(
	    s,
	    [](obs_scene_t *, obs_sceneitem_t *, void *p) {
		    ++*static_cast<int *>(p);
		    return true;
	    },
	    &count);
	EXPECT_EQ(count, 2);
}

TEST(RecapTextLayout, SizesFollowTheCanvas)
{
	OBSDataAutoRelease big = recapTextSettings(1920, 1080);
	OBSDataAutoRelease bigFont = obs_data_get_obj(big, "font");
	EXPECT_EQ(obs_data_get_int(bigFont, "size"), 60);
	OBSDataAutoRelease small = recapTextSettings(320, 200);
	OBSDataAutoRelease smallFont = obs_data_get_obj(small, "font");
	EXPECT_EQ(obs_data_get_int(smallFont, "size"), 12);
	if (std::string(recapTextSourceType()) == "text_gdiplus") {
		EXPECT_EQ(obs_data_get_int(big, "extents_cx"), 1728);
		EXPECT_EQ(obs_data_get_int(big, "extents_cy"), 270);
	} else {
		EXPECT_EQ(obs_data_get_int(big, "custom_width"), 1728);
		EXPECT_TRUE(obs_data_get_bool(big, "word_wrap"));
	}
}

TEST_F(SceneSetup, AddRecapSceneToCurrentShowsItOnTop)
{
	QString msg;
	EXPECT_FALSE(addRecapSceneToCurrent(msg));
	EXPECT_EQ(msg, text("Setup.NoScene"));
	ASSERT_TRUE(makeRecapScene(msg));
	adoptMade();
	FrontendDouble::state().currentSceneName = n("T Recap");
	EXPECT_FALSE(addRecapSceneToCurrent(msg));
	EXPECT_EQ(msg, text("Recap.PickOtherScene"));

	obs_scene_t *program = mainScene(n("T Live"));
	obs_source_t *filler = objects.source("ffmpeg_source", n("T Filler"));
	FrontendDouble::state().currentSceneName = n("T Live");
	ASSERT_TRUE(addRecapSceneToCurrent(msg));
	obs_sceneitem_t *item = obs_scene_find_source(program, n("T Recap"));
	ASSERT_TRUE(item);
	obs_sceneitem_set_visible(item, false);
	obs_scene_add(program, filler);
	// Already there: made visible and moved to the top again, not added twice.
	ASSERT_TRUE(addRecapSceneToCurrent(msg));
	EXPECT_EQ(obs_scene_find_source(program, n("T Recap")), item);
	EXPECT_TRUE(obs_sceneitem_visible(item));
	obs_sceneitem_t *top = nullptr;
	obs_scene_enum_items(
	    program,
	    [](obs_scene_t *, obs_sceneitem_t *it, void *p) {
		    *static_cast<obs_sceneitem_t **>(p) = it;
		    return true;
	    },
	    &top);
	EXPECT_EQ(top, item);
}
