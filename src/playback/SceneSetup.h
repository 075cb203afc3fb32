#pragma once

// Steps shared by the replay and recap scene set-up. Each failing step sets message to the localised
// text of the refusal (refuseSetup: of key) and returns false or null.

#include <obs.hpp>

#include <QString>

bool refuseSetup(QString &message, const char *key);
// The scene found under its name, or a new one (held by created) when none was found.
obs_scene_t *sceneOrNew(obs_source_t *found, const char *name, OBSSceneAutoRelease &created, QString &message);
OBSSourceAutoRelease newMediaSource(const char *name, obs_data_t *settings, QString &message);
obs_sceneitem_t *addSetupItem(obs_scene_t *scene, obs_source_t *source, QString &message);
