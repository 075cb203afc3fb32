#include "config/Settings.h"

#include "config/OrderedJson.h"
#include "util/ModuleCore.h"

#include <obs.hpp>
#include <util/platform.h>

#include <algorithm>

namespace {
Settings g_settings;
OBSDataAutoRelease g_hotkeyData;

namespace Key {
constexpr const char *PressClip = "press_clip";
constexpr const char *PressReplay = "press_replay";
constexpr const char *SceneMarks = "scene_marks";
constexpr const char *MarksStart = "marks_start";
constexpr const char *MarksSong = "marks_song";
constexpr const char *MarksTopic = "marks_topic";
constexpr const char *MarksExternal = "marks_external";
constexpr const char *RecordChapters = "record_chapters";
constexpr const char *IgnoreScenes = "ignore_scenes";
constexpr const char *AutoStartBuffer = "auto_start_buffer";
constexpr const char *RenameFiles = "rename_files";
constexpr const char *ExportDir = "export_dir";
constexpr const char *ReplaySeconds = "replay_seconds";
constexpr const char *ReplaySpeed = "replay_speed";
constexpr const char *ReplayRepeat = "replay_repeat";
constexpr const char *ReplayFromMemory = "replay_from_memory";
constexpr const char *VantorStart = "vantor_start";
constexpr const char *VantorEnd = "vantor_end";
constexpr const char *ReplayScene = "replay_scene";
constexpr const char *ReplayMedia = "replay_media";
constexpr const char *RecapScene = "recap_scene";
constexpr const char *RecapMedia = "recap_media";
constexpr const char *RecapText = "recap_text";
constexpr const char *RecapSeconds = "recap_seconds";
constexpr const char *DockShown = "dock_shown";
constexpr const char *Hotkeys = "hotkeys";
constexpr const char *Name = "name";
} // namespace Key

struct BoolField {
	const char *key;
	bool Settings::*field;
};
struct StringField {
	const char *key;
	QString Settings::*field;
};
struct IntField {
	const char *key;
	int Settings::*field;
	int min, max;
};

const BoolField kBools[] = {
    {Key::PressClip, &Settings::press_clip},
    {Key::PressReplay, &Settings::press_replay},
    {Key::SceneMarks, &Settings::scene_marks},
    {Key::MarksStart, &Settings::marks_start},
    {Key::MarksSong, &Settings::marks_song},
    {Key::MarksTopic, &Settings::marks_topic},
    {Key::MarksExternal, &Settings::marks_external},
    {Key::RecordChapters, &Settings::record_chapters},
    {Key::AutoStartBuffer, &Settings::auto_start_buffer},
    {Key::RenameFiles, &Settings::rename_files},
    {Key::ReplayFromMemory, &Settings::replay_from_memory},
};
const IntField kInts[] = {
    {Key::ReplaySeconds, &Settings::replay_seconds, SettingsRange::ReplaySecondsMin, SettingsRange::ReplaySecondsMax},
    {Key::ReplaySpeed, &Settings::replay_speed, SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax},
    {Key::ReplayRepeat, &Settings::replay_repeat, SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax},
};
// In file order; "recap_seconds" follows these and "dock_shown" comes last of the scalars.
const StringField kNames[] = {
    {Key::VantorStart, &Settings::vantor_start}, {Key::VantorEnd, &Settings::vantor_end},
    {Key::ReplayScene, &Settings::replay_scene}, {Key::ReplayMedia, &Settings::replay_media},
    {Key::RecapScene, &Settings::recap_scene},   {Key::RecapMedia, &Settings::recap_media},
    {Key::RecapText, &Settings::recap_text},
};

int clampInt(long long v, int lo, int hi)
{
	return (int)std::clamp<long long>(v, lo, hi);
}

QString dataString(obs_data_t *data, const char *key)
{
	return QString::fromUtf8(obs_data_get_string(data, key));
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

void clampSettings(Settings &s)
{
	for (const IntField &f : kInts)
		s.*f.field = clampInt(s.*f.field, f.min, f.max);
	s.recap_seconds = clampInt(s.recap_seconds, SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax);
	s.ignore_scenes.removeAll(QString());
}

void loadSettings()
{
	Settings &s = g_settings;
	s = Settings();
	s.replay_scene = QString::fromUtf8(moduleText("Default.ReplayScene"));
	s.replay_media = QString::fromUtf8(moduleText("Default.ReplayMedia"));
	s.recap_scene = QString::fromUtf8(moduleText("Recap.DefaultScene"));
	s.recap_media = QString::fromUtf8(moduleText("Recap.DefaultMedia"));
	s.recap_text = QString::fromUtf8(moduleText("Recap.DefaultText"));
	s.vantor_start = QString::fromUtf8(moduleText("Default.VantorStart"));
	s.vantor_end = QString::fromUtf8(moduleText("Default.VantorEnd"));

	g_hotkeyData = obs_data_create();

	const std::string path = settingsFilePath();
	if (path.empty())
		return;
	OBSDataAutoRelease data = obs_data_create_from_json_file_safe(path.c_str(), "bak");
	if (!data)
		return;

	for (const BoolField &f : kBools)
		if (obs_data_has_user_value(data, f.key))
			s.*f.field = obs_data_get_bool(data, f.key);
	if (obs_data_has_user_value(data, Key::DockShown))
		s.dock_shown = obs_data_get_bool(data, Key::DockShown);
	if (obs_data_has_user_value(data, Key::ExportDir))
		s.export_dir = dataString(data, Key::ExportDir);
	for (const StringField &f : kNames)
		if (obs_data_has_user_value(data, f.key))
			s.*f.field = dataString(data, f.key);

	for (const IntField &f : kInts)
		if (obs_data_has_user_value(data, f.key))
			s.*f.field = clampInt(obs_data_get_int(data, f.key), f.min, f.max);
	if (obs_data_has_user_value(data, Key::RecapSeconds))
		s.recap_seconds = clampInt(obs_data_get_int(data, Key::RecapSeconds), SettingsRange::RecapSecondsMin,
					   SettingsRange::RecapSecondsMax);

	OBSDataArrayAutoRelease scenes = obs_data_get_array(data, Key::IgnoreScenes);
	const size_t count = scenes ? obs_data_array_count(scenes) : 0;
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(scenes, i);
		QString name = dataString(item, Key::Name);
		if (!name.isEmpty())
			s.ignore_scenes.append(name);
	}

	OBSDataAutoRelease hotkeys = obs_data_get_obj(data, Key::Hotkeys);
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
	for (const BoolField &f : kBools)
		obs_data_set_bool(data, f.key, s.*f.field);
	obs_data_set_string(data, Key::ExportDir, s.export_dir.toUtf8().constData());
	for (const IntField &f : kInts)
		obs_data_set_int(data, f.key, s.*f.field);
	for (const StringField &f : kNames)
		obs_data_set_string(data, f.key, (s.*f.field).toUtf8().constData());
	obs_data_set_int(data, Key::RecapSeconds, s.recap_seconds);
	obs_data_set_bool(data, Key::DockShown, s.dock_shown);

	OBSDataArrayAutoRelease scenes = obs_data_array_create();
	for (const QString &name : s.ignore_scenes) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_string(item, Key::Name, name.toUtf8().constData());
		obs_data_array_push_back(scenes, item);
	}
	obs_data_set_array(data, Key::IgnoreScenes, scenes);
	obs_data_set_obj(data, Key::Hotkeys, g_hotkeyData);

	static const std::vector<const char *> order = {
	    Key::PressClip,   Key::PressReplay,   Key::SceneMarks,     Key::MarksStart,      Key::MarksSong,
	    Key::MarksTopic,  Key::MarksExternal, Key::RecordChapters, Key::AutoStartBuffer, Key::RenameFiles,
	    Key::ExportDir,   Key::ReplaySeconds, Key::ReplaySpeed,    Key::ReplayRepeat,    Key::ReplayFromMemory,
	    Key::VantorStart, Key::VantorEnd,     Key::ReplayScene,    Key::ReplayMedia,     Key::RecapScene,
	    Key::RecapMedia,  Key::RecapText,     Key::RecapSeconds,   Key::DockShown,       Key::IgnoreScenes,
	    Key::Hotkeys};
	return saveOrderedJsonSafe(data, order, path.c_str());
}

void releaseSettingsData()
{
	g_hotkeyData = nullptr;
}
