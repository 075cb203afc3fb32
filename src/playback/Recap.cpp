#include "playback/Recap.h"

#include "config/Settings.h"
#include "util/Paths.h"
#include "util/ModuleCore.h"
#include "util/Utf8.h"
#include "playback/MediaTiming.h"
#include "playback/PlaybackKeys.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"
#include "session/Session.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

using namespace MediaTiming;

namespace {
// Slow while a clip plays, fast near a clip change and while a hidden clip loads.
constexpr int kTickMs = 250;
constexpr int kFastTickMs = 40;
// A seek made by the start hook counts when the time is at most this far before the target.
constexpr long long kEarlySeekReachMs = 10000;

bool stoppedOrError(int st)
{
	return st == OBS_MEDIA_STATE_STOPPED || st == OBS_MEDIA_STATE_ERROR;
}

bool nearClipChange(long long remainingMs, long long leadMs)
{
	return remainingMs < std::max(leadMs + 250, 1500LL);
}

OBSSourceAutoRelease liveSource(const std::string &name)
{
	OBSSourceAutoRelease source = sourceByName(name.c_str());
	if (source && obs_source_removed(source))
		return nullptr;
	return source;
}

bool isMediaSource(obs_source_t *source)
{
	const char *id = source ? obs_source_get_unversioned_id(source) : nullptr;
	return id && std::strcmp(id, "ffmpeg_source") == 0;
}

bool isTextSource(obs_source_t *source)
{
	return source && isRecapTextSource(obs_source_get_unversioned_id(source));
}

OBSSourceAutoRelease resolve(obs_weak_source_t *weak)
{
	OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
	if (source && obs_source_removed(source))
		return nullptr;
	return source;
}

ProbeResult probeFile(const QString &file)
{
#ifdef _WIN32
	return probeClipDuration(file.toStdWString());
#else
	return probeClipDuration(std::string(QFile::encodeName(file).constData()));
#endif
}

// Changes an item's visibility without playing its show or hide transition.
struct VisibilityChange {
	obs_sceneitem_t *item;
	bool visible;
};

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
} // namespace

struct Recap::Hook {
	std::mutex mutex;
	obs_source_t *source = nullptr;
	std::string expectedPath;
	long long target = -1;
	bool started = false;
	bool seekedEarly = false;

	// Runs on the thread that emits "media_started".
	static void onMediaStarted(void *data, calldata_t *cd)
	{
		auto *hook = static_cast<Hook *>(data);
		auto *source = static_cast<obs_source_t *>(calldata_ptr(cd, "source"));
		std::lock_guard<std::mutex> lock(hook->mutex);
		if (!source || source != hook->source || obs_source_removed(source) || hook->started)
			return;
		OBSDataAutoRelease settings = obs_source_get_settings(source);
		const QString current = QString::fromUtf8(obs_data_get_string(settings, "local_file"));
		if (normalizedPathKey(current) != normalizedPathKey(QString::fromStdString(hook->expectedPath)))
			return;
		hook->started = true;
		if (hook->target >= 0) {
			obs_source_media_set_time(source, hook->target);
			hook->seekedEarly = true;
		}
	}
};

Recap::Recap(RecapSessions &sessions, QObject *parent)
    : QObject(parent), hook(std::make_shared<Hook>()), sessions(sessions)
{
	tick.setTimerType(Qt::PreciseTimer);
	tick.setInterval(kTickMs);
	connect(&tick, &QTimer::timeout, this, &Recap::onTick);
}

Recap::~Recap()
{
	resetHook();
}

QString Recap::fileKey(const QString &path)
{
	if (path.isEmpty())
		return {};
	QFileInfo info(path);
	QString canonical = info.canonicalFilePath();
	if (canonical.isEmpty())
		canonical = info.absoluteFilePath();
	return normalizedPathKey(canonical);
}

