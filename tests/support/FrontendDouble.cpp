#include "FrontendDouble.h"

#include <util/bmem.h>
#include <util/dstr.h>

#include <QDockWidget>
#include <QMainWindow>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

namespace {
struct Callback {
	obs_frontend_event_cb cb;
	void *data;
};
struct MenuItem {
	std::string text;
	obs_frontend_cb cb;
	void *data;
};

FrontendDouble::State g_state;
std::vector<Callback> g_callbacks;
std::vector<MenuItem> g_menu;
config_t *g_profile = nullptr;
config_t *g_global = nullptr;
QMainWindow *g_main = nullptr;

char *dupOrNull(const std::string &s)
{
	return s.empty() ? nullptr : bstrdup(s.c_str());
}

obs_source_t *sourceByName(const std::string &name)
{
	return name.empty() ? nullptr : obs_get_source_by_name(name.c_str());
}
} // namespace

namespace FrontendDouble {

State &state()
{
	return g_state;
}

void reset()
{
	g_state = State();
	g_callbacks.clear();
	g_menu.clear();
	if (g_profile)
		config_close(g_profile);
	if (g_global)
		config_close(g_global);
	g_profile = nullptr;
	g_global = nullptr;
}

config_t *profileConfig()
{
	if (!g_profile)
		config_open_string(&g_profile, "");
	return g_profile;
}

config_t *globalConfig()
{
	if (!g_global)
		config_open_string(&g_global, "");
	return g_global;
}

void fireEvent(obs_frontend_event event)
{
	// Copy: a callback may remove itself.
	std::vector<Callback> callbacks = g_callbacks;
	for (const Callback &c : callbacks)
		c.cb(event, c.data);
}

bool clickToolsMenuItem(const std::string &text)
{
	for (const MenuItem &item : g_menu) {
		if (item.text == text) {
			item.cb(item.data);
			return true;
		}
	}
	return false;
}

QMainWindow *mainWindow()
{
	if (!g_main)
		g_main = new QMainWindow();
	return g_main;
}

} // namespace FrontendDouble

extern "C" {

void *obs_frontend_get_main_window(void)
{
	return FrontendDouble::mainWindow();
}
void *obs_frontend_get_main_window_handle(void)
{
	return nullptr;
}
void *obs_frontend_get_system_tray(void)
{
	return nullptr;
}

char **obs_frontend_get_scene_names(void)
{
	struct dstr joined = {};
	for (const std::string &n : g_state.sceneNames) {
		dstr_cat(&joined, n.c_str());
		dstr_cat(&joined, "\n");
	}
	char **list = strlist_split(joined.array ? joined.array : "", '\n', false);
	dstr_free(&joined);
	return list;
}

void obs_frontend_get_scenes(struct obs_frontend_source_list *sources)
{
	for (const std::string &n : g_state.sceneNames) {
		obs_source_t *s = obs_get_source_by_name(n.c_str());
		if (s)
			da_push_back(sources->sources, &s);
	}
}

obs_source_t *obs_frontend_get_current_scene(void)
{
	return sourceByName(g_state.currentSceneName);
}

void obs_frontend_set_current_scene(obs_source_t *scene)
{
	g_state.currentSceneName = scene ? obs_source_get_name(scene) : "";
	FrontendDouble::fireEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
}

void obs_frontend_get_transitions(struct obs_frontend_source_list *) {}
obs_source_t *obs_frontend_get_current_transition(void)
{
	return nullptr;
}
void obs_frontend_set_current_transition(obs_source_t *) {}
int obs_frontend_get_transition_duration(void)
{
	return g_state.transitionDurationMs;
}
void obs_frontend_set_transition_duration(int duration)
{
	g_state.transitionDurationMs = duration;
}
void obs_frontend_release_tbar(void) {}
void obs_frontend_set_tbar_position(int) {}
int obs_frontend_get_tbar_position(void)
{
	return 0;
}

char **obs_frontend_get_scene_collections(void)
{
	return strlist_split("Test", '\n', false);
}
char *obs_frontend_get_current_scene_collection(void)
{
	return bstrdup("Test");
}
void obs_frontend_set_current_scene_collection(const char *) {}
bool obs_frontend_add_scene_collection(const char *)
{
	return false;
}
char **obs_frontend_get_profiles(void)
{
	return strlist_split("Test", '\n', false);
}
char *obs_frontend_get_current_profile(void)
{
	return bstrdup("Test");
}
char *obs_frontend_get_current_profile_path(void)
{
	return nullptr;
}
void obs_frontend_set_current_profile(const char *) {}
void obs_frontend_create_profile(const char *) {}
void obs_frontend_duplicate_profile(const char *) {}
void obs_frontend_delete_profile(const char *) {}

void *obs_frontend_add_tools_menu_qaction(const char *name)
{
	g_state.toolsMenuItems.push_back(name ? name : "");
	return nullptr;
}

void obs_frontend_add_tools_menu_item(const char *name, obs_frontend_cb callback, void *private_data)
{
	g_state.toolsMenuItems.push_back(name ? name : "");
	g_menu.push_back({name ? name : "", callback, private_data});
}

void *obs_frontend_add_dock(void *dock)
{
	auto *d = static_cast<QDockWidget *>(dock);
	g_state.docks.push_back(dock);
	g_state.dockIds.push_back(d->objectName().toStdString());
	return nullptr;
}

bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget)
{
	// Like the frontend: wrap the widget in a dock widget of the main window.
	auto *dock = new QDockWidget(FrontendDouble::mainWindow());
	dock->setObjectName(QString::fromUtf8(id));
	dock->setWindowTitle(QString::fromUtf8(title));
	dock->setWidget(static_cast<QWidget *>(widget));
	dock->setFloating(true);
	g_state.docks.push_back(dock);
	g_state.dockIds.push_back(id ? id : "");
	return true;
}

