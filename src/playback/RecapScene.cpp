#include "playback/RecapScene.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "util/ObsMedia.h"
#include "util/ObsScenes.h"
#include "util/ObsSources.h"
#include "playback/PlaybackText.h"
#include "playback/Recap.h"
#include "playback/SceneSetup.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <algorithm>
#include <cstring>

namespace {
bool inputTypeRegistered(const char *unversionedId)
{
	const char *id = nullptr, *unversioned = nullptr;
	for (size_t i = 0; obs_enum_input_types2(i, &id, &unversioned); ++i)
		if (unversioned && std::strcmp(unversioned, unversionedId) == 0)
			return true;
	return false;
}

// Latest versioned id of an input type; libobs asserts when asked about a type nobody registered.
const char *latestInputTypeId(const char *unversionedId)
{
	return inputTypeRegistered(unversionedId) ? obs_get_latest_input_type_id(unversionedId) : nullptr;
}

// GDI+ text exists only in OBS on Windows; elsewhere FreeType 2 text takes its place.
bool usesGdiplus()
{
#ifdef _WIN32
	return true;
#else
	return inputTypeRegistered("text_gdiplus");
#endif
}

// Refuses names already taken by a source of another kind.
bool recapNamesFree(obs_source_t *sceneSource, obs_source_t *media, obs_source_t *text, QString &message)
{
	if (sceneSource && !obs_scene_from_source(sceneSource))
		return refuseSetup(message, PlaybackText::SetupSceneNameTaken);
	if (media && !isMediaSource(media))
		return refuseSetup(message, PlaybackText::SetupMediaNameTaken);
	if (text && !isRecapTextSource(obs_source_get_unversioned_id(text)))
		return refuseSetup(message, PlaybackText::RecapTextNameTaken);
	return true;
}

OBSSourceAutoRelease newRecapMedia(const QString &name, QString &message)
{
	OBSDataAutoRelease data = obs_data_create();
	setMediaPlayOnce(data);
	obs_data_set_int(data, "speed_percent", 100);
	OBSSourceAutoRelease media = newMediaSource(name.toUtf8().constData(), data, message);
	if (media)
		obs_source_set_muted(media, true);
	return media;
}

OBSSourceAutoRelease newRecapText(const QString &name, uint32_t width, uint32_t height, QString &message)
{
	const char *type = recapTextSourceType();
	const char *latest = latestInputTypeId(type);
	OBSDataAutoRelease data = recapTextSettings(width, height);
	OBSSourceAutoRelease text = obs_source_create(latest ? latest : type, name.toUtf8().constData(), data, nullptr);
	if (!text)
		refuseSetup(message, PlaybackText::SetupFailed);
	return text;
}

// The media fills the canvas; the memo sits at the bottom centre above it.
bool placeRecapSources(obs_scene_t *scene, obs_source_t *media, obs_source_t *text, uint32_t width, uint32_t height,
		       QString &message)
{
	if (!obs_scene_find_source_recursive(scene, obs_source_get_name(media))) {
		obs_sceneitem_t *item = addSetupItem(scene, media, message);
		if (!item)
			return false;
		fitInsideCanvas(item, width, height);
		obs_sceneitem_set_visible(item, true);
	}
	if (!obs_scene_find_source_recursive(scene, obs_source_get_name(text))) {
		obs_sceneitem_t *item = addSetupItem(scene, text, message);
		if (!item)
			return false;
		obs_sceneitem_set_alignment(item, OBS_ALIGN_BOTTOM);
		vec2 pos;
		vec2_set(&pos, float(width) * 0.5f, float(height) * 0.95f);
		obs_sceneitem_set_pos(item, &pos);
		obs_sceneitem_set_visible(item, true);
	}
	return true;
}
} // namespace

const char *recapTextSourceType()
{
	return usesGdiplus() ? "text_gdiplus" : "text_ft2_source";
}

bool isRecapTextSource(const char *unversionedId)
{
	return unversionedId && std::strcmp(unversionedId, recapTextSourceType()) == 0;
}

