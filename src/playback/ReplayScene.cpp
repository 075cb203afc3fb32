#include "playback/ReplayScene.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "util/ObsScenes.h"
#include "util/ObsSources.h"
#include "playback/PlaybackText.h"
#include "playback/SceneSetup.h"

#include <algorithm>

OBSSourceAutoRelease findReplayScene()
{
	OBSSourceAutoRelease source = liveSourceByName(settings().replay_scene);
	if (!source || obs_source_get_type(source) != OBS_SOURCE_TYPE_SCENE)
		return nullptr;
	return source;
}

OBSSourceAutoRelease findReplayMedia()
{
	OBSSourceAutoRelease source = liveSourceByName(settings().replay_media);
	if (!isMediaSource(source))
		return nullptr;
	return source;
}

uint32_t setReplayVisible(bool visible)
{
	OBSSourceAutoRelease scene = findReplayScene();
	uint32_t longest = 0;
	for (const OBSSceneItemAutoRelease &item : findSceneItems(scene)) {
		longest = std::max(longest, obs_sceneitem_get_transition_duration(item, visible));
		obs_sceneitem_set_visible(item, visible);
	}
	return longest;
}

int replayPlacementCount()
{
	OBSSourceAutoRelease scene = findReplayScene();
	return scene ? static_cast<int>(findSceneItems(scene).size()) : 0;
}

int replayVisibleCount()
{
	OBSSourceAutoRelease scene = findReplayScene();
	int visible = 0;
	for (const OBSSceneItemAutoRelease &item : findSceneItems(scene))
		visible += obs_sceneitem_visible(item) ? 1 : 0;
	return visible;
}

void resetReplayScene()
{
	setReplayVisible(false);
	OBSSourceAutoRelease media = findReplayMedia();
	if (!media)
		return;
	OBSDataAutoRelease current = obs_source_get_settings(media);
	if (!*obs_data_get_string(current, kLocalFileKey))
		return;
	OBSDataAutoRelease update = obs_data_create();
	assignLocalFile(media, update, QString());
	obs_source_update(media, update);
}

bool makeReplayScene(QString &message)
{
	const QByteArray sceneName = settings().replay_scene.toUtf8();
	const QByteArray mediaName = settings().replay_media.toUtf8();
	if (sceneName.isEmpty() || mediaName.isEmpty())
		return refuseSetup(message, PlaybackText::SetupNoName);

	OBSSourceAutoRelease sceneSource = liveSourceByName(sceneName.constData());
	OBSSceneAutoRelease createdScene;
	obs_scene_t *scene = sceneOrNew(sceneSource, sceneName.constData(), createdScene, message);
	if (!scene)
		return false;

	OBSSourceAutoRelease media = liveSourceByName(mediaName.constData());
	if (media && !isMediaSource(media))
		return refuseSetup(message, PlaybackText::SetupMediaNameTaken);
	if (!media) {
		OBSDataAutoRelease data = obs_data_create();
		setMediaPlayOnce(data);
		media = newMediaSource(mediaName.constData(), data, message);
		if (!media)
			return false;
	}

	if (!obs_scene_find_source(scene, mediaName.constData())) {
		obs_sceneitem_t *item = addSetupItem(scene, media, message);
		if (!item)
			return false;
		vec2 pos = {};
		obs_sceneitem_set_pos(item, &pos);
		uint32_t width = 0, height = 0;
		videoBaseSize(width, height);
		fitInsideCanvas(item, width, height);
	}
	pluginLog(LOG_INFO, "setup: replay scene ready");
	return true;
}

bool addReplaySceneToCurrent(QString &message)
{
	OBSSourceAutoRelease replay = findReplayScene();
	if (!replay)
		return refuseSetup(message, PlaybackText::SetupNoScene);
	OBSSourceAutoRelease current = sceneToPlaceInto();
	obs_scene_t *scene = current ? obs_scene_from_source(current) : nullptr;
	if (!scene || current.Get() == replay.Get())
		return refuseSetup(message, PlaybackText::SetupPickOtherScene);
	if (obs_scene_find_source_recursive(scene, obs_source_get_name(replay)))
		return refuseSetup(message, PlaybackText::SetupAlreadyThere);
	obs_sceneitem_t *item = addSetupItem(scene, replay, message);
	if (!item)
		return false;
	obs_sceneitem_set_visible(item, false);
	pluginLog(LOG_INFO, "setup: replay scene added to the current scene (hidden)");
	return true;
}
