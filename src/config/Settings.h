#pragma once

#include <obs.h>
#include <QString>
#include <QStringList>
#include <string>

// The plug-in's settings; field names are the keys of "config.json".
struct Settings {
	bool press_clip = true;
	bool press_replay = true;
	bool scene_marks = true;
	bool marks_start = true;
	bool marks_song = true;
	bool marks_topic = true;
	bool marks_external = true;
	bool record_chapters = true;
	QStringList ignore_scenes;
	bool auto_start_buffer = true;
	bool rename_files = true;
	QString export_dir;
	int replay_seconds = 20;
	int replay_speed = 100;
	int replay_repeat = 1;
	// A replay press plays from the encoder's packets in memory instead of waiting for OBS's save.
	bool replay_from_memory = true;
	QString vantor_start;
	QString vantor_end;
	QString replay_scene;
	QString replay_media;
	QString recap_scene;
	QString recap_media;
	QString recap_text;
	int recap_seconds = 15;
	bool dock_shown = false;
};

// Ranges enforced when values come from outside (file, remote clients, the dialog).
namespace SettingsRange {
constexpr int ReplaySecondsMin = 3, ReplaySecondsMax = 300;
constexpr int ReplaySpeedMin = 10, ReplaySpeedMax = 200;
constexpr int ReplayRepeatMin = 1, ReplayRepeatMax = 3;
constexpr int RecapSecondsMin = 3, RecapSecondsMax = 120;
} // namespace SettingsRange

Settings &settings();

// Saved hotkey bindings keyed by hotkey name; null before loadSettings and after releaseSettingsData.
obs_data_t *hotkeyData();

std::string settingsFilePath();
void loadSettings();
bool saveSettings();
void releaseSettingsData();

// Clamps the integer fields into their ranges and drops empty ignored-scene names.
void clampSettings(Settings &s);
