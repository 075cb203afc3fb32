/* Stand-in for the companion camera plug-in in the end-to-end runs: a source type "vantor_source" whose
 * "vantor_trigger" procedure appends each call to the file named by LUMARK_E2E_VANTOR_LOG and answers
 * fired = true. */
#include <obs-module.h>
#include <stdio.h>
#include <stdlib.h>

OBS_DECLARE_MODULE()

static void vantor_trigger(void *data, calldata_t *cd)
{
	(void)data;
	const char *kind = calldata_string(cd, "kind");
	const char *key = calldata_string(cd, "key");
	const char *path = getenv("LUMARK_E2E_VANTOR_LOG");
	if (path && *path) {
		FILE *f = fopen(path, "a");
		if (f) {
			fprintf(f, "%s\t%s\n", kind ? kind : "", key ? key : "");
			fclose(f);
		}
	}
	blog(LOG_INFO, "[vantor-standin] trigger kind=%s key=%s", kind ? kind : "", key ? key : "");
	calldata_set_bool(cd, "fired", true);
}

static const char *vantor_name(void *type_data)
{
	(void)type_data;
	return "Vantor stand-in";
}

static void *vantor_create(obs_data_t *settings, obs_source_t *source)
{
	(void)settings;
	proc_handler_t *ph = obs_source_get_proc_handler(source);
	proc_handler_add(ph, "void vantor_trigger(in string kind, in string key, out bool fired)", vantor_trigger, source);
	return source;
}

static void vantor_destroy(void *data)
{
	(void)data;
}

bool obs_module_load(void)
{
	static struct obs_source_info info = {
		.id = "vantor_source",
		.type = OBS_SOURCE_TYPE_INPUT,
		.output_flags = 0,
		.get_name = vantor_name,
		.create = vantor_create,
		.destroy = vantor_destroy,
	};
	obs_register_source(&info);
	return true;
}