void obs_frontend_remove_dock(const char *) {}

void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	g_callbacks.push_back({callback, private_data});
	g_state.eventCallbacks = (int)g_callbacks.size();
}

void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *private_data)
{
	g_callbacks.erase(std::remove_if(g_callbacks.begin(), g_callbacks.end(),
					 [&](const Callback &c) { return c.cb == callback && c.data == private_data; }),
			  g_callbacks.end());
	g_state.eventCallbacks = (int)g_callbacks.size();
}

void obs_frontend_add_save_callback(obs_frontend_save_cb, void *) {}
void obs_frontend_remove_save_callback(obs_frontend_save_cb, void *) {}
void obs_frontend_add_preload_callback(obs_frontend_save_cb, void *) {}
void obs_frontend_remove_preload_callback(obs_frontend_save_cb, void *) {}
void obs_frontend_push_ui_translation(obs_frontend_translate_ui_cb) {}
void obs_frontend_pop_ui_translation(void) {}

void obs_frontend_streaming_start(void)
{
	g_state.streaming = true;
}
void obs_frontend_streaming_stop(void)
{
	g_state.streaming = false;
}
bool obs_frontend_streaming_active(void)
{
	return g_state.streaming;
}
void obs_frontend_recording_start(void)
{
	g_state.recording = true;
}
void obs_frontend_recording_stop(void)
{
	g_state.recording = false;
}
bool obs_frontend_recording_active(void)
{
	return g_state.recording;
}
void obs_frontend_recording_pause(bool pause)
{
	g_state.recordingPaused = pause;
}
bool obs_frontend_recording_paused(void)
{
	return g_state.recordingPaused;
}
bool obs_frontend_recording_split_file(void)
{
	return false;
}
bool obs_frontend_recording_add_chapter(const char *name)
{
	if (!g_state.recording || !g_state.recordingChaptersSupported)
		return false;
	g_state.chapters.push_back(name ? name : "");
	return true;
}

void obs_frontend_replay_buffer_start(void)
{
	g_state.replayBufferStartRequests++;
}
void obs_frontend_replay_buffer_save(void)
{
	g_state.replayBufferSaveRequests++;
}
void obs_frontend_replay_buffer_stop(void)
{
	g_state.replayBufferStopRequests++;
}
bool obs_frontend_replay_buffer_active(void)
{
	return g_state.replayBufferActive;
}

void obs_frontend_open_projector(const char *, int, const char *, const char *) {}
void obs_frontend_save(void) {}
void obs_frontend_defer_save_begin(void) {}
void obs_frontend_defer_save_end(void) {}

obs_output_t *obs_frontend_get_streaming_output(void)
{
	return obs_output_get_ref(g_state.streamingOutput);
}
obs_output_t *obs_frontend_get_recording_output(void)
{
	return obs_output_get_ref(g_state.recordingOutput);
}
obs_output_t *obs_frontend_get_replay_buffer_output(void)
{
	return obs_output_get_ref(g_state.replayBufferOutput);
}

config_t *obs_frontend_get_profile_config(void)
{
	return FrontendDouble::profileConfig();
}
config_t *obs_frontend_get_global_config(void)
{
	return FrontendDouble::globalConfig();
}
config_t *obs_frontend_get_app_config(void)
{
	return FrontendDouble::globalConfig();
}
config_t *obs_frontend_get_user_config(void)
{
	return FrontendDouble::globalConfig();
}

void obs_frontend_set_streaming_service(obs_service_t *) {}
obs_service_t *obs_frontend_get_streaming_service(void)
{
	return nullptr;
}
void obs_frontend_save_streaming_service(void) {}

bool obs_frontend_preview_program_mode_active(void)
{
	return g_state.previewProgramMode;
}
void obs_frontend_set_preview_program_mode(bool enable)
{
	g_state.previewProgramMode = enable;
}
void obs_frontend_preview_program_trigger_transition(void) {}
void obs_frontend_set_preview_enabled(bool) {}
bool obs_frontend_preview_enabled(void)
{
	return true;
}
obs_source_t *obs_frontend_get_current_preview_scene(void)
{
	return g_state.previewProgramMode ? sourceByName(g_state.currentPreviewSceneName) : nullptr;
}
void obs_frontend_set_current_preview_scene(obs_source_t *scene)
{
	g_state.currentPreviewSceneName = scene ? obs_source_get_name(scene) : "";
}

void obs_frontend_take_screenshot(void) {}
void obs_frontend_take_source_screenshot(obs_source_t *) {}
obs_output_t *obs_frontend_get_virtualcam_output(void)
{
	return nullptr;
}
void obs_frontend_start_virtualcam(void) {}
void obs_frontend_stop_virtualcam(void) {}
bool obs_frontend_virtualcam_active(void)
{
	return false;
}
void obs_frontend_reset_video(void) {}
void obs_frontend_open_source_properties(obs_source_t *) {}
void obs_frontend_open_source_filters(obs_source_t *) {}
void obs_frontend_open_source_interaction(obs_source_t *) {}

char *obs_frontend_get_current_record_output_path(void)
{
	return dupOrNull(g_state.recordOutputPath);
}
const char *obs_frontend_get_locale_string(const char *string)
{
	return string;
}
bool obs_frontend_is_theme_dark(void)
{
	return true;
}
char *obs_frontend_get_last_recording(void)
{
	return nullptr;
}
char *obs_frontend_get_last_screenshot(void)
{
	return nullptr;
}
char *obs_frontend_get_last_replay(void)
{
	return dupOrNull(g_state.lastReplayPath);
}

} // extern "C"
