#include "FrontendDouble.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "util/ModuleCore.h"
#include "ui/SettingsDialog.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QSpinBox>

// Reaches the dialog's private widgets; the dialog declares it a friend.
struct SettingsDialogTestAccess {
	SettingsDialog &d;
	QCheckBox *pressClip() { return d.pressClip; }
	QCheckBox *pressReplay() { return d.pressReplay; }
	QCheckBox *sceneMarks() { return d.sceneMarks; }
	QListWidget *ignoreScenes() { return d.ignoreScenes; }
	QLabel *bufferNote() { return d.bufferNote; }
	QLineEdit *vantorStart() { return d.vantorStart; }
	QLineEdit *vantorEnd() { return d.vantorEnd; }
	QComboBox *replayMedia() { return d.replayMedia; }
	QComboBox *replayScene() { return d.replayScene; }
	void refillLists() { d.refillLists(); }

	// Puts every value of s into the widgets, as a user would type and tick them.
	void enter(const Settings &s)
	{
		const std::pair<QCheckBox *, bool> boxes[] = {
		    {d.pressClip, s.press_clip},         {d.pressReplay, s.press_replay},
		    {d.sceneMarks, s.scene_marks},       {d.marksStart, s.marks_start},
		    {d.marksSong, s.marks_song},         {d.marksTopic, s.marks_topic},
		    {d.marksExternal, s.marks_external}, {d.recordChapters, s.record_chapters}};
		for (const auto &b : boxes)
			b.first->setChecked(b.second);
		for (int i = 0; i < d.ignoreScenes->count(); ++i) {
			QListWidgetItem *item = d.ignoreScenes->item(i);
			item->setCheckState(s.ignore_scenes.contains(item->text()) ? Qt::Checked : Qt::Unchecked);
		}
		d.autoBuffer->setChecked(s.auto_start_buffer);
		d.renameFiles->setChecked(s.rename_files);
		d.exportDir->setText(s.export_dir);
		d.replaySeconds->setValue(s.replay_seconds);
		d.replaySpeed->setValue(s.replay_speed);
		d.replayRepeat->setValue(s.replay_repeat);
		d.vantorStart->setText(s.vantor_start);
		d.vantorEnd->setText(s.vantor_end);
		d.replayScene->setCurrentText(s.replay_scene);
		d.replayMedia->setCurrentText(s.replay_media);
		d.recapScene->setCurrentText(s.recap_scene);
		d.recapMedia->setCurrentText(s.recap_media);
		d.recapText->setCurrentText(s.recap_text);
		d.recapSeconds->setValue(s.recap_seconds);
	}
};

namespace {

void expectSameSettings(const Settings &a, const Settings &b, bool compareTriggers = true)
{
	EXPECT_EQ(a.press_clip, b.press_clip);
	EXPECT_EQ(a.press_replay, b.press_replay);
	EXPECT_EQ(a.scene_marks, b.scene_marks);
	EXPECT_EQ(a.marks_start, b.marks_start);
	EXPECT_EQ(a.marks_song, b.marks_song);
	EXPECT_EQ(a.marks_topic, b.marks_topic);
	EXPECT_EQ(a.marks_external, b.marks_external);
	EXPECT_EQ(a.record_chapters, b.record_chapters);
	EXPECT_EQ(a.ignore_scenes, b.ignore_scenes);
	EXPECT_EQ(a.auto_start_buffer, b.auto_start_buffer);
	EXPECT_EQ(a.rename_files, b.rename_files);
	EXPECT_EQ(a.export_dir, b.export_dir);
	EXPECT_EQ(a.replay_seconds, b.replay_seconds);
	EXPECT_EQ(a.replay_speed, b.replay_speed);
	EXPECT_EQ(a.replay_repeat, b.replay_repeat);
	if (compareTriggers) {
		EXPECT_EQ(a.vantor_start, b.vantor_start);
		EXPECT_EQ(a.vantor_end, b.vantor_end);
	}
	EXPECT_EQ(a.replay_scene, b.replay_scene);
	EXPECT_EQ(a.replay_media, b.replay_media);
	EXPECT_EQ(a.recap_scene, b.recap_scene);
	EXPECT_EQ(a.recap_media, b.recap_media);
	EXPECT_EQ(a.recap_text, b.recap_text);
	EXPECT_EQ(a.recap_seconds, b.recap_seconds);
}

// Every field away from its default.
Settings unusualSettings()
{
	Settings s;
	s.press_clip = true;
	s.press_replay = false;
	s.scene_marks = false;
	s.marks_start = false;
	s.marks_song = false;
	s.marks_topic = true;
	s.marks_external = false;
	s.record_chapters = false;
	s.ignore_scenes = QStringList{QStringLiteral("Talk"), QStringLiteral("Old scene")};
	s.auto_start_buffer = false;
	s.rename_files = false;
	s.export_dir = QStringLiteral("/tmp/lumark lists");
	s.replay_seconds = 45;
	s.replay_speed = 70;
	s.replay_repeat = 3;
	s.vantor_start = QStringLiteral("cam wide");
	s.vantor_end = QStringLiteral("cam back");
	s.replay_scene = QStringLiteral("My Replay");
	s.replay_media = QStringLiteral("My Replay Media");
	s.recap_scene = QStringLiteral("My Recap");
	s.recap_media = QStringLiteral("My Recap Media");
	s.recap_text = QStringLiteral("My Recap Text");
	s.recap_seconds = 9;
	return s;
}

class SettingsDialogTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	std::unique_ptr<Engine> engine;

