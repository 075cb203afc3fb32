#include "FrontendDouble.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "module/Hotkeys.h"
#include "module/Lifecycle.h"
#include "ui/LumarkDock.h"
#include "ui/SettingsDialog.h"
#include "util/ModuleCore.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <QDockWidget>
#include <QFileInfo>
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

namespace {

// Loads the module the way libobs does, against the frontend stand-in.
class ModuleLifecycleTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	void SetUp() override { FrontendDouble::reset(); }
	void TearDown() override { FrontendDouble::reset(); }
};

TEST_F(ModuleLifecycleTest, LoadExitUnloadShutsDownOnceAndKeepsBindings)
{
	ASSERT_TRUE(moduleLoad());
	auto &fe = FrontendDouble::state();
	ASSERT_EQ(fe.dockIds.size(), 1u);
	EXPECT_EQ(fe.dockIds[0], "kelvaro_lumark_dock");
	ASSERT_EQ(fe.toolsMenuItems.size(), 1u);
	EXPECT_EQ(fe.eventCallbacks, 1);
	for (int i = 0; i < kHotkeyCount; ++i)
		EXPECT_NE(hotkeyTable()[i].id, OBS_INVALID_HOTKEY_ID);

	// Bind a key to the press hotkey, as OBS's hotkey settings would.
	obs_key_combination_t combo = {};
	combo.key = OBS_KEY_F9;
	obs_hotkey_load_bindings(hotkeyTable()[0].id, &combo, 1);

	// Dock placement on first run: docked on the right and remembered.
	EXPECT_FALSE(settings().dock_shown);
	FrontendDouble::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_TRUE(Engine::instance()->isReady());
	EXPECT_TRUE(settings().dock_shown);
	auto *wrapper = qobject_cast<QDockWidget *>(dockWidget()->parentWidget());
	ASSERT_NE(wrapper, nullptr);
	EXPECT_EQ(FrontendDouble::mainWindow()->dockWidgetArea(wrapper), Qt::RightDockWidgetArea);
	EXPECT_FALSE(wrapper->isFloating()) << "docked, not just assigned to the right area";

	const QString config = dir.path() + "/config.json";
	ASSERT_TRUE(QFileInfo::exists(config));
	QFile::remove(config);

	FrontendDouble::fireEvent(OBS_FRONTEND_EVENT_EXIT);
	EXPECT_TRUE(isShuttingDown());
	EXPECT_TRUE(Engine::instance()->isStopped());
	ASSERT_TRUE(QFileInfo::exists(config)) << "exit writes the settings";
	// The binding made in OBS went to our own file, not to the profile.
	const QByteArray json = readFileBytes(config);
	EXPECT_TRUE(json.contains("kelvaro_lumark.press"));
	EXPECT_TRUE(json.contains("OBS_KEY_F9"));
	QFile::remove(config);

	FrontendDouble::fireEvent(OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN);
	moduleUnload();
	EXPECT_FALSE(QFileInfo::exists(config)) << "shutdown runs once: nothing is written again";
	EXPECT_EQ(fe.eventCallbacks, 0);
	for (int i = 0; i < kHotkeyCount; ++i)
		EXPECT_EQ(hotkeyTable()[i].id, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(hotkeyData(), nullptr);
}

TEST(HotkeyBindings, SurviveSaveAndLoad)
{
	TempConfigDir dir;
	loadSettings();
	registerHotkeys();
	obs_key_combination_t combo = {};
	combo.key = OBS_KEY_F10;
	combo.modifiers = INTERACT_CONTROL_KEY;
	obs_hotkey_load_bindings(hotkeyTable()[2].id, &combo, 1);
	saveHotkeyBindings();
	saveSettings();
	unregisterHotkeys();
	releaseSettingsData();

	loadSettings();
	registerHotkeys();
	OBSDataArrayAutoRelease saved = obs_hotkey_save(hotkeyTable()[2].id);
	ASSERT_EQ(obs_data_array_count(saved), 1u);
	OBSDataAutoRelease item = obs_data_array_item(saved, 0);
	EXPECT_STREQ(obs_data_get_string(item, "key"), "OBS_KEY_F10");
	EXPECT_TRUE(obs_data_get_bool(item, "control"));
	OBSDataArrayAutoRelease other = obs_hotkey_save(hotkeyTable()[0].id);
	EXPECT_EQ(obs_data_array_count(other), 0u);
	unregisterHotkeys();
	releaseSettingsData();
}

} // namespace

namespace {

TEST(SettingsMenu, SecondClickWhileDialogIsOpenOpensNothing)
{
	FrontendDouble::reset();
	obs_frontend_add_tools_menu_item("Settings", openSettingsDialog, nullptr);
	int dialogsSeen = 0;
	bool secondClickReturned = false;
	QTimer::singleShot(50, [&] {
		for (QWidget *w : QApplication::topLevelWidgets())
			if (qobject_cast<SettingsDialog *>(w) && w->isVisible())
				++dialogsSeen;
		// Runs inside the first dialog's event loop: must return at once, not block in a second exec.
		FrontendDouble::clickToolsMenuItem("Settings");
		secondClickReturned = true;
		for (QWidget *w : QApplication::topLevelWidgets())
			if (auto *d = qobject_cast<SettingsDialog *>(w))
				d->reject();
	});
	// Should a second dialog open, this frees the test instead of hanging it.
	bool secondDialogOpened = false;
	QTimer guard;
	guard.setSingleShot(true);
	QObject::connect(&guard, &QTimer::timeout, [&] {
		for (QWidget *w : QApplication::topLevelWidgets())
			if (auto *d = qobject_cast<SettingsDialog *>(w); d && d->isVisible()) {
				secondDialogOpened = true;
				d->reject();
			}
	});
	guard.start(1500);
	FrontendDouble::clickToolsMenuItem("Settings");
	EXPECT_FALSE(secondDialogOpened);
	EXPECT_EQ(dialogsSeen, 1);
	EXPECT_TRUE(secondClickReturned);
	// Closed again: the next click opens a dialog once more.
	bool opened = false;
	QTimer::singleShot(50, [&] {
		for (QWidget *w : QApplication::topLevelWidgets())
			if (auto *d = qobject_cast<SettingsDialog *>(w)) {
				opened = opened || d->isVisible();
				d->reject();
			}
	});
	FrontendDouble::clickToolsMenuItem("Settings");
	EXPECT_TRUE(opened);
	FrontendDouble::reset();
}

} // namespace
