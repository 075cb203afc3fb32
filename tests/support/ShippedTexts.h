#pragma once
// The list texts as a streamer gets them, read from the locale files the plug-in ships, so that
// a translator's edit is what the tests see.

#include "lists/TextFormat.h"
#include "util/ModuleCore.h"

// Leaves the en-US locale loaded, as the tests run with it.
inline ExportTexts shippedTexts(const char *locale)
{
	setModuleDataDirForTesting(LUMARK_SOURCE_DIR "/data");
	setModuleLocale(locale);
	ExportTexts texts = exportTextsFromLocale();
	setModuleLocale("en-US");
	return texts;
}
