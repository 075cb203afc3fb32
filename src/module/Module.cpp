// The exported entry points libobs looks for; everything else lives in lumark-core.
#include "module/Lifecycle.h"
#include "util/ModuleCore.h"

#include <obs-module.h>

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	setModuleHandle(module);
}

obs_module_t *obs_current_module(void)
{
	return moduleHandle();
}

MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	setModuleLocale(locale);
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	freeModuleLocale();
}

MODULE_EXPORT bool obs_module_get_string(const char *val, const char **out)
{
	return text_lookup_getstr(moduleLookup(), val, out);
}

MODULE_EXPORT const char *obs_module_name(void)
{
	return kModuleName;
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return kModuleDescription;
}

MODULE_EXPORT bool obs_module_load(void)
{
	return moduleLoad();
}

MODULE_EXPORT void obs_module_post_load(void)
{
	modulePostLoad();
}

MODULE_EXPORT void obs_module_unload(void)
{
	moduleUnload();
}
}
