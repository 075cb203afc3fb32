#pragma once

// The replay scene: finding it, showing it, and setting it up.

// The players that show the scene also set its media source's file.
#include "util/ObsMedia.h"

#include <obs.hpp>

#include <QString>

// The replay scene and media source while they exist under their set names with their kinds.
OBSSourceAutoRelease findReplayScene();
OBSSourceAutoRelease findReplayMedia();

// Shows or hides every placement of the replay scene; returns the longest transition for that direction.
uint32_t setReplayVisible(bool visible);
int replayPlacementCount();
int replayVisibleCount();

void resetReplayScene();
bool makeReplayScene(QString &message);

bool addReplaySceneToCurrent(QString &message);
