#pragma once

// Stand-in for the OBS frontend API (the obs_frontend_* functions live inside the OBS app).
// It records what the plug-in asked for and lets a test set the frontend's state and fire events.

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/config-file.h>

#include <string>
#include <vector>

class QMainWindow;

namespace FrontendDouble {

struct State {
	// Outputs
	bool streaming = false;
	bool recording = false;
	bool recordingPaused = false;
	bool replayBufferActive = false;
	bool previewProgramMode = false;
	std::string lastReplayPath;
	std::string recordOutputPath;
	std::string currentSceneName; // looked up by name among libobs sources
	std::string currentPreviewSceneName;
	int transitionDurationMs = 300;
	bool recordingChaptersSupported = true; // answer of obs_frontend_recording_add_chapter

	// Calls the plug-in made
	int replayBufferSaveRequests = 0;
	int replayBufferStartRequests = 0;
	int replayBufferStopRequests = 0;
	std::vector<std::string> chapters;
	std::vector<std::string> dockIds;
	std::vector<void *> docks;
	std::vector<std::string> toolsMenuItems;
	int eventCallbacks = 0;

	// Scenes listed by obs_frontend_get_scenes (by name; looked up among libobs sources).
	std::vector<std::string> sceneNames;
	// Output objects handed out by obs_frontend_get_*_output (held by the double).
	OBSOutput replayBufferOutput;
	OBSOutput recordingOutput;
	OBSOutput streamingOutput;
};

State &state();

// Clears recorded calls, state and callbacks; profile config values too.
void reset();

// Profile configuration (obs_frontend_get_profile_config) and global configuration.
config_t *profileConfig();
config_t *globalConfig();

// Calls every registered event callback, as the frontend does.
void fireEvent(obs_frontend_event event);

// Invokes the tools menu callback registered under this text; false when none.
bool clickToolsMenuItem(const std::string &text);

// A main window for dock placement (created lazily, needs a QApplication).
QMainWindow *mainWindow();

} // namespace FrontendDouble
