#include "util/ModuleCore.h"

#include <util/bmem.h>
#include <util/text-lookup.h>
#include <util/platform.h>
#include <util/util.hpp>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

const char *const kModuleName = "Lumark Button";
const char *const kModuleDescription = "Lumark Button: one press marks a timestamp, keeps the last minutes from the "
				       "replay buffer and can play them back on stream";
const char *const kDockId = "kelvaro_lumark_dock";

namespace {
obs_module_t *g_module = nullptr;
lookup_t *g_lookup = nullptr;
std::string g_configDirOverride;
std::string g_dataDirOverride;
} // namespace

obs_module_t *moduleHandle()
{
	return g_module;
}

void setModuleHandle(obs_module_t *module)
{
	g_module = module;
}

lookup_t *moduleLookup()
{
	return g_lookup;
}

void setModuleLocale(const char *locale)
{
	if (g_lookup)
		text_lookup_destroy(g_lookup);
	g_lookup = nullptr;
	if (!g_dataDirOverride.empty()) {
		// Same fallback rule as obs_module_load_locale: en-US first, the wanted locale on top.
		std::string base = g_dataDirOverride + "/locale/";
		g_lookup = text_lookup_create((base + "en-US.ini").c_str());
		if (g_lookup && locale && strcmp(locale, "en-US") != 0)
			text_lookup_add(g_lookup, (base + locale + ".ini").c_str());
		return;
	}
	if (g_module)
		g_lookup = obs_module_load_locale(g_module, "en-US", locale);
}

void freeModuleLocale()
{
	if (g_lookup)
		text_lookup_destroy(g_lookup);
	g_lookup = nullptr;
}

const char *moduleText(const char *key)
{
	const char *out = key;
	if (g_lookup && key)
		text_lookup_getstr(g_lookup, key, &out);
	return out ? out : "";
}

QString moduleQText(const char *key)
{
	return QString::fromUtf8(moduleText(key));
}

void pluginLog(int level, const char *format, ...)
{
	// Room for "[lumark] " in front of the caller's format.
	size_t size = strlen(format) + 14;
	std::vector<char> buffer(size);
	snprintf(buffer.data(), size, "[%s] %s", "lumark", format);
	va_list args;
	va_start(args, format);
	blogva(level, buffer.data(), args);
	va_end(args);
}

std::string moduleConfigPath(const char *file)
{
	if (!g_configDirOverride.empty()) {
		std::string path = g_configDirOverride;
		if (file && *file)
			path += "/" + std::string(file);
		return path;
	}
	if (!g_module)
		return {};
	BPtr<char> path = obs_module_get_config_path(g_module, file ? file : "");
	return path ? std::string(path.Get()) : std::string();
}

void setModuleConfigDirForTesting(const std::string &dir)
{
	g_configDirOverride = dir;
}

void setModuleDataDirForTesting(const std::string &dir)
{
	g_dataDirOverride = dir;
}

// A long session's reply is thousands of small blocks, and obs-websocket makes a few copies of it
// while turning it into text; each save of it makes its whole text. glibc keeps such freed pages in
// its arenas, so clients polling a growing session raised OBS's resident memory with each mark (two
// clients polling a 720-mark session held 16 MB more when the pages went back once a second).
// obs-websocket sends a reply within tens of milliseconds, so the pages go back a quarter second
// later, before a client polling every 500 ms asks again. A trim walks every arena (a few ms).
void releaseFreedPages()
{
#if defined(__GLIBC__)
	malloc_trim(0);
#endif
}

void releaseFreedPagesSoon(size_t marks)
{
#if defined(__GLIBC__)
	// Below this a session's texts leave too little behind for a pass over every arena.
	constexpr size_t kFromMarks = 60;
	static std::atomic<bool> pending{false};
	QObject *app = QCoreApplication::instance();
	if (marks < kFromMarks || !app || pending.exchange(true))
		return;
	// Queued to the UI thread: obs-websocket's threads run no event loop for the timer.
	QMetaObject::invokeMethod(
	    app,
	    [app] {
		    QTimer::singleShot(250, app, [] {
			    pending.store(false);
			    malloc_trim(0);
		    });
	    },
	    Qt::QueuedConnection);
#else
	(void)marks;
#endif
}
