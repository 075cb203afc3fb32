#pragma once

// Look-ups of OBS sources by name and by type.

#include <obs.hpp>

#include <QString>

#include <string>

// True when the source's type, whatever its version, is id.
bool hasSourceId(obs_source_t *source, const char *id);

// The companion camera plug-in's source and filter types.
extern const char *const kCompanionSourceId;
extern const char *const kCompanionFilterId;

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
