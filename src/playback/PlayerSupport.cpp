#include "playback/PlayerSupport.h"

#include "util/ObsMedia.h"
#include "playback/MediaTiming.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <string>

using namespace MediaTiming;

namespace {
// Each late action adds a few fast ticks' worth of lead; past two seconds the clip would be cut short.
constexpr long long kLeadStepMs = 300;
constexpr long long kLeadLimitMs = 2000;

ProbeResult probeFile(const QString &file)
{
#ifdef _WIN32
	return probeClipDuration(file.toStdWString());
#else
	return probeClipDuration(std::string(QFile::encodeName(file).constData()));
#endif
}

struct VisibilityChange {
	obs_sceneitem_t *item;
	bool visible;
};
} // namespace

OBSDataAutoRelease clipSettings(obs_source_t *media, const QString &file, int speedPercent)
{
	OBSDataAutoRelease data = obs_data_create();
	setMediaPlayOnce(data);
	assignLocalFile(media, data, file);
	obs_data_set_int(data, "speed_percent", speedPercent);
	return data;
}

void stopAndUnloadMedia(obs_source_t *media)
{
	obs_source_media_stop(media);
	OBSDataAutoRelease data = obs_data_create();
	assignLocalFile(media, data, QString());
	obs_source_update(media, data);
}

long long LeadLearner::leadFor(const QString &key) const
{
	auto it = leads.find(key);
	return it == leads.end() ? DefaultLeadMs : it->second;
}

long long LeadLearner::learnTooLate(const QString &key)
{
	const long long lead = std::min(leadFor(key) + kLeadStepMs, kLeadLimitMs);
	leads[key] = lead;
	return lead;
}

ProbeResult ClipLengths::lengthOf(const QString &key, const QString &file, bool &freshlyProbed)
{
	QFileInfo info(file);
	const long long size = info.size();
	const long long mtime = info.lastModified().toMSecsSinceEpoch();
	Known &entry = known[key];
	freshlyProbed = entry.size != size || entry.mtimeMs != mtime;
	if (freshlyProbed) {
		entry = Known();
		entry.size = size;
		entry.mtimeMs = mtime;
		entry.probed = probeFile(file);
	}
	return entry.probed.valid ? entry.probed : entry.played;
}

void ClipLengths::recordPlayed(const QString &key, const QString &file, long long ms)
{
	auto it = known.find(key);
	if (it == known.end())
		return;
	QFileInfo info(file);
	if (it->second.size == info.size() && it->second.mtimeMs == info.lastModified().toMSecsSinceEpoch())
		it->second.played = {ms, true};
}

void setVisibleNow(obs_sceneitem_t *item, bool visible)
{
	obs_scene_t *scene = obs_sceneitem_get_scene(item);
	if (!scene)
		return;
	VisibilityChange change{item, visible};
	obs_scene_atomic_update(
	    scene,
	    [](void *param, obs_scene_t *) {
		    auto *c = static_cast<VisibilityChange *>(param);
		    if (obs_sceneitem_visible(c->item) == c->visible)
			    return;
		    OBSSourceAutoRelease transition =
			obs_source_get_ref(obs_sceneitem_get_transition(c->item, c->visible));
		    if (transition)
			    obs_transition_force_stop(transition);
		    obs_sceneitem_set_transition(c->item, c->visible, nullptr);
		    obs_sceneitem_set_visible(c->item, c->visible);
		    obs_sceneitem_set_transition(c->item, c->visible, transition);
	    },
	    &change);
}

std::vector<OBSSceneItemAutoRelease> hideItemsNow(obs_scene_t *scene, obs_source_t *source)
{
	struct Search {
		obs_source_t *source;
		std::vector<OBSSceneItemAutoRelease> items;
	} search{source, {}};
	obs_scene_enum_items(
	    scene,
	    [](obs_scene_t *, obs_sceneitem_t *item, void *param) {
		    auto *found = static_cast<Search *>(param);
		    if (obs_sceneitem_get_source(item) == found->source && obs_sceneitem_visible(item)) {
			    obs_sceneitem_addref(item);
			    found->items.emplace_back(item);
		    }
		    return true;
	    },
	    &search);
	for (const OBSSceneItemAutoRelease &item : search.items)
		setVisibleNow(item, false);
	return std::move(search.items);
}

struct MediaStartHook::Shared {
	std::mutex mutex;
	obs_source_t *source = nullptr;
	std::string expectedPath;
	long long target = -1;
	Seen seen;

	// Runs on the thread that emits "media_started".
	static void onMediaStarted(void *data, calldata_t *cd)
	{
		auto *hook = static_cast<Shared *>(data);
		auto *source = static_cast<obs_source_t *>(calldata_ptr(cd, "source"));
		std::lock_guard<std::mutex> lock(hook->mutex);
		if (!source || source != hook->source || obs_source_removed(source) || hook->seen.started)
			return;
		OBSDataAutoRelease settings = obs_source_get_settings(source);
		const QString current = QString::fromUtf8(obs_data_get_string(settings, kLocalFileKey));
		if (normalizedPathKey(current) != normalizedPathKey(QString::fromStdString(hook->expectedPath)))
			return;
		hook->seen.started = true;
		if (hook->target >= 0) {
			obs_source_media_set_time(source, hook->target);
			hook->seen.seekedEarly = true;
		}
	}
};

MediaStartHook::MediaStartHook() : shared(std::make_unique<Shared>()) {}

MediaStartHook::~MediaStartHook()
{
	reset();
}

void MediaStartHook::arm(obs_source_t *source, const QString &file, long long targetMs)
{
	reset();
	heldMedia = obs_source_get_ref(source);
	{
		std::lock_guard<std::mutex> lock(shared->mutex);
		shared->source = source;
		shared->expectedPath = file.toUtf8().toStdString();
		shared->target = targetMs;
	}
	signal_handler_connect_ref(obs_source_get_signal_handler(source), "media_started", &Shared::onMediaStarted,
				   shared.get());
}

void MediaStartHook::reset()
{
	if (heldMedia)
		signal_handler_disconnect(obs_source_get_signal_handler(heldMedia), "media_started",
					  &Shared::onMediaStarted, shared.get());
	{
		std::lock_guard<std::mutex> lock(shared->mutex);
		shared->source = nullptr;
		shared->expectedPath.clear();
		shared->target = -1;
		shared->seen = Seen{};
	}
	heldMedia = nullptr;
}

MediaStartHook::Seen MediaStartHook::seen() const
{
	std::lock_guard<std::mutex> lock(shared->mutex);
	return shared->seen;
}
