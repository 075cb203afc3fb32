#include "playback/SceneSetup.h"

#include "util/ModuleCore.h"
#include "util/ObsMedia.h"
#include "playback/PlaybackText.h"

bool refuseSetup(QString &message, const char *key)
{
	message = moduleQText(key);
	return false;
}

obs_scene_t *sceneOrNew(obs_source_t *found, const char *name, OBSSceneAutoRelease &created, QString &message)
{
	if (found) {
		obs_scene_t *scene = obs_scene_from_source(found);
		if (!scene)
			refuseSetup(message, PlaybackText::SetupSceneNameTaken);
		return scene;
	}
	created = obs_scene_create(name);
	if (!created)
		refuseSetup(message, PlaybackText::SetupFailed);
	return created;
}

OBSSourceAutoRelease newMediaSource(const char *name, obs_data_t *data, QString &message)
{
	OBSSourceAutoRelease media = obs_source_create(kMediaSourceId, name, data, nullptr);
	if (!media)
		refuseSetup(message, PlaybackText::SetupFailed);
	return media;
}

obs_sceneitem_t *addSetupItem(obs_scene_t *scene, obs_source_t *source, QString &message)
{
	obs_sceneitem_t *item = obs_scene_add(scene, source);
	if (!item)
		refuseSetup(message, PlaybackText::SetupFailed);
	return item;
}
