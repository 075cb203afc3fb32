#pragma once

#include <obs.hpp>

#include <QString>

// Source type used for the recap memo: "text_gdiplus" where it exists (Windows), otherwise the
// FreeType 2 text source with the same look.
const char *recapTextSourceType();
// True when the unversioned id is the recap's text source type.
bool isRecapTextSource(const char *unversionedId);
// Settings of a new recap text source for a canvas of the given base size.
OBSDataAutoRelease recapTextSettings(uint32_t width, uint32_t height);
// Replaces the text shown by a recap text source.
void setRecapText(obs_source_t *text, const QString &value);

bool makeRecapScene(QString &message);
bool addRecapSceneToCurrent(QString &message);
class Recap;

// Makes the scene, adds it to the current scene when asked, and marks the recap playlist dirty.
bool setupRecapScene(Recap &recap, bool add, QString &message);
