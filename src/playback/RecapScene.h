#pragma once

#include <QString>

// Source type used for the recap memo: "text_gdiplus" where it exists (Windows), otherwise the
// FreeType 2 text source with the same look.
const char *recapTextSourceType();
// True when source is a text source of the type the recap uses.
bool isRecapTextSource(const char *unversionedId);

bool makeRecapScene(QString &message);
bool addRecapSceneToCurrent(QString &message);
bool setupRecapScene(bool add, QString &message);
