#include "playback/ReplayScene.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "util/ObsCompat.h"
#include "util/ObsSources.h"
#include "playback/PlaybackKeys.h"

#include <obs-frontend-api.h>

#include <QDir>

#include <algorithm>
#include <set>

const char *const kPreviousLocalFileKey = "kelvaro_lumark_previous_local_file";

namespace {
struct ItemSearch {
	obs_source_t *target = nullptr;
	std::vector<OBSSceneItemAutoRelease> *result = nullptr;
	std::vector<OBSSceneItemAutoRelease> groups;
};

bool collectItem(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
	auto *search = static_cast<ItemSearch *>(param);
	if (obs_sceneitem_get_source(item) == search->target) {
		obs_sceneitem_addref(item);
		search->result->emplace_back(item);
	} else if (obs_sceneitem_is_group(item)) {
		obs_sceneitem_addref(item);
		search->groups.emplace_back(item);
	}
	return true;
}
} // namespace

QString normalizedPathKey(const QString &path)
{
	if (path.isEmpty())
		return {};
	QString p = path;
	p.replace(QLatin1Char('\\'), QLatin1Char('/'));
	return QDir::cleanPath(p).toCaseFolded();
}

void assignLocalFile(obs_source_t *source, obs_data_t *data, const QString &path)
{
	QString current;
	OBSDataAutoRelease privateSettings;
	if (source) {
		OBSDataAutoRelease settings = obs_source_get_settings(source);
		current = QString::fromUtf8(obs_data_get_string(settings, "local_file"));
		privateSettings = obs_source_get_private_settings(source);
		if (current.isEmpty())
			current = QString::fromUtf8(obs_data_get_string(privateSettings, kPreviousLocalFileKey));
	}

	QString spelled = path;
	if (!spelled.isEmpty() && !current.isEmpty() && normalizedPathKey(spelled) == normalizedPathKey(current)) {
#ifdef _WIN32
		spelled.replace(QLatin1Char('\\'), QLatin1Char('/'));
		if (spelled == current)
			spelled.replace(QLatin1Char('/'), QLatin1Char('\\'));
		if (spelled == current)
			spelled.prepend(QStringLiteral("./"));
#else
		// A backslash is an ordinary file-name character here; a "./" segment keeps the same file.
		if (spelled == current)
			spelled.insert(spelled.lastIndexOf(QLatin1Char('/')) + 1, QStringLiteral("./"));
#endif
	}

	if (privateSettings) {
		const QString remember = !path.isEmpty() ? path : current;
		if (!remember.isEmpty())
			obs_data_set_string(privateSettings, kPreviousLocalFileKey, remember.toUtf8().constData());
	}
	obs_data_set_string(data, "local_file", spelled.toUtf8().constData());
}

void setMediaPlayOnce(obs_data_t *data)
{
	obs_data_set_bool(data, "is_local_file", true);
	obs_data_set_bool(data, "looping", false);
	obs_data_set_bool(data, "restart_on_activate", false);
	obs_data_set_bool(data, "close_when_inactive", false);
	obs_data_set_bool(data, "clear_on_media_end", false);
}

OBSSourceAutoRelease findReplayScene()
{
	OBSSourceAutoRelease source = liveSourceByName(settings().replay_scene);
	if (!source || obs_source_get_type(source) != OBS_SOURCE_TYPE_SCENE)
		return nullptr;
	return source;
}

OBSSourceAutoRelease findReplayMedia()
{
	OBSSourceAutoRelease source = liveSourceByName(settings().replay_media);
	if (!isMediaSource(source))
		return nullptr;
	return source;
}

std::vector<OBSSceneItemAutoRelease> findSceneItems(obs_source_t *target)
{
	std::vector<OBSSceneItemAutoRelease> result;
	if (!target)
		return result;
	ItemSearch search;
	search.target = target;
	search.result = &result;
	std::set<obs_source_t *> seenScenes;
	compatEnumCanvasScenes([&](obs_source_t *sceneSource) {
		if (!seenScenes.insert(sceneSource).second)
			return;
		if (obs_scene_t *scene = obs_scene_from_source(sceneSource))
			obs_scene_enum_items(scene, collectItem, &search);
	});
	while (!search.groups.empty()) {
		OBSSceneItemAutoRelease group = std::move(search.groups.back());
		search.groups.pop_back();
		obs_sceneitem_group_enum_items(group, collectItem, &search);
	}
	return result;
}

uint32_t setReplayVisible(bool visible)
{
	OBSSourceAutoRelease scene = findReplayScene();
	uint32_t longest = 0;
	for (const OBSSceneItemAutoRelease &item : findSceneItems(scene)) {
		longest = std::max(longest, obs_sceneitem_get_transition_duration(item, visible));
		obs_sceneitem_set_visible(item, visible);
	}
	return longest;
}

int replayPlacementCount()
{
	OBSSourceAutoRelease scene = findReplayScene();
	return scene ? static_cast<int>(findSceneItems(scene).size()) : 0;
}

int replayVisibleCount()
{
	OBSSourceAutoRelease scene = findReplayScene();
	int visible = 0;
	for (const OBSSceneItemAutoRelease &item : findSceneItems(scene))
		visible += obs_sceneitem_visible(item) ? 1 : 0;
	return visible;
}

