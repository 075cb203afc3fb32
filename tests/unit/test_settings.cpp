#include "TestSupport.h"
#include "config/Settings.h"
#include "util/ModuleCore.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <QFile>

namespace {

class SettingsTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	QString configPath() const { return dir.path() + "/config.json"; }
	void writeConfig(const char *json) { ASSERT_TRUE(writeFileBytes(configPath(), QByteArray(json))); }
	void TearDown() override { releaseSettingsData(); }
};

TEST_F(SettingsTest, DefaultsWithoutFileIncludeLocalisedNames)
{
	loadSettings();
	const Settings &s = settings();
	EXPECT_TRUE(s.press_clip && s.press_replay && s.scene_marks && s.marks_start && s.marks_song && s.marks_topic &&
		    s.marks_external && s.record_chapters && s.auto_start_buffer && s.rename_files);
	EXPECT_FALSE(s.dock_shown);
	EXPECT_EQ(s.replay_seconds, 20);
	EXPECT_EQ(s.replay_speed, 100);
	EXPECT_EQ(s.replay_repeat, 1);
	EXPECT_EQ(s.recap_seconds, 15);
	EXPECT_TRUE(s.export_dir.isEmpty());
	EXPECT_TRUE(s.ignore_scenes.isEmpty());
	EXPECT_EQ(s.replay_scene, QString::fromUtf8(moduleText("Default.ReplayScene")));
	EXPECT_EQ(s.recap_text, QString::fromUtf8(moduleText("Recap.DefaultText")));
	EXPECT_EQ(s.vantor_end, QString::fromUtf8(moduleText("Default.VantorEnd")));
	EXPECT_NE(hotkeyData(), nullptr);
}

TEST_F(SettingsTest, IntegersAreClampedIntoRange)
{
	writeConfig(R"({"replay_seconds":0,"replay_speed":5,"replay_repeat":5,"recap_seconds":200})");
	loadSettings();
	EXPECT_EQ(settings().replay_seconds, 3);
	EXPECT_EQ(settings().replay_speed, 10);
	EXPECT_EQ(settings().replay_repeat, 3);
	EXPECT_EQ(settings().recap_seconds, 120);

	writeConfig(R"({"replay_seconds":1000,"replay_repeat":0,"recap_seconds":-4,"replay_speed":"fast"})");
	loadSettings();
	EXPECT_EQ(settings().replay_seconds, 300);
	EXPECT_EQ(settings().replay_repeat, 1);
	EXPECT_EQ(settings().recap_seconds, 3);
	// A value of the wrong type reads as 0 through the typed getter, then clamps.
	EXPECT_EQ(settings().replay_speed, 10);
}

TEST_F(SettingsTest, IgnoredScenesDropEmptyNamesAndKeepDuplicates)
{
	writeConfig(R"({"ignore_scenes":[{"name":""},{"name":"A"},{"name":"A"}]})");
	loadSettings();
	EXPECT_EQ(settings().ignore_scenes, QStringList({"A", "A"}));
}

TEST_F(SettingsTest, MissingNameGetsDefaultButEmptyNameStaysEmpty)
{
	writeConfig(R"({"replay_media":"Cam clip"})");
	loadSettings();
	EXPECT_EQ(settings().replay_scene, QString::fromUtf8(moduleText("Default.ReplayScene")));
	EXPECT_EQ(settings().replay_media, "Cam clip");

	writeConfig(R"({"replay_scene":"","press_clip":false,"dock_shown":true})");
	loadSettings();
	EXPECT_TRUE(settings().replay_scene.isEmpty());
	EXPECT_FALSE(settings().press_clip);
	EXPECT_TRUE(settings().dock_shown);
}

TEST_F(SettingsTest, SaveWritesEveryMemberInOrder)
{
	loadSettings();
	settings().ignore_scenes = QStringList{QStringLiteral("BRB"), QString::fromUtf8("ゲーム")};
	settings().export_dir = "/tmp/x";
	saveSettings();
	const QByteArray json = readFileBytes(configPath());
	const char *order[] = {"press_clip",        "press_replay",  "scene_marks",        "marks_start",
			       "marks_song",        "marks_topic",   "marks_external",     "record_chapters",
			       "auto_start_buffer", "rename_files",  "export_dir",         "replay_seconds",
			       "replay_speed",      "replay_repeat", "replay_from_memory", "vantor_start",
			       "vantor_end",        "replay_scene",  "replay_media",       "recap_scene",
			       "recap_media",       "recap_text",    "recap_seconds",      "dock_shown",
			       "ignore_scenes",     "hotkeys"};
	int last = -1;
	for (const char *key : order) {
		int at = json.indexOf(QByteArray("\"") + key + "\"");
		ASSERT_GE(at, 0) << key;
		EXPECT_GT(at, last) << key << " out of order";
		last = at;
	}
	loadSettings();
	EXPECT_EQ(settings().ignore_scenes, (QStringList{QStringLiteral("BRB"), QString::fromUtf8("ゲーム")}));
	EXPECT_EQ(settings().export_dir, "/tmp/x");
}

TEST_F(SettingsTest, BackupRestoresPreviousSaveAndCorruptFileFallsBack)
{
	loadSettings();
	settings().replay_seconds = 42;
	saveSettings();
	settings().replay_seconds = 43;
	saveSettings();
	// The backup holds the previous save, the file the last one.
	OBSDataAutoRelease bak = obs_data_create_from_json_file((configPath() + ".bak").toUtf8().constData());
	ASSERT_TRUE(bak);
	EXPECT_EQ(obs_data_get_int(bak, "replay_seconds"), 42);

	QFile::remove(configPath());
	loadSettings();
	EXPECT_EQ(settings().replay_seconds, 42);

	// A file that is not JSON falls back to the backup of the last good save.
	settings().replay_seconds = 45;
	saveSettings();
	settings().replay_seconds = 46;
	saveSettings();
	writeConfig("{ not json");
	loadSettings();
	EXPECT_EQ(settings().replay_seconds, 45);
}

TEST_F(SettingsTest, SaveAfterReleaseDoesNothing)
{
	loadSettings();
	releaseSettingsData();
	saveSettings();
	EXPECT_FALSE(QFile::exists(configPath()));
}

} // namespace
