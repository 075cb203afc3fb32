#pragma once

// Look-ups of OBS sources shared by the players, the scene set-up and the settings dialog.

#include <obs.hpp>

#include <QString>

#include <string>

// The media source type the replay and the recap play their clips with.
extern const char *const kMediaSourceId;

// True for a media source ("ffmpeg_source", whatever its version).
bool isMediaSource(obs_source_t *source);

// The source of that name while it is still in use: null for an empty name, an unknown one, or a
// source that was removed but is still referenced somewhere.
OBSSourceAutoRelease liveSourceByName(const char *name);
// The same for a source held by a weak reference.
OBSSourceAutoRelease liveSourceOf(obs_weak_source_t *weak);
inline OBSSourceAutoRelease liveSourceByName(const std::string &name)
{
	return liveSourceByName(name.c_str());
}
inline OBSSourceAutoRelease liveSourceByName(const QString &name)
{
	return liveSourceByName(name.toUtf8().constData());
}
