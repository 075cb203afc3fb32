#pragma once

// The media source our players play clips with, and its settings.

#include <obs.hpp>

#include <QString>

// The media source type ("ffmpeg_source") and its settings key of the file it plays.
extern const char *const kMediaSourceId;
extern const char *const kLocalFileKey;
// Private setting that remembers the last path written into a media source.
extern const char *const kPreviousLocalFileKey;

// True for a media source, whatever its version.
bool isMediaSource(obs_source_t *source);

// Two paths name the same file when their keys are equal.
QString normalizedPathKey(const QString &path);

// Writes path into settings' "local_file", respelled when it names the file the source holds (or held
// last) so that the media source reloads it; remembers the path in the source's private settings.
void assignLocalFile(obs_source_t *source, obs_data_t *settings, const QString &path);

// The settings every media source of ours plays with: a local file, played once, that stays loaded
// while hidden and keeps its last frame at the end.
void setMediaPlayOnce(obs_data_t *data);
