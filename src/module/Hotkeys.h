#pragma once

#include <obs.h>

enum class HotkeyAction { Press = 0, Mark = 1, Replay = 2, StopReplay = 3 };

struct HotkeyRow {
	const char *name;
	const char *descriptionKey;
	HotkeyAction action;
	obs_hotkey_id id;
};

constexpr int kHotkeyCount = 4;
HotkeyRow *hotkeyTable();

void registerHotkeys();
void saveHotkeyBindings();
void unregisterHotkeys();
void onHotkey(void *row, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