OBSDataAutoRelease recapTextSettings(uint32_t width, uint32_t height)
{
	OBSDataAutoRelease data = obs_data_create();
	OBSDataAutoRelease font = obs_data_create();
	const long long size = std::max<long long>(12, height / 18);
	obs_data_set_int(font, "size", size);
	obs_data_set_string(data, "text", "");
	obs_data_set_bool(data, "outline", true);
	if (usesGdiplus()) {
		obs_data_set_string(font, "face", "Yu Gothic UI");
		obs_data_set_obj(data, "font", font);
		obs_data_set_int(data, "color", 0xFFFFFF);
		obs_data_set_int(data, "outline_color", 0);
		obs_data_set_int(data, "outline_size", 4);
		obs_data_set_int(data, "outline_opacity", 100);
		obs_data_set_bool(data, "extents", true);
		obs_data_set_bool(data, "extents_wrap", true);
		obs_data_set_int(data, "extents_cx", width * 9 / 10);
		obs_data_set_int(data, "extents_cy", height / 4);
		obs_data_set_string(data, "align", "center");
		obs_data_set_string(data, "valign", "bottom");
	} else {
		// fontconfig picks the nearest installed face when the Japanese one is missing.
		obs_data_set_string(font, "face", "Noto Sans CJK JP");
		obs_data_set_string(font, "style", "Regular");
		obs_data_set_int(font, "flags", 0);
		obs_data_set_obj(data, "font", font);
		obs_data_set_int(data, "color1", 0xFFFFFFFF);
		obs_data_set_int(data, "color2", 0xFFFFFFFF);
		obs_data_set_bool(data, "word_wrap", true);
		obs_data_set_int(data, "custom_width", width * 9 / 10);
		obs_data_set_bool(data, "drop_shadow", false);
	}
	return data;
}

void setRecapText(obs_source_t *text, const QString &value)
{
	if (!text)
		return;
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_bool(data, usesGdiplus() ? "read_from_file" : "from_file", false);
	obs_data_set_string(data, "text", value.toUtf8().constData());
	obs_source_update(text, data);
}

bool makeRecapScene(QString &message)
{
	if (!Recap::validateRecapNames(&message))
		return false;
	const Settings &s = settings();
	OBSSourceAutoRelease sceneSource = liveSourceByName(s.recap_scene);
	OBSSourceAutoRelease media = liveSourceByName(s.recap_media);
	OBSSourceAutoRelease text = liveSourceByName(s.recap_text);
	if (!recapNamesFree(sceneSource, media, text, message))
		return false;
	uint32_t width = 0, height = 0;
	if (!videoBaseSize(width, height))
		return refuseSetup(message, PlaybackText::SetupFailed);

	OBSSceneAutoRelease createdScene;
	obs_scene_t *scene = sceneOrNew(sceneSource, s.recap_scene.toUtf8().constData(), createdScene, message);
	if (!scene)
		return false;
	if (!media)
		media = newRecapMedia(s.recap_media, message);
	if (!media)
		return false;
	if (!text)
		text = newRecapText(s.recap_text, width, height, message);
	if (!text || !placeRecapSources(scene, media, text, width, height, message))
		return false;
	pluginLog(LOG_INFO, "おさらい用のシーンを用意しました");
	return true;
}

bool addRecapSceneToCurrent(QString &message)
{
	if (!Recap::validateRecapNames(&message))
		return false;
	OBSSourceAutoRelease recap = liveSourceByName(settings().recap_scene);
	if (!recap || !obs_scene_from_source(recap))
		return refuseSetup(message, PlaybackText::SetupNoScene);
	OBSSourceAutoRelease current = sceneToPlaceInto();
	obs_scene_t *scene = current ? obs_scene_from_source(current) : nullptr;
	if (!scene || current.Get() == recap.Get())
		return refuseSetup(message, PlaybackText::RecapPickOtherScene);
	obs_sceneitem_t *item = obs_scene_find_source(scene, obs_source_get_name(recap));
	if (!item)
		item = addSetupItem(scene, recap, message);
	if (!item)
		return false;
	obs_sceneitem_set_visible(item, true);
	obs_sceneitem_set_order(item, OBS_ORDER_MOVE_TOP);
	pluginLog(LOG_INFO, "おさらいを今のシーンへ、見える状態で入れました");
	return true;
}

bool setupRecapScene(Recap &recap, bool add, QString &message)
{
	bool ok = makeRecapScene(message);
	if (ok && add)
		ok = addRecapSceneToCurrent(message);
	if (ok)
		recap.markDirty();
	return ok;
}
