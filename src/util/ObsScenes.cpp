#include "util/ObsScenes.h"

#include "util/ObsCompat.h"

#include <obs-frontend-api.h>

#include <set>

namespace {
struct ItemSearch {
	obs_source_t *target = nullptr;
	std::vector<OBSSceneItemAutoRelease> *result = nullptr;
	std::vector<OBSSceneItemAutoRelease> groups;
};

bool collectItem(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto *search = static_cast<ItemSearch *>(param);
	if (obs_sceneitem_get_source(item) == search->target) {
		obs_sceneitem_addref(item);
		search->result->emplace_back(item);
	} else if (obs_sceneitem_is_group(item)) {
		obs_sceneitem_addref(item);
		search->groups.emplace_back(item);
	}
	return true;
}
} // namespace

std::vector<OBSSceneItemAutoRelease> findSceneItems(obs_source_t *target)
{
	std::vector<OBSSceneItemAutoRelease> result;
	if (!target)
		return result;
	ItemSearch search;
	search.target = target;
	search.result = &result;
	std::set<obs_source_t *> seenScenes;
	compatEnumCanvasScenes([&](obs_source_t *sceneSource) {
		if (!seenScenes.insert(sceneSource).second)
			return;
		if (obs_scene_t *scene = obs_scene_from_source(sceneSource))
			obs_scene_enum_items(scene, collectItem, &search);
	});
	while (!search.groups.empty()) {
		OBSSceneItemAutoRelease group = std::move(search.groups.back());
		search.groups.pop_back();
		obs_sceneitem_group_enum_items(group, collectItem, &search);
	}
	return result;
}

obs_source_t *sceneToPlaceInto()
{
	// In studio mode the streamer edits the preview; placing into the live program would show at once.
	return obs_frontend_preview_program_mode_active() ? obs_frontend_get_current_preview_scene()
							  : obs_frontend_get_current_scene();
}

void fitInsideCanvas(obs_sceneitem_t *item, uint32_t width, uint32_t height)
{
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_SCALE_INNER);
	if (!width || !height)
		return;
	vec2 bounds;
	vec2_set(&bounds, float(width), float(height));
	obs_sceneitem_set_bounds(item, &bounds);
}

namespace {
uint32_t g_testWidth = 0, g_testHeight = 0;
} // namespace

void setVideoBaseSizeForTesting(uint32_t width, uint32_t height)
{
	g_testWidth = width;
	g_testHeight = height;
}

bool videoBaseSize(uint32_t &width, uint32_t &height)
{
	if (g_testWidth || g_testHeight) {
		width = g_testWidth;
		height = g_testHeight;
		return width && height;
	}
	obs_video_info ovi = {};
	if (!obs_get_video_info(&ovi) || !ovi.base_width || !ovi.base_height)
		return false;
	width = ovi.base_width;
	height = ovi.base_height;
	return true;
}
