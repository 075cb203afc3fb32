#pragma once

#include <obs.h>
#include <string>
#include <vector>

// libobs's serialiser sorts members by name on some hosts; our files keep a fixed member order so
// people reading them see the fields as documented. Members not listed are left out.
std::string orderedJson(obs_data_t *data, const std::vector<const char *> &keys);

// orderedJson written through "<path>.tmp", the old file kept as "<path>.bak" (writeFileAtomically).
// True when the new file is in place.
bool saveOrderedJsonSafe(obs_data_t *data, const std::vector<const char *> &keys, const char *path);