bool Recap::validateRecapNames(QString *message)
{
	const Settings &s = settings();
	const QString names[] = {s.recap_scene, s.recap_media, s.recap_text};
	auto fail = [message](const char *key) {
		if (message)
			*message = QString::fromUtf8(moduleText(key));
		return false;
	};
	for (const QString &name : names) {
		if (name.isEmpty())
			return fail(PlaybackKeys::RecapNoName);
		if (name == s.replay_scene || name == s.replay_media)
			return fail(PlaybackKeys::RecapReplayNameTaken);
	}
	if (names[0] == names[1] || names[0] == names[2] || names[1] == names[2])
		return fail(PlaybackKeys::RecapSameNames);
	return true;
}

void Recap::copyNames()
{
	const Settings &s = settings();
	sceneName = s.recap_scene.toUtf8().toStdString();
	mediaName = s.recap_media.toUtf8().toStdString();
	textName = s.recap_text.toUtf8().toStdString();
	seconds = std::clamp(s.recap_seconds, 3, 120);
}

bool Recap::copyNamesChanged() const
{
	const Settings &s = settings();
	return sceneName != s.recap_scene.toUtf8().toStdString() || mediaName != s.recap_media.toUtf8().toStdString() ||
	       textName != s.recap_text.toUtf8().toStdString() || seconds != std::clamp(s.recap_seconds, 3, 120);
}

void Recap::start()
{
	if (tick.isActive())
		return;
	if (!connected) {
		connected = true;
		sessions.watch(
		    this, [this] { dirty = true; },
		    [this] {
			    dirty = true;
			    QTimer::singleShot(750, this, [this] { dirty = true; });
		    });
	}
	copyNames();
	if (validateRecapNames()) {
		OBSSourceAutoRelease m = liveSource(mediaName);
		OBSSourceAutoRelease t = liveSource(textName);
		media = isMediaSource(m) ? obs_source_get_weak_source(m) : nullptr;
		text = isTextSource(t) ? obs_source_get_weak_source(t) : nullptr;
		unload();
	}
	live = false;
	dirty = true;
	tick.start();
}

void Recap::reset()
{
	tick.stop();
	unload();
	live = false;
	playlist.clear();
	skipped.clear();
	leadByFile.clear();
	sessionId.clear();
	dirty = true;
	emit stateChanged();
}

RecapStatus Recap::status() const
{
	RecapStatus st;
	st.running = state_ != State::Idle;
	st.empty = playlist.empty() || empty;
	st.sessionId = QString::fromStdString(sessionId);
	st.count = static_cast<int>(playlist.size());
	st.index = st.running ? index + 1 : 0;
	st.currentFile = currentFile;
	st.currentMemo = currentMemo;
	return st;
}

bool Recap::isLoaded(const QString &path) const
{
	return state_ != State::Idle && !path.isEmpty() && fileKey(path) == fileKey(currentFile);
}

long long Recap::leadFor(const QString &path) const
{
	auto it = leadByFile.find(fileKey(path));
	return it == leadByFile.end() ? DefaultLeadMs : it->second;
}

void Recap::setInterval(int ms)
{
	if (tick.interval() != ms)
		tick.setInterval(ms);
}

void Recap::setState(State s)
{
	state_ = s;
}

void Recap::onTick()
{
	if (copyNamesChanged()) {
		unload();
		copyNames();
		live = false;
		dirty = true;
		return;
	}

	OBSSourceAutoRelease scene = liveSource(sceneName);
	if (validateRecapNames() && scene && obs_source_get_type(scene) == OBS_SOURCE_TYPE_SCENE &&
	    obs_source_active(scene)) {
		if (!live) {
			live = true;
			skipped.clear();
			empty = false;
			dirty = true;
			index = -1;
		}
		if (state_ == State::Idle) {
			if (!empty || dirty)
				loadNext(false);
			return;
		}
		OBSSourceAutoRelease m = resolve(media);
		OBSSourceAutoRelease t = resolve(text);
		if (!m || !t) {
			unload();
			return;
		}
		const long long g = phaseClock.elapsed();
		const int st = obs_source_media_get_state(m);
		switch (state_) {
		case State::Loading:
			return tickLoading(m, g, st);
		case State::Seeking:
			return tickSeeking(m, g, st);
		case State::Landing:
			return tickLanding(m, g, st);
		case State::Showing:
			return tickShowing(m, g, st);
		case State::Looping:
			return tickLooping(m, g, st);
		case State::Idle:
			return;
		}
		return;
	}

	if (live || state_ != State::Idle)
		unload();
	live = false;
	if (dirty)
		rebuildPlaylist();
}

