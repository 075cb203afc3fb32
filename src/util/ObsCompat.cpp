#include "util/ObsCompat.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <QDockWidget>
#include <QMainWindow>
#include <QString>

#include <algorithm>
#include <vector>

#define LUMARK_OBS_AT_LEAST(major, minor) (LIBOBS_API_VER >= MAKE_SEMANTIC_VERSION(major, minor, 0))

bool compatAddDock(const char *id, const char *title, QWidget *widget)
{
	if (!widget)
		return false;
#if LUMARK_OBS_AT_LEAST(30, 0)
	return obs_frontend_add_dock_by_id(id, title, widget);
#else
	auto *main = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	auto *dock = new QDockWidget(main);
	dock->setObjectName(QString::fromUtf8(id));
	dock->setWindowTitle(QString::fromUtf8(title));
	dock->setWidget(widget);
	dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
			  QDockWidget::DockWidgetFloatable);
	dock->setFloating(true);
	dock->hide();
	obs_frontend_add_dock(dock);
	return true;
#endif
}

bool compatHasRecordingChapters()
{
#if LUMARK_OBS_AT_LEAST(30, 2)
	return true;
#else
	return false;
#endif
}

bool compatAddRecordingChapter(const char *name)
{
#if LUMARK_OBS_AT_LEAST(30, 2)
	return obs_frontend_recording_add_chapter(name);
#else
	(void)name;
	return false;
#endif
}

void compatEnumScenes(const std::function<void(obs_source_t *scene)> &fn)
{
#if LUMARK_OBS_AT_LEAST(31, 1)
	obs_enum_canvases(
	    [](void *param, obs_canvas_t *canvas) {
		    obs_canvas_enum_scenes(
			canvas,
			[](void *p, obs_source_t *scene) {
				(*static_cast<const std::function<void(obs_source_t *)> *>(p))(scene);
				return true;
			},
			param);
		    return true;
	    },
	    const_cast<std::function<void(obs_source_t *)> *>(&fn));
#else
	struct obs_frontend_source_list scenes = {};
	obs_frontend_get_scenes(&scenes);
	for (size_t i = 0; i < scenes.sources.num; ++i)
		fn(scenes.sources.array[i]);
	obs_frontend_source_list_free(&scenes);
#endif
}

void compatEnumCanvasScenes(const std::function<void(obs_source_t *scene)> &fn)
{
#if LUMARK_OBS_AT_LEAST(31, 1)
	std::vector<OBSCanvasAutoRelease> canvases;
	canvases.emplace_back(obs_get_main_canvas());
	obs_enum_canvases(
	    [](void *param, obs_canvas_t *canvas) {
		    static_cast<std::vector<OBSCanvasAutoRelease> *>(param)->emplace_back(obs_canvas_get_ref(canvas));
		    return true;
	    },
	    &canvases);
	std::vector<obs_canvas_t *> seen;
	for (const OBSCanvasAutoRelease &canvas : canvases) {
		if (!canvas || std::find(seen.begin(), seen.end(), canvas.Get()) != seen.end())
			continue;
		seen.push_back(canvas.Get());
		obs_canvas_enum_scenes(
		    canvas,
		    [](void *p, obs_source_t *scene) {
			    (*static_cast<const std::function<void(obs_source_t *)> *>(p))(scene);
			    return true;
		    },
		    const_cast<std::function<void(obs_source_t *)> *>(&fn));
	}
#else
	compatEnumScenes(fn);
#endif
}

#if LUMARK_OBS_AT_LEAST(31, 0)
namespace {
void tapTrampoline(obs_output_t *, encoder_packet *packet, encoder_packet_time *, void *param)
{
	auto *tap = static_cast<CompatPacketTap *>(param);
	tap->fn(tap->param, packet);
}
} // namespace
#endif

bool compatHasPacketTap()
{
#if LUMARK_OBS_AT_LEAST(31, 0)
	return true;
#else
	return false;
#endif
}

bool compatAddPacketTap(obs_output_t *output, CompatPacketTap *tap)
{
#if LUMARK_OBS_AT_LEAST(31, 0)
	if (!output || !tap || !tap->fn)
		return false;
	obs_output_add_packet_callback(output, tapTrampoline, tap);
	return true;
#else
	(void)output;
	(void)tap;
	return false;
#endif
}

void compatRemovePacketTap(obs_output_t *output, CompatPacketTap *tap)
{
#if LUMARK_OBS_AT_LEAST(31, 0)
	if (output && tap)
		obs_output_remove_packet_callback(output, tapTrampoline, tap);
#else
	(void)output;
	(void)tap;
#endif
}