void resetReplayScene()
{
	setReplayVisible(false);
	OBSSourceAutoRelease media = findReplayMedia();
	if (!media)
		return;
	OBSDataAutoRelease current = obs_source_get_settings(media);
	if (!*obs_data_get_string(current, "local_file"))
		return;
	OBSDataAutoRelease update = obs_data_create();
	assignLocalFile(media, update, QString());
	obs_source_update(media, update);
}

bool refuseSetup(QString &message, const char *key)
{
	message = moduleQText(key);
	return false;
}

obs_scene_t *sceneOrNew(obs_source_t *found, const char *name, OBSSceneAutoRelease &created, QString &message)
{
	if (found) {
		obs_scene_t *scene = obs_scene_from_source(found);
		if (!scene)
			refuseSetup(message, PlaybackKeys::SetupSceneNameTaken);
		return scene;
	}
	created = obs_scene_create(name);
	if (!created)
		refuseSetup(message, PlaybackKeys::SetupFailed);
	return created;
}

OBSSourceAutoRelease newMediaSource(const char *name, obs_data_t *data, QString &message)
{
	OBSSourceAutoRelease media = obs_source_create(kMediaSourceId, name, data, nullptr);
	if (!media)
		refuseSetup(message, PlaybackKeys::SetupFailed);
	return media;
}

obs_sceneitem_t *addSetupItem(obs_scene_t *scene, obs_source_t *source, QString &message)
{
	obs_sceneitem_t *item = obs_scene_add(scene, source);
	if (!item)
		refuseSetup(message, PlaybackKeys::SetupFailed);
	return item;
}

void fitInsideCanvas(obs_sceneitem_t *item, uint32_t width, uint32_t height)
{
	obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_SCALE_INNER);
	if (!width || !height)
		return;
	vec2 bounds;
	vec2_set(&bounds, float(width), float(height));
	obs_sceneitem_set_bounds(item, &bounds);
}

bool makeReplayScene(QString &message)
{
	const QByteArray sceneName = settings().replay_scene.toUtf8();
	const QByteArray mediaName = settings().replay_media.toUtf8();
	if (sceneName.isEmpty() || mediaName.isEmpty())
		return refuseSetup(message, PlaybackKeys::SetupNoName);

	OBSSourceAutoRelease sceneSource = liveSourceByName(sceneName.constData());
	OBSSceneAutoRelease createdScene;
	obs_scene_t *scene = sceneOrNew(sceneSource, sceneName.constData(), createdScene, message);
	if (!scene)
		return false;

	OBSSourceAutoRelease media = liveSourceByName(mediaName.constData());
	if (media && !isMediaSource(media))
		return refuseSetup(message, PlaybackKeys::SetupMediaNameTaken);
	if (!media) {
		OBSDataAutoRelease data = obs_data_create();
		setMediaPlayOnce(data);
		media = newMediaSource(mediaName.constData(), data, message);
		if (!media)
			return false;
	}

	if (!obs_scene_find_source(scene, mediaName.constData())) {
		obs_sceneitem_t *item = addSetupItem(scene, media, message);
		if (!item)
			return false;
		vec2 pos = {};
		obs_sceneitem_set_pos(item, &pos);
		uint32_t width = 0, height = 0;
		videoBaseSize(width, height);
		fitInsideCanvas(item, width, height);
	}
	pluginLog(LOG_INFO, "setup: replay scene ready");
	return true;
}

obs_source_t *sceneToPlaceInto()
{
	// In studio mode the streamer edits the preview; placing into the live program would show at once.
	return obs_frontend_preview_program_mode_active() ? obs_frontend_get_current_preview_scene()
							  : obs_frontend_get_current_scene();
}

bool addReplaySceneToCurrent(QString &message)
{
	OBSSourceAutoRelease replay = findReplayScene();
	if (!replay)
		return refuseSetup(message, PlaybackKeys::SetupNoScene);
	OBSSourceAutoRelease current = sceneToPlaceInto();
	obs_scene_t *scene = current ? obs_scene_from_source(current) : nullptr;
	if (!scene || current.Get() == replay.Get())
		return refuseSetup(message, PlaybackKeys::SetupPickOtherScene);
	if (obs_scene_find_source_recursive(scene, obs_source_get_name(replay)))
		return refuseSetup(message, PlaybackKeys::SetupAlreadyThere);
	obs_sceneitem_t *item = addSetupItem(scene, replay, message);
	if (!item)
		return false;
	obs_sceneitem_set_visible(item, false);
	pluginLog(LOG_INFO, "setup: replay scene added to the current scene (hidden)");
	return true;
}

static uint32_t g_testWidth = 0, g_testHeight = 0;

void setVideoBaseSizeForTesting(uint32_t width, uint32_t height)
{
	g_testWidth = width;
	g_testHeight = height;
}

bool videoBaseSize(uint32_t &width, uint32_t &height)
{
	if (g_testWidth || g_testHeight) {
		width = g_testWidth;
		height = g_testHeight;
		return width && height;
	}
	obs_video_info ovi = {};
	if (!obs_get_video_info(&ovi) || !ovi.base_width || !ovi.base_height)
		return false;
	width = ovi.base_width;
	height = ovi.base_height;
	return true;
}
