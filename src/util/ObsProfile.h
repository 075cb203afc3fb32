#pragma once

// Readings of the current OBS profile.

#include <util/config-file.h>

// The profile's output section, "AdvOut" or "SimpleOutput". OBS sets up its advanced output only
// for the mode "Advanced" (any case); any other mode, missing or unexpected, runs the simple one.
bool profileAdvancedOutput(config_t *profile);
const char *profileOutputSection(config_t *profile);