	void SetUp() override
	{
		FrontendDouble::reset();
		FrontendDouble::state().sceneNames = {"Game", "Talk", "My Replay"};
		loadSettings();
		engine = std::make_unique<Engine>();
		engine->onFinishedLoading();
	}
	void TearDown() override
	{
		engine.reset();
		FrontendDouble::reset();
		loadSettings();
	}
	QString configFile() const { return dir.path() + QStringLiteral("/config.json"); }
};

TEST_F(SettingsDialogTest, OkRoundTripsEverySettingAndTakesNewValues)
{
	const Settings stored = unusualSettings();
	settings() = stored;
	{
		SettingsDialog dialog(*engine);
		QSignalSpy status(engine.get(), &Engine::statusChanged);
		dialog.accept();
		EXPECT_EQ(status.count(), 1) << "the dock is told to refresh";
	}
	expectSameSettings(settings(), stored);
	ASSERT_TRUE(QFileInfo::exists(configFile()));
	loadSettings();
	expectSameSettings(settings(), stored);

	// Now change every value through the widgets.
	Settings wanted;
	wanted.press_clip = false;
	wanted.press_replay = false;
	wanted.scene_marks = true;
	wanted.marks_start = true;
	wanted.marks_song = true;
	wanted.marks_topic = false;
	wanted.marks_external = true;
	wanted.record_chapters = true;
	wanted.ignore_scenes = QStringList{QStringLiteral("Game")};
	wanted.auto_start_buffer = true;
	wanted.rename_files = true;
	wanted.export_dir = QStringLiteral("/tmp/other");
	wanted.replay_seconds = 300;
	wanted.replay_speed = 200;
	wanted.replay_repeat = 1;
	wanted.vantor_start = stored.vantor_start; // greyed out without the camera plug-in
	wanted.vantor_end = stored.vantor_end;
	wanted.replay_scene = QStringLiteral("Replay 2");
	wanted.replay_media = QStringLiteral("Replay 2 Media");
	wanted.recap_scene = QStringLiteral("Recap 2");
	wanted.recap_media = QStringLiteral("Recap 2 Media");
	wanted.recap_text = QStringLiteral("Recap 2 Text");
	wanted.recap_seconds = 120;
	{
		SettingsDialog dialog(*engine);
		SettingsDialogTestAccess ui{dialog};
		ui.enter(wanted);
		dialog.accept();
	}
	expectSameSettings(settings(), wanted);
	loadSettings();
	expectSameSettings(settings(), wanted);
}

TEST_F(SettingsDialogTest, CancelChangesNothing)
{
	const Settings before = settings();
	{
		SettingsDialog dialog(*engine);
		SettingsDialogTestAccess ui{dialog};
		ui.enter(unusualSettings());
		dialog.reject();
	}
	expectSameSettings(settings(), before);
	EXPECT_FALSE(QFileInfo::exists(configFile())) << "nothing was written";
}

bool cameraPluginPresent()
{
	const char *name = obs_source_get_display_name("vantor_source");
	return name && *name;
}

