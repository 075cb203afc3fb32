#include "config/OrderedJson.h"

#include "util/AtomicFile.h"

#include <obs.hpp>

#include <memory>

namespace {
struct ItemRelease {
	void operator()(obs_data_item_t *item) const { obs_data_item_release(&item); }
};
using DataItem = std::unique_ptr<obs_data_item_t, ItemRelease>;

// Copies one member into a fresh object so it can be serialised on its own.
bool copyMember(obs_data_t *from, obs_data_t *to, const char *key)
{
	DataItem owned(obs_data_item_byname(from, key));
	if (!owned)
		return false;
	obs_data_item_t *item = owned.get();
	switch (obs_data_item_gettype(item)) {
	case OBS_DATA_STRING:
		obs_data_set_string(to, key, obs_data_item_get_string(item));
		return true;
	case OBS_DATA_NUMBER:
		if (obs_data_item_numtype(item) == OBS_DATA_NUM_DOUBLE)
			obs_data_set_double(to, key, obs_data_item_get_double(item));
		else
			obs_data_set_int(to, key, obs_data_item_get_int(item));
		return true;
	case OBS_DATA_BOOLEAN:
		obs_data_set_bool(to, key, obs_data_item_get_bool(item));
		return true;
	case OBS_DATA_OBJECT: {
		OBSDataAutoRelease obj = obs_data_item_get_obj(item);
		obs_data_set_obj(to, key, obj);
		return true;
	}
	case OBS_DATA_ARRAY: {
		OBSDataArrayAutoRelease arr = obs_data_item_get_array(item);
		obs_data_set_array(to, key, arr);
		return true;
	}
	default:
		return false;
	}
}
} // namespace

std::string orderedJson(obs_data_t *data, const std::vector<const char *> &keys)
{
	std::string out = "{";
	bool first = true;
	for (const char *key : keys) {
		OBSDataAutoRelease single = obs_data_create();
		if (!copyMember(data, single, key))
			continue;
		std::string member = obs_data_get_json(single);
		// "{...}" of one member: keep what is between the braces.
		const size_t open = member.find('{');
		const size_t close = member.rfind('}');
		if (open == std::string::npos || close == std::string::npos || close <= open)
			continue;
		if (!first)
			out += ",";
		out += member.substr(open + 1, close - open - 1);
		first = false;
	}
	out += "}";
	return out;
}

bool saveOrderedJsonSafe(obs_data_t *data, const std::vector<const char *> &keys, const char *path)
{
	if (!data || !path || !*path)
		return false;
	const std::string json = orderedJson(data, keys);
	return writeFileAtomically(path, json, KeepBackup::Yes);
}