void Recap::goLanding(long long t)
{
	landedMediaMs = t;
	phaseClock.restart();
	setInterval(kFastTickMs);
	setState(State::Landing);
}

void Recap::tickLoading(obs_source_t *m, long long g, int st)
{
	bool started, seekedEarly;
	{
		std::lock_guard<std::mutex> lock(hook->mutex);
		started = hook->started;
		seekedEarly = hook->seekedEarly;
	}
	const long long dur = obs_source_media_get_duration(m);
	const bool tooShort = started && dur >= 1 && dur < MinClipMs;
	const bool stoppedEarly = g >= StopSettleMs && (st == OBS_MEDIA_STATE_STOPPED || st == OBS_MEDIA_STATE_ENDED);
	if (tooShort || st == OBS_MEDIA_STATE_ERROR || stoppedEarly || g > OpenLimitMs) {
		skipClip();
		return;
	}
	if (!started || st != OBS_MEDIA_STATE_PLAYING || dur < MinClipMs)
		return;
	recordPlayed(currentFile, dur);
	const long long t = obs_source_media_get_time(m);
	// The start hook already sought to the known target: landed once the time is near it.
	if (seekedEarly &&
	    (startMs == 0 || (t >= std::max(startMs - kEarlySeekReachMs, 1000LL) && t > g + SeekSlackMs))) {
		goLanding(t);
		return;
	}
	startMs = std::max(0LL, dur - seconds * 1000LL);
	seekOriginMs = obs_source_media_get_time(m);
	if (startMs > 0)
		obs_source_media_set_time(m, startMs);
	phaseClock.restart();
	setState(State::Seeking);
}

void Recap::tickSeeking(obs_source_t *m, long long g, int st)
{
	if (stoppedOrError(st))
		return skipClip();
	const long long t = obs_source_media_get_time(m);
	if (seekLanded(g, t, startMs, seekOriginMs))
		goLanding(t);
}

void Recap::tickLanding(obs_source_t *m, long long g, int st)
{
	if (stoppedOrError(st))
		return skipClip();
	const long long t = obs_source_media_get_time(m);
	if (t >= landedMediaMs + LandMoveMs || g >= LandLimitMs)
		showClip(obs_source_media_get_duration(m), t);
}

void Recap::tickShowing(obs_source_t *m, long long g, int st)
{
	if (st == OBS_MEDIA_STATE_NONE || stoppedOrError(st))
		return skipClip();
	bool next = st == OBS_MEDIA_STATE_ENDED;
	if (!next && g > remainingAtShowMs + EndOverrunMs) {
		pluginLog(LOG_INFO, "おさらい: 動画が終わらないため次へ進みました（%s）",
			  fileNameOf(toUtf8(currentFile)).c_str());
		next = true;
	}
	if (next) {
		if (index + 1 >= static_cast<int>(playlist.size()))
			dirty = true;
		loadNext(false);
		return;
	}
	if (st != OBS_MEDIA_STATE_PLAYING)
		return;
	const long long dur = obs_source_media_get_duration(m);
	const long long remaining = std::max(0LL, dur - obs_source_media_get_time(m));
	const long long lead = leadFor(currentFile);
	setInterval(nearClipChange(remaining, lead) ? kFastTickMs : kTickMs);
	if (dur >= MinClipMs && remaining <= lead && !nextPrepared) {
		nextPrepared = true;
		if (index + 1 >= static_cast<int>(playlist.size()))
			dirty = true;
		loadNext(true);
	}
}

