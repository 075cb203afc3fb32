#include "util/ObsProfile.h"

#include <util/dstr.h>

bool profileAdvancedOutput(config_t *profile)
{
	const char *mode = config_get_string(profile, "Output", "Mode");
	return mode && astrcmpi(mode, "Advanced") == 0;
}

const char *profileOutputSection(config_t *profile)
{
	return profileAdvancedOutput(profile) ? "AdvOut" : "SimpleOutput";
}
