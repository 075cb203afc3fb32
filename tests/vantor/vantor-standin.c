/* Test stand-in for the companion camera plug-in: a source and a filter that answer "vantor_trigger".
 * Each call is counted in the object's settings ("trigger_calls", "last_kind", "last_key") for the
 * unit tests and logged as "[vantor-standin] trigger kind=K key=K" for the end-to-end runs, which
 * build this file against each host's libobs (scripts/host.sh). */
#include <obs-module.h>

OBS_DECLARE_MODULE()

struct vantor_object {
	obs_source_t *source;
};

static void vantor_trigger(void *data, calldata_t *cd)
{
	struct vantor_object *obj = data;
	const char *kind = calldata_string(cd, "kind");
	const char *key = calldata_string(cd, "key");

	obs_data_t *settings = obs_source_get_settings(obj->source);
	obs_data_set_int(settings, "trigger_calls", obs_data_get_int(settings, "trigger_calls") + 1);
	obs_data_set_string(settings, "last_kind", kind ? kind : "");
	obs_data_set_string(settings, "last_key", key ? key : "");
	obs_data_release(settings);

	blog(LOG_INFO, "[vantor-standin] trigger kind=%s key=%s", kind ? kind : "", key ? key : "");
	calldata_set_bool(cd, "fired", true);
}

static void *vantor_create(obs_data_t *settings, obs_source_t *source)
{
	(void)settings;
	struct vantor_object *obj = bzalloc(sizeof(*obj));
	obj->source = source;
	proc_handler_t *ph = obs_source_get_proc_handler(source);
	proc_handler_add(ph, "void vantor_trigger(in string kind, in string key, out bool fired)", vantor_trigger, obj);
	return obj;
}

static void vantor_destroy(void *data)
{
	bfree(data);
}

static const char *vantor_source_name(void *unused)
{
	(void)unused;
	return "Vantor (test stand-in)";
}

static const char *vantor_filter_name(void *unused)
{
	(void)unused;
	return "Vantor filter (test stand-in)";
}

static uint32_t vantor_size(void *data)
{
	(void)data;
	return 0;
}

static void vantor_source_render(void *data, gs_effect_t *effect)
{
	(void)data;
	(void)effect;
}

static void vantor_filter_render(void *data, gs_effect_t *effect)
{
	struct vantor_object *obj = data;
	(void)effect;
	obs_source_skip_video_filter(obj->source);
}

bool obs_module_load(void)
{
	struct obs_source_info source = {
	    .id = "vantor_source",
	    .type = OBS_SOURCE_TYPE_INPUT,
	    .output_flags = OBS_SOURCE_VIDEO,
	    .get_name = vantor_source_name,
	    .create = vantor_create,
	    .destroy = vantor_destroy,
	    .get_width = vantor_size,
	    .get_height = vantor_size,
	    .video_render = vantor_source_render,
	};
	obs_register_source(&source);

	struct obs_source_info filter = {
	    .id = "vantor_filter",
	    .type = OBS_SOURCE_TYPE_FILTER,
	    .output_flags = OBS_SOURCE_VIDEO,
	    .get_name = vantor_filter_name,
	    .create = vantor_create,
	    .destroy = vantor_destroy,
	    .video_render = vantor_filter_render,
	};
	obs_register_source(&filter);
	return true;
}

const char *obs_module_name(void)
{
	return "Vantor test stand-in";
}
