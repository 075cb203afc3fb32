#include "util/ObsSources.h"

#include <cstring>

const char *const kCompanionSourceId = "vantor_source";
const char *const kCompanionFilterId = "vantor_filter";

bool hasSourceId(obs_source_t *source, const char *id)
{
	const char *have = source ? obs_source_get_unversioned_id(source) : nullptr;
	return have && std::strcmp(have, id) == 0;
}

OBSSourceAutoRelease liveSourceByName(const char *name)
{
	if (!name || !*name)
		return nullptr;
	OBSSourceAutoRelease source = obs_get_source_by_name(name);
	if (source && obs_source_removed(source))
		return nullptr;
	return source;
}

OBSSourceAutoRelease liveSourceOf(obs_weak_source_t *weak)
{
	OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
	if (source && obs_source_removed(source))
		return nullptr;
	return source;
}
