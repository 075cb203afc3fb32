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
	// The highlights video: the seconds before each mark, and whether a session's end writes it.
	int highlight_seconds = 20;
	bool highlights_video = true;
};

// Ranges enforced when values come from outside (file, remote clients, the dialog).
namespace SettingsRange {
constexpr int ReplaySecondsMin = 3, ReplaySecondsMax = 300;
constexpr int ReplaySpeedMin = 10, ReplaySpeedMax = 200;
constexpr int ReplayRepeatMin = 1, ReplayRepeatMax = 3;
constexpr int RecapSecondsMin = 3, RecapSecondsMax = 120;
constexpr int HighlightSecondsMin = 5, HighlightSecondsMax = 120;
} // namespace SettingsRange

// Keys of "config.json" (and of SetConfig) that are not one setting of the table below.
namespace SettingsKey {
constexpr const char *IgnoreScenes = "ignore_scenes";
constexpr const char *SceneName = "name"; // of each ignored-scene item
constexpr const char *Hotkeys = "hotkeys";
} // namespace SettingsKey

// One scalar setting: its key, its member (exactly one of the three is set) and, for integers, the
// range values from outside are clamped into.
struct SettingField {
	constexpr SettingField(const char *key, bool Settings::*flag, bool remote = true)
	    : key(key), flag(flag), remote(remote)
	{
	}
	constexpr SettingField(const char *key, int Settings::*number, int min, int max)
	    : key(key), number(number), min(min), max(max)
	{
	}
	constexpr SettingField(const char *key, QString Settings::*text) : key(key), text(text) {}

	const char *key;
	bool Settings::*flag = nullptr;
	int Settings::*number = nullptr;
	QString Settings::*text = nullptr;
	int min = 0, max = 0;
	bool remote = true; // SetConfig may change it
};

struct SettingFields {
	const SettingField *first;
	size_t count;
	const SettingField *begin() const { return first; }
	const SettingField *end() const { return first + count; }
};

// The scalar settings in the order of "config.json"; "ignore_scenes" and "hotkeys" follow them.
SettingFields settingFields();

// Reads the field from data into s when data has a value for it, integers clamped. False when absent.
bool readSetting(obs_data_t *data, const SettingField &field, Settings &s);
void copySetting(const SettingField &field, const Settings &from, Settings &to);
// The names of an "ignore_scenes" array of {"name"} items; empty names never match a scene and are left out.
QStringList readIgnoreScenes(obs_data_t *data);

Settings &settings();

// Saved hotkey bindings keyed by hotkey name; null before loadSettings and after releaseSettingsData.
obs_data_t *hotkeyData();

std::string settingsFilePath();
void loadSettings();
bool saveSettings();
void releaseSettingsData();