TEST_F(SettingsDialogTest, WithoutTheCameraPluginTheStoredTriggersStay)
{
	// Source types cannot be unregistered: once another test loaded the stand-in, this case can only
	// run in a process of its own (as ctest runs it).
	if (cameraPluginPresent())
		GTEST_SKIP() << "the camera plug-in stand-in is loaded in this process";
	settings().vantor_start = QStringLiteral("cam wide");
	settings().vantor_end = QStringLiteral("cam back");
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	ASSERT_FALSE(ui.vantorStart()->isEnabled());
	ASSERT_FALSE(ui.vantorEnd()->isEnabled());
	EXPECT_EQ(ui.vantorStart()->text(), QStringLiteral("cam wide"));
	ui.vantorStart()->setText(QString());
	dialog.accept();
	EXPECT_EQ(settings().vantor_start, QStringLiteral("cam wide"));
	EXPECT_EQ(settings().vantor_end, QStringLiteral("cam back"));
}

TEST_F(SettingsDialogTest, WithTheCameraPluginTheTriggersAreEditable)
{
	static const bool loaded = [] {
		obs_module_t *module = nullptr;
		return obs_open_module(&module, LUMARK_VANTOR_MODULE, nullptr) == MODULE_SUCCESS &&
		       obs_init_module(module);
	}();
	ASSERT_TRUE(loaded || cameraPluginPresent());
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	ASSERT_TRUE(ui.vantorStart()->isEnabled());
	ui.vantorStart()->setText(QStringLiteral("  cam wide "));
	ui.vantorEnd()->setText(QStringLiteral("cam back"));
	dialog.accept();
	EXPECT_EQ(settings().vantor_start, QStringLiteral("cam wide"));
	EXPECT_EQ(settings().vantor_end, QStringLiteral("cam back"));
}

TEST_F(SettingsDialogTest, IgnoredScenesLeaveOutTheReplaySceneAndKeepVanishedOnes)
{
	settings().replay_scene = QStringLiteral("My Replay");
	settings().ignore_scenes = QStringList{QStringLiteral("Talk"), QStringLiteral("Old scene")};
	settings().scene_marks = false;
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	QListWidget *list = ui.ignoreScenes();
	ASSERT_EQ(list->count(), 3);
	EXPECT_EQ(list->item(0)->text(), QStringLiteral("Game"));
	EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
	EXPECT_EQ(list->item(1)->text(), QStringLiteral("Talk"));
	EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
	EXPECT_EQ(list->item(2)->text(), QStringLiteral("Old scene"));
	EXPECT_EQ(list->item(2)->checkState(), Qt::Checked);

	EXPECT_FALSE(list->isEnabled()) << "no scene marks, nothing to ignore";
	ui.sceneMarks()->setChecked(true);
	EXPECT_TRUE(list->isEnabled());
}

TEST_F(SettingsDialogTest, ReplayNeedsAClip)
{
	settings().press_clip = true;
	settings().press_replay = true;
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	ui.pressClip()->setChecked(false);
	EXPECT_FALSE(ui.pressReplay()->isChecked());
	ui.pressReplay()->setChecked(true);
	EXPECT_TRUE(ui.pressClip()->isChecked());
}

TEST_F(SettingsDialogTest, RefillKeepsTypedNamesAndListsMediaSources)
{
	OBSSourceAutoRelease media = obs_source_create("ffmpeg_source", "Clip Player", nullptr, nullptr);
	ASSERT_TRUE(media);
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	ui.replayMedia()->setCurrentText(QStringLiteral("Typed Media"));
	ui.replayScene()->setCurrentText(QStringLiteral("Typed Scene"));
	ui.refillLists();
	EXPECT_EQ(ui.replayMedia()->currentText(), QStringLiteral("Typed Media"));
	EXPECT_EQ(ui.replayScene()->currentText(), QStringLiteral("Typed Scene"));
	EXPECT_GE(ui.replayMedia()->findText(QStringLiteral("Clip Player")), 0);
	EXPECT_EQ(ui.replayScene()->findText(QStringLiteral("Talk")), 1);

	// An emptied field falls back to the stored name.
	ui.replayScene()->setCurrentText(QString());
	ui.refillLists();
	EXPECT_EQ(ui.replayScene()->currentText(), settings().replay_scene);
}

TEST_F(SettingsDialogTest, BufferNoteSaysWhenTheBufferIsOff)
{
	SettingsDialog dialog(*engine);
	SettingsDialogTestAccess ui{dialog};
	EXPECT_EQ(ui.bufferNote()->text(),
		  moduleQText("Buffer.Disabled") + QLatin1Char('\n') + moduleQText("Settings.BufferNote"));
}

} // namespace
