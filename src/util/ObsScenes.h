#pragma once

// Scene look-ups and placement shared by the players and the scene set-ups.

#include <obs.hpp>

#include <vector>

// Every scene item, in every scene of every canvas and in every group, that shows target.
std::vector<OBSSceneItemAutoRelease> findSceneItems(obs_source_t *target);

// The scene the setup buttons place into: the preview scene in studio mode, else the program scene.
// The caller owns the reference.
obs_source_t *sceneToPlaceInto();

// Scales the item to fit inside the canvas, when its size is known (non-zero).
void fitInsideCanvas(obs_sceneitem_t *item, uint32_t width, uint32_t height);

// Base (canvas) size from libobs; false without video. Tests may set a size since they run without video.
bool videoBaseSize(uint32_t &width, uint32_t &height);
void setVideoBaseSizeForTesting(uint32_t width, uint32_t height);