void Recap::tickLooping(obs_source_t *m, long long g, int st)
{
	if (st == OBS_MEDIA_STATE_NONE || stoppedOrError(st))
		return skipClip();
	if (st == OBS_MEDIA_STATE_ENDED || g >= SeekLimitMs)
		return loadNext(false);
	const long long t = obs_source_media_get_time(m);
	// The same file sought back to its start: shown again once the time runs on from there.
	if (st != OBS_MEDIA_STATE_PLAYING || t < 0 || t >= seekOriginMs - LandMoveMs)
		lastMediaMs = -1;
	else if (lastMediaMs >= 0 && t > lastMediaMs)
		showClip(obs_source_media_get_duration(m), t);
	else
		lastMediaMs = t;
}

void Recap::showClip(long long dur, long long t)
{
	remainingAtShowMs = std::max(0LL, dur - t);
	OBSSourceAutoRelease tx = resolve(text);
	setRecapText(tx, currentMemo);
	restoreHiddenItems();
	setState(State::Showing);
	phaseClock.restart();
	nextPrepared = false;
	setInterval(nearClipChange(remainingAtShowMs, leadFor(currentFile)) ? kFastTickMs : kTickMs);
	emit stateChanged();
	emit clipStarted(currentFile, currentMemo, index + 1, static_cast<int>(playlist.size()));
}

void Recap::skipClip()
{
	skipped.insert(fileKey(currentFile));
	pluginLog(LOG_WARNING, "おさらい: 動画が短すぎるか、開けないため飛ばしました（%s）",
		  fileNameOf(toUtf8(currentFile)).c_str());
	restoreHiddenItems();
	setState(State::Idle);
	setInterval(kTickMs);
	loadNext(false);
}

void Recap::loadNext(bool inPlace)
{
	if (dirty)
		rebuildPlaylist();
	if (playlist.empty()) {
		empty = true;
		unload();
		return;
	}
	OBSSourceAutoRelease m = liveSource(mediaName);
	OBSSourceAutoRelease tx = liveSource(textName);
	if (!isMediaSource(m) || !isTextSource(tx)) {
		unload();
		return;
	}
	OBSSourceAutoRelease mediaInUse = resolve(media);
	OBSSourceAutoRelease textInUse = resolve(text);
	const int st = obs_source_media_get_state(m);
	Session *session = sessions.findSession(QString::fromStdString(sessionId));
	const int size = static_cast<int>(playlist.size());

	for (int k = 0; k < size; ++k) {
		const int candidate = (index + 1 + k) % size;
		Item &item = playlist[candidate];
		const Entry *entry = session ? session->findEntry(item.entryId) : nullptr;
		const Entry *owner = entry ? session->clipOwner(*entry) : nullptr;
		if (!owner || owner->clip.state != ClipState::Saved || owner->clip.path.empty())
			continue;
		item.path = QString::fromStdString(owner->clip.path);
		item.memo = sessions.hasOwnLabel(*entry) ? QString::fromStdString(entry->label) : QString();
		if (!QFileInfo(item.path).isFile() || skipped.count(fileKey(item.path)))
			continue;

		const bool sameFile = mediaInUse && mediaInUse.Get() == m.Get() && !currentFile.isEmpty() &&
				      fileKey(currentFile) == fileKey(item.path);
		if (inPlace && !(sameFile && state_ == State::Showing && st == OBS_MEDIA_STATE_PLAYING))
			return;

		if (textInUse.Get() != tx.Get() || item.memo != currentMemo)
			setRecapText(tx, QString());
		media = obs_source_get_weak_source(m);
		text = obs_source_get_weak_source(tx);
		index = candidate;
		currentFile = item.path;
		currentMemo = item.memo;
		empty = false;

		if (inPlace) {
			resetHook();
			startMs = std::max(0LL, obs_source_media_get_duration(m) - seconds * 1000LL);
			seekOriginMs = obs_source_media_get_time(m);
			lastMediaMs = -1;
			obs_source_media_set_time(m, startMs);
			setState(State::Looping);
			phaseClock.restart();
			setInterval(kFastTickMs);
			emit stateChanged();
			return;
		}

		if (sameFile && st == OBS_MEDIA_STATE_ENDED) {
			const long long lead = std::min(leadFor(currentFile) + 300, 2000LL);
			leadByFile[fileKey(currentFile)] = lead;
			pluginLog(LOG_INFO,
				  "おさらい: 飛び戻りが間に合わなかったため、次から残り %lld ms で戻ります（%s）", lead,
				  fileNameOf(toUtf8(currentFile)).c_str());
		}
		OBSDataAutoRelease data = obs_data_create();
		setMediaPlayOnce(data);
		assignLocalFile(m, data, currentFile);
		obs_data_set_int(data, "speed_percent", 100);
		const ProbeResult known = durationOf(currentFile);
		startMs = known.valid ? std::max(0LL, known.ms - seconds * 1000LL) : 0;
		armHook(m, currentFile, known.valid ? startMs : -1);
		const size_t hiddenBefore = hiddenItems.size();
		setItemsVisible(m, false);
		setState(State::Loading);
		setInterval(hiddenItems.size() > hiddenBefore ? kFastTickMs : kTickMs);
		phaseClock.restart();
		obs_source_update(m, data);
		emit stateChanged();
		return;
	}
	empty = true;
	unload();
}

