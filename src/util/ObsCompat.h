#pragma once

// The one place that knows which host APIs exist in which OBS version. Everything else calls these.

#include <obs.h>
#include <functional>

class QWidget;

// Adds the dock to the frontend: by id on OBS 30+, wrapped in a QDockWidget on older hosts (the
// wrapper is then the widget's parent, as the newer API makes it).
bool compatAddDock(const char *id, const char *title, QWidget *widget);

// Adds a chapter marker to the running recording; false where the host has no such API.
bool compatAddRecordingChapter(const char *name);

// True when the host offers recording chapters at all.
bool compatHasRecordingChapters();

// Calls fn for every scene of every canvas (OBS 31.1+), or for the frontend's scenes on older hosts.
void compatEnumScenes(const std::function<void(obs_source_t *scene)> &fn);

// Calls fn for every scene of the main canvas and then of every other canvas (each canvas once; OBS
// 31.1+), or for the frontend's scenes on older hosts. A scene may be reported more than once.
void compatEnumCanvasScenes(const std::function<void(obs_source_t *scene)> &fn);

// A callback on an output that sees every packet it sends, the same packet instances (OBS 31+).
struct CompatPacketTap {
	void (*fn)(void *param, encoder_packet *packet) = nullptr;
	void *param = nullptr;
};

// True when outputs take packet callbacks; older hosts need an output of their own on the encoders.
bool compatHasPacketTap();
// The tap must live until it is removed; false where the host has no packet callbacks.
bool compatAddPacketTap(obs_output_t *output, CompatPacketTap *tap);
void compatRemovePacketTap(obs_output_t *output, CompatPacketTap *tap);
