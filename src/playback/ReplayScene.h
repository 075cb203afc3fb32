#pragma once

#include <obs.hpp>

#include <QString>

#include <vector>

// Two paths name the same file when their keys are equal.
QString normalizedPathKey(const QString &path);

// Writes path into settings' "local_file", respelled when it names the file the source holds (or held
// last) so that the media source reloads it; remembers the path in the source's private settings.
void assignLocalFile(obs_source_t *source, obs_data_t *settings, const QString &path);

// The settings every media source of ours plays with: a local file, played once, that stays loaded
// while hidden and keeps its last frame at the end.
void setMediaPlayOnce(obs_data_t *data);

// The replay scene and media source while they exist under their set names with their kinds.
OBSSourceAutoRelease findReplayScene();
OBSSourceAutoRelease findReplayMedia();

// Every scene item, in every scene of every canvas and in every group, that shows target.
std::vector<OBSSceneItemAutoRelease> findSceneItems(obs_source_t *target);

// Shows or hides every placement of the replay scene; returns the longest transition for that direction.
uint32_t setReplayVisible(bool visible);
int replayPlacementCount();
int replayVisibleCount();

void resetReplayScene();
bool makeReplayScene(QString &message);

// Steps shared by the replay and recap scene set-up. Each failing step sets message to the localised
// text of the refusal (refuseSetup: of key) and returns false or null.
bool refuseSetup(QString &message, const char *key);
// The scene found under its name, or a new one (held by created) when none was found.
obs_scene_t *sceneOrNew(obs_source_t *found, const char *name, OBSSceneAutoRelease &created, QString &message);
OBSSourceAutoRelease newMediaSource(const char *name, obs_data_t *settings, QString &message);
obs_sceneitem_t *addSetupItem(obs_scene_t *scene, obs_source_t *source, QString &message);
// Scales the item to fit inside the canvas, when its size is known (non-zero).
void fitInsideCanvas(obs_sceneitem_t *item, uint32_t width, uint32_t height);
// The scene the setup buttons place into: the preview scene in studio mode, else the program scene.
// The caller owns the reference.
obs_source_t *sceneToPlaceInto();

bool addReplaySceneToCurrent(QString &message);

// Private setting that remembers the last path written into a media source.
extern const char *const kPreviousLocalFileKey;

// Base (canvas) size from libobs; false without video. Tests may set a size since they run without video.
bool videoBaseSize(uint32_t &width, uint32_t &height);
void setVideoBaseSizeForTesting(uint32_t width, uint32_t height);
