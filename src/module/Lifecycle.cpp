#include "module/Lifecycle.h"

#include "LumarkVersion.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "module/Hotkeys.h"
#include "util/ModuleCore.h"
#include "util/ObsCompat.h"
#include "playback/MemoryReplay.h"
#include "playback/Recap.h"
#include "remote/Remote.h"
#include "ui/LumarkDock.h"
#include "ui/SettingsDialog.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <atomic>

namespace {
QPointer<LumarkDock> g_dock;
bool g_settingsDialogOpen = false;
std::atomic<bool> g_shuttingDown{false};
} // namespace

bool isShuttingDown()
{
	return g_shuttingDown.load();
}

LumarkDock *dockWidget()
{
	return g_dock.data();
}

// The composition root: the one place that creates the Engine and hands it to every part that
// serves the user. Only this file and the hotkey callback reach Engine::instance().
bool moduleLoad()
{
	loadSettings();
	MemoryReplay::registerOutputType();
	MemoryReplay::cleanFolder();
	Engine &engine = *Engine::instance();
	openRemote(engine);
	registerAddMarkProc();
	registerHotkeys();

	g_dock = new LumarkDock(engine, [] { openSettingsDialog(nullptr); });
	compatAddDock(kDockId, moduleText("Dock.Title"), g_dock.data());
	obs_frontend_add_tools_menu_item(moduleText("Menu.Settings"), openSettingsDialog, nullptr);
	obs_frontend_add_event_callback(onFrontendEvent, nullptr);

	pluginLog(LOG_INFO, "plugin loaded successfully (version %s, build %s)", LUMARK_VERSION, LUMARK_BUILD);
	return true;
}

void modulePostLoad()
{
	registerVendor();
}

void moduleUnload()
{
	obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
	moduleShutdown();
	unregisterHotkeys();
	releaseSettingsData();
	pluginLog(LOG_INFO, "plugin unloaded");
}

void moduleShutdown()
{
	if (g_shuttingDown.exchange(true))
		return;
	closeRemote();
	Engine::instance()->shutdown();
	saveHotkeyBindings();
	saveSettings();
}

void onFrontendEvent(enum obs_frontend_event event, void *)
{
	Engine *engine = Engine::instance();
	if (engine->followFrontendEvent(event))
		return;
	switch (event) {
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
		if (!g_shuttingDown && engine->isReady())
			engine->players().recap().start();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
		engine->players().stopAll();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
	case OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN:
		moduleShutdown();
		break;
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		engine->onFinishedLoading();
		placeDockOnce();
		if (LumarkDock *dock = g_dock.data())
			QTimer::singleShot(0, dock, &LumarkDock::layoutOnce);
		break;
	default:
		break;
	}
}

void placeDockOnce()
{
	LumarkDock *dock = g_dock.data();
	if (settings().dock_shown || !dock)
		return;
	auto *main = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	auto *wrapper = qobject_cast<QDockWidget *>(dock->parentWidget());
	if (!main || !wrapper)
		return;
	// Add first: a floating dock that the main window's layout does not hold yet cannot be unfloated
	// (the wrapper of older hosts starts out floating and hidden).
	main->addDockWidget(Qt::RightDockWidgetArea, wrapper);
	wrapper->setFloating(false);
	wrapper->setVisible(true);
	settings().dock_shown = true;
	saveSettings();
}

void openSettingsDialog(void *)
{
	if (g_settingsDialogOpen)
		return;
	g_settingsDialogOpen = true;
	{
		SettingsDialog dialog(*Engine::instance(), static_cast<QWidget *>(obs_frontend_get_main_window()));
		dialog.exec();
	}
	g_settingsDialogOpen = false;
}
