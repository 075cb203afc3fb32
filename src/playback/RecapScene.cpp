#include "playback/RecapScene.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "playback/PlaybackKeys.h"
#include "playback/Recap.h"
#include "playback/ReplayScene.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <algorithm>
#include <cstring>

namespace {
void setMessage(QString &message, const char *key)
{
	message = QString::fromUtf8(moduleText(key));
}

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

OBSSourceAutoRelease liveSourceByName(const QString &name)
{
	OBSSourceAutoRelease source = sourceByName(name.toUtf8().constData());
	if (source && obs_source_removed(source))
		return nullptr;
	return source;
}

bool hasUnversionedId(obs_source_t *source, const char *id)
{
	const char *have = obs_source_get_unversioned_id(source);
	return have && std::strcmp(have, id) == 0;
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
	if (sceneSource && !obs_scene_from_source(sceneSource)) {
		setMessage(message, PlaybackKeys::SetupSceneNameTaken);
		return false;
	}
	if (media && !hasUnversionedId(media, "ffmpeg_source")) {
		setMessage(message, PlaybackKeys::SetupMediaNameTaken);
		return false;
	}
	if (text && !isRecapTextSource(obs_source_get_unversioned_id(text))) {
		setMessage(message, PlaybackKeys::RecapTextNameTaken);
		return false;
	}
	uint32_t w = 0, h = 0;
	if (!videoBaseSize(w, h)) {
		setMessage(message, PlaybackKeys::SetupFailed);
		return false;
	}

	OBSSceneAutoRelease createdScene;
	obs_scene_t *scene = sceneSource ? obs_scene_from_source(sceneSource) : nullptr;
	if (!scene) {
		createdScene = obs_scene_create(s.recap_scene.toUtf8().constData());
		scene = createdScene;
		if (!scene) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
	}
	if (!media) {
		OBSDataAutoRelease data = obs_data_create();
		setMediaPlayOnce(data);
		obs_data_set_int(data, "speed_percent", 100);
		media = obs_source_create("ffmpeg_source", s.recap_media.toUtf8().constData(), data, nullptr);
		if (!media) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
		obs_source_set_muted(media, true);
	}
	if (!text) {
		const char *type = recapTextSourceType();
		const char *latest = latestInputTypeId(type);
		OBSDataAutoRelease data = recapTextSettings(w, h);
		text = obs_source_create(latest ? latest : type, s.recap_text.toUtf8().constData(), data, nullptr);
		if (!text) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
	}

	if (!obs_scene_find_source_recursive(scene, obs_source_get_name(media))) {
		obs_sceneitem_t *item = obs_scene_add(scene, media);
		if (!item) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
		obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_SCALE_INNER);
		vec2 bounds;
		vec2_set(&bounds, float(w), float(h));
		obs_sceneitem_set_bounds(item, &bounds);
		obs_sceneitem_set_visible(item, true);
	}
	if (!obs_scene_find_source_recursive(scene, obs_source_get_name(text))) {
		obs_sceneitem_t *item = obs_scene_add(scene, text);
		if (!item) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
		obs_sceneitem_set_alignment(item, OBS_ALIGN_BOTTOM);
		vec2 pos;
		vec2_set(&pos, float(w) * 0.5f, float(h) * 0.95f);
		obs_sceneitem_set_pos(item, &pos);
		obs_sceneitem_set_visible(item, true);
	}
	pluginLog(LOG_INFO, "おさらい用のシーンを用意しました");
	return true;
}

bool addRecapSceneToCurrent(QString &message)
{
	if (!Recap::validateRecapNames(&message))
		return false;
	OBSSourceAutoRelease recap = liveSourceByName(settings().recap_scene);
	if (!recap || !obs_scene_from_source(recap)) {
		setMessage(message, PlaybackKeys::SetupNoScene);
		return false;
	}
	OBSSourceAutoRelease current = sceneToPlaceInto();
	obs_scene_t *scene = current ? obs_scene_from_source(current) : nullptr;
	if (!scene || current.Get() == recap.Get()) {
		setMessage(message, PlaybackKeys::RecapPickOtherScene);
		return false;
	}
	obs_sceneitem_t *item = obs_scene_find_source(scene, obs_source_get_name(recap));
	if (!item) {
		item = obs_scene_add(scene, recap);
		if (!item) {
			setMessage(message, PlaybackKeys::SetupFailed);
			return false;
		}
	}
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
