#include "config/Settings.h"

#include "config/OrderedJson.h"
#include "util/ModuleCore.h"

#include <obs.hpp>
#include <util/platform.h>

#include <algorithm>

namespace {
Settings g_settings;
OBSDataAutoRelease g_hotkeyData;

constexpr SettingField kFields[] = {
    {"press_clip", &Settings::press_clip},
    {"press_replay", &Settings::press_replay},
    {"scene_marks", &Settings::scene_marks},
    {"marks_start", &Settings::marks_start},
    {"marks_song", &Settings::marks_song},
    {"marks_topic", &Settings::marks_topic},
    {"marks_external", &Settings::marks_external},
    {"record_chapters", &Settings::record_chapters},
    {"auto_start_buffer", &Settings::auto_start_buffer},
    {"rename_files", &Settings::rename_files},
    {"export_dir", &Settings::export_dir},
    {"replay_seconds", &Settings::replay_seconds, SettingsRange::ReplaySecondsMin, SettingsRange::ReplaySecondsMax},
    {"replay_speed", &Settings::replay_speed, SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax},
    {"replay_repeat", &Settings::replay_repeat, SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax},
    {"replay_from_memory", &Settings::replay_from_memory},
    {"vantor_start", &Settings::vantor_start},
    {"vantor_end", &Settings::vantor_end},
    {"replay_scene", &Settings::replay_scene},
    {"replay_media", &Settings::replay_media},
    {"recap_scene", &Settings::recap_scene},
    {"recap_media", &Settings::recap_media},
    {"recap_text", &Settings::recap_text},
    {"recap_seconds", &Settings::recap_seconds, SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax},
    // The dock's own state, not a setting clients change.
    {"dock_shown", &Settings::dock_shown, false},
    {"highlight_seconds", &Settings::highlight_seconds, SettingsRange::HighlightSecondsMin,
     SettingsRange::HighlightSecondsMax},
    {"highlights_video", &Settings::highlights_video},
};

// Clamped as 64-bit: a huge value must not wrap into the range.
int clampInt(long long v, int lo, int hi)
{
	return (int)std::clamp<long long>(v, lo, hi);
}

QString dataString(obs_data_t *data, const char *key)
{
	return QString::fromUtf8(obs_data_get_string(data, key));
}

void writeSetting(obs_data_t *data, const SettingField &f, const Settings &s)
{
	if (f.flag)
		obs_data_set_bool(data, f.key, s.*f.flag);
	else if (f.number)
		obs_data_set_int(data, f.key, s.*f.number);
	else
		obs_data_set_string(data, f.key, (s.*f.text).toUtf8().constData());
}

void setLocalisedDefaults(Settings &s)
{
	s.replay_scene = moduleQText("Default.ReplayScene");
	s.replay_media = moduleQText("Default.ReplayMedia");
	s.recap_scene = moduleQText("Recap.DefaultScene");
	s.recap_media = moduleQText("Recap.DefaultMedia");
	s.recap_text = moduleQText("Recap.DefaultText");
	s.vantor_start = moduleQText("Default.VantorStart");
	s.vantor_end = moduleQText("Default.VantorEnd");
}
} // namespace

Settings &settings()
{
	return g_settings;
}

obs_data_t *hotkeyData()
{
	return g_hotkeyData;
}

std::string settingsFilePath()
{
	return moduleConfigPath("config.json");
}

SettingFields settingFields()
{
	return {kFields, sizeof(kFields) / sizeof(kFields[0])};
}

bool readSetting(obs_data_t *data, const SettingField &f, Settings &s)
{
	if (!obs_data_has_user_value(data, f.key))
		return false;
	if (f.flag)
		s.*f.flag = obs_data_get_bool(data, f.key);
	else if (f.number)
		s.*f.number = clampInt(obs_data_get_int(data, f.key), f.min, f.max);
	else
		s.*f.text = dataString(data, f.key);
	return true;
}

void copySetting(const SettingField &f, const Settings &from, Settings &to)
{
	if (f.flag)
		to.*f.flag = from.*f.flag;
	else if (f.number)
		to.*f.number = from.*f.number;
	else
		to.*f.text = from.*f.text;
}

QStringList readIgnoreScenes(obs_data_t *data)
{
	QStringList names;
	OBSDataArrayAutoRelease scenes = obs_data_get_array(data, SettingsKey::IgnoreScenes);
	const size_t count = scenes ? obs_data_array_count(scenes) : 0;
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(scenes, i);
		QString name = dataString(item, SettingsKey::SceneName);
		if (!name.isEmpty())
			names.append(name);
	}
	return names;
}

void loadSettings()
{
	Settings &s = g_settings;
	s = Settings();
	setLocalisedDefaults(s);

	g_hotkeyData = obs_data_create();

	const std::string path = settingsFilePath();
	if (path.empty())
		return;
	OBSDataAutoRelease data = obs_data_create_from_json_file_safe(path.c_str(), "bak");
	if (!data)
		return;

	for (const SettingField &f : kFields)
		readSetting(data, f, s);
	s.ignore_scenes = readIgnoreScenes(data);

	OBSDataAutoRelease hotkeys = obs_data_get_obj(data, SettingsKey::Hotkeys);
	if (hotkeys)
		obs_data_apply(g_hotkeyData, hotkeys);
}

bool saveSettings()
{
	const std::string path = settingsFilePath();
	if (path.empty() || !g_hotkeyData)
		return false;
	const Settings &s = g_settings;

	os_mkdirs(moduleConfigPath("").c_str());

	OBSDataAutoRelease data = obs_data_create();
	std::vector<const char *> order;
	for (const SettingField &f : kFields) {
		writeSetting(data, f, s);
		order.push_back(f.key);
	}

	OBSDataArrayAutoRelease scenes = obs_data_array_create();
	for (const QString &name : s.ignore_scenes) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, SettingsKey::SceneName, name.toUtf8().constData());
		obs_data_array_push_back(scenes, item);
	}
	obs_data_set_array(data, SettingsKey::IgnoreScenes, scenes);
	obs_data_set_obj(data, SettingsKey::Hotkeys, g_hotkeyData);
	order.push_back(SettingsKey::IgnoreScenes);
	order.push_back(SettingsKey::Hotkeys);
	return saveOrderedJsonSafe(data, order, path.c_str());
}

void releaseSettingsData()
{
	g_hotkeyData = nullptr;
}
