#include "module/Hotkeys.h"

#include "config/Settings.h"
#include "engine/Engine.h"
#include "module/Lifecycle.h"
#include "util/ModuleCore.h"

#include <obs.hpp>

#include <QMetaObject>

namespace {
HotkeyRow g_rows[kHotkeyCount] = {
    {"kelvaro_lumark.press", "Hotkey.Press", HotkeyAction::Press, OBS_INVALID_HOTKEY_ID},
    {"kelvaro_lumark.mark", "Hotkey.Mark", HotkeyAction::Mark, OBS_INVALID_HOTKEY_ID},
    {"kelvaro_lumark.replay", "Hotkey.Replay", HotkeyAction::Replay, OBS_INVALID_HOTKEY_ID},
    {"kelvaro_lumark.stop_replay", "Hotkey.StopReplay", HotkeyAction::StopReplay, OBS_INVALID_HOTKEY_ID},
};
} // namespace

HotkeyRow *hotkeyTable()
{
	return g_rows;
}

void registerHotkeys()
{
	for (HotkeyRow &row : g_rows) {
		row.id = obs_hotkey_register_frontend(row.name, moduleText(row.descriptionKey), onHotkey, &row);
		obs_data_t *data = hotkeyData();
		if (!data)
			continue;
		OBSDataArrayAutoRelease binding = obs_data_get_array(data, row.name);
		if (binding)
			obs_hotkey_load(row.id, binding);
	}
}

void onHotkey(void *param, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed || isShuttingDown())
		return;
	const HotkeyRow *row = static_cast<const HotkeyRow *>(param);
	Engine *engine = Engine::instance();
	pluginLog(LOG_INFO, "hotkey %s", row->name);
	const HotkeyAction action = row->action;
	// Hotkeys fire on libobs's hotkey thread; the engine only runs on the UI thread.
	QMetaObject::invokeMethod(
	    engine,
	    [engine, action] {
		    if (action == HotkeyAction::StopReplay)
			    engine->players().stopReplay();
		    else
			    engine->press(static_cast<PressMode>(action), QString());
	    },
	    Qt::QueuedConnection);
}

void saveHotkeyBindings()
{
	obs_data_t *data = hotkeyData();
	if (!data)
		return;
	for (const HotkeyRow &row : g_rows) {
		if (row.id == OBS_INVALID_HOTKEY_ID)
			continue;
		OBSDataArrayAutoRelease binding = obs_hotkey_save(row.id);
		obs_data_set_array(data, row.name, binding);
	}
}

void unregisterHotkeys()
{
	for (HotkeyRow &row : g_rows) {
		if (row.id != OBS_INVALID_HOTKEY_ID)
			obs_hotkey_unregister(row.id);
		row.id = OBS_INVALID_HOTKEY_ID;
	}
}
