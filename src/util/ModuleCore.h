#pragma once

#include <obs-module.h>

#include <QString>

#include <cstddef>
#include <string>

// Module-wide helpers shared by every subsystem. The module handle and locale lookup are set by the
// exported entry points; tests run without a module and may point the config folder elsewhere.

extern const char *const kModuleName;
extern const char *const kModuleDescription;
extern const char *const kDockId;

// Localised text for a key; the key itself when the locale lacks it. Never null. Locale keys live in
// namespaces named for the texts they give (UiText, EngineText, PlaybackText, ListText); the keys of
// the wire format are remote::keys, those of config.json the settings table and SettingsKey.
const char *moduleText(const char *key);
// The same as a Qt string, for widgets, status messages and Qt files.
QString moduleQText(const char *key);

// One log line through libobs with the "[lumark] " prefix.
void pluginLog(int level, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// After a reply or a save of a session with this many marks: hands the pages glibc keeps after
// freeing its texts back to the system a quarter second from now, from the UI thread, when the
// session is long enough for that to matter; one trim serves every caller meanwhile. Any thread.
void releaseFreedPagesSoon(size_t marks);
// The same at once, on the calling thread, after a large block of memory was let go.
void releaseFreedPages();

obs_module_t *moduleHandle();
void setModuleHandle(obs_module_t *module);
lookup_t *moduleLookup();
void setModuleLocale(const char *locale);
void freeModuleLocale();

// Path of a file in the module's configuration folder; empty when libobs gives none.
std::string moduleConfigPath(const char *file);
// Tests keep their files in a temporary folder (empty string: back to libobs's answer).
void setModuleConfigDirForTesting(const std::string &dir);
// Tests load the shipped locale files without a module.
void setModuleDataDirForTesting(const std::string &dir);