void Recap::setItemsVisible(obs_source_t *m, bool visible)
{
	OBSSourceAutoRelease sceneSource = liveSource(sceneName);
	obs_scene_t *scene = sceneSource ? obs_scene_from_source(sceneSource) : nullptr;
	if (!scene || visible)
		return;
	struct Search {
		obs_source_t *media;
		std::vector<OBSSceneItemAutoRelease> items;
	} search{m, {}};
	obs_scene_enum_items(
	    scene,
	    [](obs_scene_t *, obs_sceneitem_t *item, void *param) {
		    auto *s = static_cast<Search *>(param);
		    if (obs_sceneitem_get_source(item) == s->media && obs_sceneitem_visible(item)) {
			    obs_sceneitem_addref(item);
			    s->items.emplace_back(item);
		    }
		    return true;
	    },
	    &search);
	for (OBSSceneItemAutoRelease &item : search.items) {
		setVisibleNow(item, false);
		hiddenItems.push_back(std::move(item));
	}
}

void Recap::restoreHiddenItems()
{
	for (const OBSSceneItemAutoRelease &item : hiddenItems)
		setVisibleNow(item, true);
	hiddenItems.clear();
}

void Recap::unload()
{
	const bool loaded = state_ != State::Idle || !currentFile.isEmpty() || !currentMemo.isEmpty();
	resetHook();
	if (OBSSourceAutoRelease m = resolve(media)) {
		obs_source_media_stop(m);
		OBSDataAutoRelease data = obs_data_create();
		assignLocalFile(m, data, QString());
		obs_source_update(m, data);
	}
	OBSSourceAutoRelease tx = resolve(text);
	setRecapText(tx, QString());
	restoreHiddenItems();
	media = nullptr;
	text = nullptr;
	currentFile.clear();
	currentMemo.clear();
	landedMediaMs = 0;
	setState(State::Idle);
	setInterval(kTickMs);
	if (loaded)
		emit stateChanged();
}

void Recap::armHook(obs_source_t *src, const QString &file, long long target)
{
	resetHook();
	heldMedia = obs_source_get_ref(src);
	{
		std::lock_guard<std::mutex> lock(hook->mutex);
		hook->source = src;
		hook->expectedPath = file.toUtf8().toStdString();
		hook->target = target;
	}
	signal_handler_connect_ref(obs_source_get_signal_handler(src), "media_started", &Hook::onMediaStarted,
				   hook.get());
}

