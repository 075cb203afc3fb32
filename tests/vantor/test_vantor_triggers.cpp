// Companion camera triggers against the stand-in plug-in. Kept in their own binary: loading the
// stand-in registers its source types for the rest of the process.
#include "test_replay_fixture.h"

#include "playback/VantorTrigger.h"

using replaytest::Replay;

namespace {
bool loadVantorStandIn()
{
	static int loaded = -1;
	if (loaded < 0) {
		obs_module_t *module = nullptr;
		loaded = obs_open_module(&module, LUMARK_VANTOR_MODULE, nullptr) == MODULE_SUCCESS &&
			 obs_init_module(module);
	}
	return loaded == 1;
}

long long triggerCalls(obs_source_t *source, std::string *lastKey = nullptr)
{
	OBSDataAutoRelease s = obs_source_get_settings(source);
	if (lastKey)
		*lastKey = obs_data_get_string(s, "last_key");
	return obs_data_get_int(s, "trigger_calls");
}

} // namespace

TEST_F(Replay, FiresCompanionTriggersAroundTheVisiblePart)
{
	ASSERT_TRUE(loadVantorStandIn());
	obs_source_t *camera = objects.source("vantor_source", "Vantor Cam");
	ASSERT_TRUE(camera);
	settings().vantor_start = "cam on";
	settings().vantor_end = "cam off";

	ASSERT_TRUE(player.play(clip("short2.mp4", 500), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(triggerCalls(camera), 0); // never visible: neither trigger

	ASSERT_TRUE(player.play(clip("cam.mp4", 1100), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	std::string key;
	EXPECT_EQ(triggerCalls(camera, &key), 1);
	EXPECT_EQ(key, "cam on");
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(triggerCalls(camera, &key), 2);
	EXPECT_EQ(key, "cam off");

	settings().vantor_end.clear();
	ASSERT_TRUE(player.play(clip("cam.mp4", 1100), 1));
	ASSERT_TRUE(waitState(InstantReplay::State::Showing));
	ASSERT_TRUE(waitState(InstantReplay::State::Idle));
	EXPECT_EQ(triggerCalls(camera, &key), 3);
	EXPECT_EQ(key, "cam on");
}

TEST(VantorTrigger, CallsEverySourceAndFilterOnce)
{
	ASSERT_TRUE(loadVantorStandIn());
	fake::registerSources();
	fake::Objects objects;
	obs_source_t *camera = objects.source("vantor_source", "Vantor A");
	OBSSourceAutoRelease onCamera = obs_source_create("vantor_filter", "Vantor Filter A", nullptr, nullptr);
	obs_source_filter_add(camera, onCamera);
	obs_source_t *plain = obs_scene_get_source(objects.scene("Plain Scene With Filter"));
	OBSSourceAutoRelease onPlain = obs_source_create("vantor_filter", "Vantor Filter B", nullptr, nullptr);
	obs_source_filter_add(plain, onPlain);

	fireVantorTrigger("");
	EXPECT_EQ(triggerCalls(camera), 0);

	fireVantorTrigger("wide");
	std::string key;
	EXPECT_EQ(triggerCalls(camera, &key), 1);
	EXPECT_EQ(key, "wide");
	EXPECT_EQ(triggerCalls(onCamera), 1);
	EXPECT_EQ(triggerCalls(onPlain), 1);
	OBSDataAutoRelease s = obs_source_get_settings(onPlain);
	EXPECT_STREQ(obs_data_get_string(s, "last_kind"), "external");
	EXPECT_EQ(triggerCalls(plain), 0);
}
