#include "playback/VantorTrigger.h"

#include "util/ModuleCore.h"
#include "util/ObsSources.h"

#include <obs.hpp>

#include <set>
#include <vector>

void fireVantorTrigger(const char *name)
{
	if (!name || !*name)
		return;

	std::vector<OBSSourceAutoRelease> targets;
	auto collect = [](void *param, obs_source_t *source) {
		auto *list = static_cast<std::vector<OBSSourceAutoRelease> *>(param);
		if (hasSourceId(source, kCompanionSourceId))
			list->emplace_back(obs_source_get_ref(source));
		obs_source_enum_filters(
		    source,
		    [](obs_source_t *, obs_source_t *filter, void *p) {
			    if (hasSourceId(filter, kCompanionFilterId))
				    static_cast<std::vector<OBSSourceAutoRelease> *>(p)->emplace_back(
					obs_source_get_ref(filter));
		    },
		    param);
		return true;
	};
	obs_enum_all_sources(collect, &targets);

	std::set<obs_source_t *> called;
	int fired = 0;
	for (const OBSSourceAutoRelease &target : targets) {
		if (!target || !called.insert(target.Get()).second)
			continue;
		proc_handler_t *ph = obs_source_get_proc_handler(target);
		if (!ph)
			continue;
		calldata_t cd = {};
		calldata_set_string(&cd, "kind", "external");
		calldata_set_string(&cd, "key", name);
		proc_handler_call(ph, "vantor_trigger", &cd);
		bool ok = false;
		if (calldata_get_bool(&cd, "fired", &ok) && ok)
			++fired;
		calldata_free(&cd);
	}
	pluginLog(LOG_INFO, "vantor trigger \"%s\": fired %d", name, fired);
}