void Recap::resetHook()
{
	if (heldMedia)
		signal_handler_disconnect(obs_source_get_signal_handler(heldMedia), "media_started",
					  &Hook::onMediaStarted, hook.get());
	{
		std::lock_guard<std::mutex> lock(hook->mutex);
		hook->source = nullptr;
		hook->expectedPath.clear();
		hook->target = -1;
		hook->started = false;
		hook->seekedEarly = false;
	}
	heldMedia = nullptr;
}

ProbeResult Recap::durationOf(const QString &file)
{
	const QString key = fileKey(file);
	QFileInfo info(file);
	const long long size = info.size();
	const long long mtime = info.lastModified().toMSecsSinceEpoch();
	Duration &entry = durations[key];
	if (entry.size != size || entry.mtimeMs != mtime) {
		entry = Duration();
		entry.size = size;
		entry.mtimeMs = mtime;
		entry.probed = probeFile(file);
		if (entry.probed.valid)
			pluginLog(LOG_INFO, "おさらい: ファイルから読んだ長さ %lld ms（%s）", entry.probed.ms,
				  fileNameOf(toUtf8(file)).c_str());
	}
	return entry.probed.valid ? entry.probed : entry.played;
}

void Recap::recordPlayed(const QString &file, long long ms)
{
	auto it = durations.find(fileKey(file));
	if (it == durations.end())
		return;
	QFileInfo info(file);
	if (it->second.size == info.size() && it->second.mtimeMs == info.lastModified().toMSecsSinceEpoch())
		it->second.played = {ms, true};
}

void Recap::rebuildPlaylist()
{
	const QString running = sessions.runningSessionId();
	const auto itemsOf = [this](const Session &s) {
		std::vector<Item> found;
		for (const Entry &e : s.entries) {
			if (e.kind != EntryKind::Press && e.kind != EntryKind::Save)
				continue;
			const Entry *owner = s.clipOwner(e);
			if (!owner || owner->clip.state != ClipState::Saved || owner->clip.path.empty())
				continue;
			const QString path = QString::fromStdString(owner->clip.path);
			if (!QFileInfo(path).isFile())
				continue;
			found.push_back({e.id, path,
					 sessions.hasOwnLabel(e) ? QString::fromStdString(e.label) : QString(),
					 e.t_ms});
		}
		return found;
	};

	// The newest finished stream with clips, else the newest finished session of another kind with
	// clips. Ids begin with the start time, so the list is newest first and the walk stops at the
	// first stream that has clips instead of loading every stored session.
	std::vector<Item> items;
	std::string id;
	std::vector<Item> other;
	std::string otherId;
	for (const QString &sid : sessions.sessionIds()) {
		if (sid == running)
			continue;
		Session *s = sessions.findSession(sid);
		if (!s || s->end_wall_ms == 0)
			continue;
		const bool stream = s->source == SessionSource::Stream;
		if (!stream && !otherId.empty())
			continue;
		std::vector<Item> found = itemsOf(*s);
		if (found.empty())
			continue;
		if (stream) {
			items = std::move(found);
			id = s->id;
			break;
		}
		other = std::move(found);
		otherId = s->id;
	}
	if (id.empty()) {
		items = std::move(other);
		id = otherId;
	}
	std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
		if (a.memo.isEmpty() != b.memo.isEmpty())
			return !a.memo.isEmpty();
		return a.tMs < b.tMs;
	});
	std::set<QString> keys;
	std::vector<Item> unique;
	for (Item &item : items)
		if (keys.insert(fileKey(item.path)).second)
			unique.push_back(std::move(item));

	bool same = id == sessionId && unique.size() == playlist.size();
	for (size_t i = 0; same && i < unique.size(); ++i)
		same = unique[i].entryId == playlist[i].entryId && unique[i].path == playlist[i].path &&
		       unique[i].memo == playlist[i].memo;
	if (!same) {
		playlist = std::move(unique);
		sessionId = id;
		skipped.clear();
		index = -1;
		empty = false;
		emit stateChanged();
	}
	dirty = false;
}
