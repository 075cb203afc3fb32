#include "playback/Recap.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "util/ObsMedia.h"
#include "util/ObsSources.h"
#include "util/Paths.h"
#include "util/Utf8.h"
#include "playback/MediaTiming.h"
#include "playback/PlaybackText.h"
#include "playback/RecapScene.h"

#include <QFileInfo>

#include <algorithm>

using namespace MediaTiming;

namespace {
// Slow while a clip plays; fast near a clip change and while a hidden clip loads, where a late look
// shows on screen.
constexpr int kTickMs = 250;
constexpr int kFastTickMs = 40;
// Fast ticks begin at least this long before a clip's end, whatever its lead.
constexpr long long kFastBeforeEndMs = 1500;
// A seek made by the start hook counts when the time is at most this far before the target, and
// past the first second, which the clip reaches by itself.
constexpr long long kEarlySeekReachMs = 10000;
constexpr long long kEarlySeekFloorMs = 1000;
// A change of the session list may come just before the session's last write; a second look then
// picks up the finished session.
constexpr int kListSettleMs = 750;

bool stoppedOrError(int mediaState)
{
	return mediaState == OBS_MEDIA_STATE_STOPPED || mediaState == OBS_MEDIA_STATE_ERROR;
}

// One slow tick more than the lead, so a slow tick cannot step over the moment to prefetch.
bool nearClipChange(long long remainingMs, long long leadMs)
{
	return remainingMs < std::max(leadMs + kTickMs, kFastBeforeEndMs);
}

bool isTextSource(obs_source_t *source)
{
	return source && isRecapTextSource(obs_source_get_unversioned_id(source));
}

int recapSeconds(const Settings &s)
{
	return std::clamp(s.recap_seconds, SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax);
}

bool sameItems(const std::vector<RecapItem> &a, const std::vector<RecapItem> &b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); ++i)
		if (a[i].entryId != b[i].entryId || a[i].path != b[i].path || a[i].memo != b[i].memo)
			return false;
	return true;
}
} // namespace

Recap::Recap(RecapSessions &sessions, QObject *parent) : QObject(parent), sessions(sessions)
{
	tick.setTimerType(Qt::PreciseTimer);
	tick.setInterval(kTickMs);
	connect(&tick, &QTimer::timeout, this, &Recap::onTick);
}

Recap::~Recap() = default;

bool Recap::validateRecapNames(QString *message)
{
	const Settings &s = settings();
	const QString names[] = {s.recap_scene, s.recap_media, s.recap_text};
	auto fail = [message](const char *key) {
		if (message)
			*message = moduleQText(key);
		return false;
	};
	for (const QString &name : names) {
		if (name.isEmpty())
			return fail(PlaybackText::RecapNoName);
		if (name == s.replay_scene || name == s.replay_media)
			return fail(PlaybackText::RecapReplayNameTaken);
	}
	if (names[0] == names[1] || names[0] == names[2] || names[1] == names[2])
		return fail(PlaybackText::RecapSameNames);
	return true;
}

void Recap::copyNames()
{
	const Settings &s = settings();
	sceneName = s.recap_scene.toUtf8().toStdString();
	mediaName = s.recap_media.toUtf8().toStdString();
	textName = s.recap_text.toUtf8().toStdString();
	seconds = recapSeconds(s);
}

bool Recap::copyNamesChanged() const
{
	const Settings &s = settings();
	return sceneName != s.recap_scene.toUtf8().toStdString() || mediaName != s.recap_media.toUtf8().toStdString() ||
	       textName != s.recap_text.toUtf8().toStdString() || seconds != recapSeconds(s);
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
			    QTimer::singleShot(kListSettleMs, this, [this] { dirty = true; });
		    });
	}
	copyNames();
	if (validateRecapNames()) {
		OBSSourceAutoRelease mediaSource = liveSourceByName(mediaName);
		OBSSourceAutoRelease textSource = liveSourceByName(textName);
		media = isMediaSource(mediaSource) ? obs_source_get_weak_source(mediaSource) : nullptr;
		text = isTextSource(textSource) ? obs_source_get_weak_source(textSource) : nullptr;
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
	leads.clear();
	sessionId.clear();
	dirty = true;
	emit stateChanged();
}

RecapStatus Recap::status() const
{
	RecapStatus result;
	result.running = state_ != State::Idle;
	result.empty = playlist.empty() || empty;
	result.sessionId = QString::fromStdString(sessionId);
	result.count = static_cast<int>(playlist.size());
	result.index = result.running ? index + 1 : 0;
	result.currentFile = currentFile;
	result.currentMemo = currentMemo;
	return result;
}

bool Recap::isLoaded(const QString &path) const
{
	return state_ != State::Idle && !path.isEmpty() && recapFileKey(path) == recapFileKey(currentFile);
}

long long Recap::leadFor(const QString &path) const
{
	return leads.leadFor(recapFileKey(path));
}

void Recap::setInterval(int ms)
{
	if (tick.interval() != ms)
		tick.setInterval(ms);
}

void Recap::setState(State next)
{
	state_ = next;
}

long long Recap::startFor(long long durationMs) const
{
	return std::max(0LL, durationMs - seconds * 1000LL);
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
	if (!sceneIsLive()) {
		if (live || state_ != State::Idle)
			unload();
		live = false;
		if (dirty)
			rebuildPlaylist();
		return;
	}
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
	tickState();
}

bool Recap::sceneIsLive() const
{
	OBSSourceAutoRelease scene = liveSourceByName(sceneName);
	return validateRecapNames() && scene && obs_source_get_type(scene) == OBS_SOURCE_TYPE_SCENE &&
	       obs_source_active(scene);
}

void Recap::tickState()
{
	OBSSourceAutoRelease mediaSource = liveSourceOf(media);
	OBSSourceAutoRelease textSource = liveSourceOf(text);
	if (!mediaSource || !textSource) {
		unload();
		return;
	}
	const long long inStateMs = phaseClock.elapsed();
	const int mediaState = obs_source_media_get_state(mediaSource);
	switch (state_) {
	case State::Loading:
		return tickLoading(mediaSource, inStateMs, mediaState);
	case State::Seeking:
		return tickSeeking(mediaSource, inStateMs, mediaState);
	case State::Landing:
		return tickLanding(mediaSource, inStateMs, mediaState);
	case State::Showing:
		return tickShowing(mediaSource, inStateMs, mediaState);
	case State::Looping:
		return tickLooping(mediaSource, inStateMs, mediaState);
	case State::Idle:
		return;
	}
}

void Recap::goLanding(long long mediaMs)
{
	landedMediaMs = mediaMs;
	phaseClock.restart();
	setInterval(kFastTickMs);
	setState(State::Landing);
}

void Recap::tickLoading(obs_source_t *mediaSource, long long inStateMs, int mediaState)
{
	const MediaStartHook::Seen seen = hook.seen();
	const long long durationMs = obs_source_media_get_duration(mediaSource);
	const bool tooShort = seen.started && durationMs >= 1 && durationMs < MinClipMs;
	const bool stoppedEarly =
	    inStateMs >= StopSettleMs && (mediaState == OBS_MEDIA_STATE_STOPPED || mediaState == OBS_MEDIA_STATE_ENDED);
	if (tooShort || mediaState == OBS_MEDIA_STATE_ERROR || stoppedEarly || inStateMs > OpenLimitMs) {
		skipClip();
		return;
	}
	if (!seen.started || mediaState != OBS_MEDIA_STATE_PLAYING || durationMs < MinClipMs)
		return;
	lengths.recordPlayed(recapFileKey(currentFile), currentFile, durationMs);
	const long long mediaMs = obs_source_media_get_time(mediaSource);
	// The start hook already sought to the known target: landed once the time is near it.
	if (seen.seekedEarly && (startMs == 0 || (mediaMs >= std::max(startMs - kEarlySeekReachMs, kEarlySeekFloorMs) &&
						  mediaMs > inStateMs + SeekSlackMs))) {
		goLanding(mediaMs);
		return;
	}
	startMs = startFor(durationMs);
	seekOriginMs = obs_source_media_get_time(mediaSource);
	if (startMs > 0)
		obs_source_media_set_time(mediaSource, startMs);
	phaseClock.restart();
	setState(State::Seeking);
}

void Recap::tickSeeking(obs_source_t *mediaSource, long long inStateMs, int mediaState)
{
	if (stoppedOrError(mediaState))
		return skipClip();
	const long long mediaMs = obs_source_media_get_time(mediaSource);
	if (seekLanded(inStateMs, mediaMs, startMs, seekOriginMs))
		goLanding(mediaMs);
}

void Recap::tickLanding(obs_source_t *mediaSource, long long inStateMs, int mediaState)
{
	if (stoppedOrError(mediaState))
		return skipClip();
	const long long mediaMs = obs_source_media_get_time(mediaSource);
	if (mediaMs >= landedMediaMs + LandMoveMs || inStateMs >= LandLimitMs)
		showClip(obs_source_media_get_duration(mediaSource), mediaMs);
}

void Recap::tickShowing(obs_source_t *mediaSource, long long inStateMs, int mediaState)
{
	if (mediaState == OBS_MEDIA_STATE_NONE || stoppedOrError(mediaState))
		return skipClip();
	bool next = mediaState == OBS_MEDIA_STATE_ENDED;
	if (!next && inStateMs > remainingAtShowMs + EndOverrunMs) {
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
	if (mediaState != OBS_MEDIA_STATE_PLAYING)
		return;
	const long long durationMs = obs_source_media_get_duration(mediaSource);
	const long long remainingMs = std::max(0LL, durationMs - obs_source_media_get_time(mediaSource));
	const long long leadMs = leadFor(currentFile);
	setInterval(nearClipChange(remainingMs, leadMs) ? kFastTickMs : kTickMs);
	if (durationMs >= MinClipMs && remainingMs <= leadMs && !nextPrepared) {
		nextPrepared = true;
		if (index + 1 >= static_cast<int>(playlist.size()))
			dirty = true;
		loadNext(true);
	}
}

void Recap::tickLooping(obs_source_t *mediaSource, long long inStateMs, int mediaState)
{
	if (mediaState == OBS_MEDIA_STATE_NONE || stoppedOrError(mediaState))
		return skipClip();
	if (mediaState == OBS_MEDIA_STATE_ENDED || inStateMs >= SeekLimitMs)
		return loadNext(false);
	const long long mediaMs = obs_source_media_get_time(mediaSource);
	// The same file sought back to its start: shown again once the time runs on from there.
	if (mediaState != OBS_MEDIA_STATE_PLAYING || mediaMs < 0 || mediaMs >= seekOriginMs - SoughtBackMs)
		lastMediaMs = -1;
	else if (lastMediaMs >= 0 && mediaMs > lastMediaMs)
		showClip(obs_source_media_get_duration(mediaSource), mediaMs);
	else
		lastMediaMs = mediaMs;
}

void Recap::showClip(long long durationMs, long long mediaMs)
{
	remainingAtShowMs = std::max(0LL, durationMs - mediaMs);
	OBSSourceAutoRelease textSource = liveSourceOf(text);
	setRecapText(textSource, currentMemo);
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
	skipped.insert(recapFileKey(currentFile));
	pluginLog(LOG_WARNING, "おさらい: 動画が短すぎるか、開けないため飛ばしました（%s）",
		  fileNameOf(toUtf8(currentFile)).c_str());
	restoreHiddenItems();
	setState(State::Idle);
	setInterval(kTickMs);
	loadNext(false);
}

// Takes the next playable item: sought back in place when it is the clip on screen (inPlace: only
// then), else loaded hidden until its last seconds are reached.
void Recap::loadNext(bool inPlace)
{
	if (dirty)
		rebuildPlaylist();
	if (playlist.empty()) {
		empty = true;
		unload();
		return;
	}
	OBSSourceAutoRelease mediaSource = liveSourceByName(mediaName);
	OBSSourceAutoRelease textSource = liveSourceByName(textName);
	if (!isMediaSource(mediaSource) || !isTextSource(textSource)) {
		unload();
		return;
	}
	OBSSourceAutoRelease mediaInUse = liveSourceOf(media);
	OBSSourceAutoRelease textInUse = liveSourceOf(text);
	const int mediaState = obs_source_media_get_state(mediaSource);
	const int next = nextPlayable();
	if (next < 0) {
		empty = true;
		unload();
		return;
	}
	const Item &item = playlist[next];
	const bool sameFile = mediaInUse && mediaInUse.Get() == mediaSource.Get() && !currentFile.isEmpty() &&
			      recapFileKey(currentFile) == recapFileKey(item.path);
	if (inPlace && !(sameFile && state_ == State::Showing && mediaState == OBS_MEDIA_STATE_PLAYING))
		return;

	if (textInUse.Get() != textSource.Get() || item.memo != currentMemo)
		setRecapText(textSource, QString());
	media = obs_source_get_weak_source(mediaSource);
	text = obs_source_get_weak_source(textSource);
	index = next;
	currentFile = item.path;
	currentMemo = item.memo;
	empty = false;

	if (inPlace)
		return loopInPlace(mediaSource);
	if (sameFile && mediaState == OBS_MEDIA_STATE_ENDED) {
		const long long leadMs = leads.learnTooLate(recapFileKey(currentFile));
		pluginLog(LOG_INFO, "おさらい: 飛び戻りが間に合わなかったため、次から残り %lld ms で戻ります（%s）",
			  leadMs, fileNameOf(toUtf8(currentFile)).c_str());
	}
	loadHidden(mediaSource);
}

// The index after the current one (wrapping) whose entry still has its clip on disk and that was
// not skipped; -1 when none is left.
int Recap::nextPlayable()
{
	Session *session = sessions.findSession(QString::fromStdString(sessionId));
	const int size = static_cast<int>(playlist.size());
	for (int k = 0; k < size; ++k) {
		const int candidate = (index + 1 + k) % size;
		Item &item = playlist[candidate];
		if (refreshRecapItem(sessions, session, item) && QFileInfo(item.path).isFile() &&
		    !skipped.count(recapFileKey(item.path)))
			return candidate;
	}
	return -1;
}

void Recap::loopInPlace(obs_source_t *mediaSource)
{
	hook.reset();
	startMs = startFor(obs_source_media_get_duration(mediaSource));
	seekOriginMs = obs_source_media_get_time(mediaSource);
	lastMediaMs = -1;
	obs_source_media_set_time(mediaSource, startMs);
	setState(State::Looping);
	phaseClock.restart();
	setInterval(kFastTickMs);
	emit stateChanged();
}

void Recap::loadHidden(obs_source_t *mediaSource)
{
	OBSDataAutoRelease data = clipSettings(mediaSource, currentFile, 100);
	const ProbeResult known = durationOf(currentFile);
	startMs = known.valid ? startFor(known.ms) : 0;
	hook.arm(mediaSource, currentFile, known.valid ? startMs : -1);
	const bool hidNow = hideMediaItems(mediaSource);
	setState(State::Loading);
	setInterval(hidNow ? kFastTickMs : kTickMs);
	phaseClock.restart();
	obs_source_update(mediaSource, data);
	emit stateChanged();
}

// True when items were hidden now (while they load, the picture of the last clip must not show).
bool Recap::hideMediaItems(obs_source_t *mediaSource)
{
	OBSSourceAutoRelease sceneSource = liveSourceByName(sceneName);
	obs_scene_t *scene = sceneSource ? obs_scene_from_source(sceneSource) : nullptr;
	if (!scene)
		return false;
	std::vector<OBSSceneItemAutoRelease> hidden = hideItemsNow(scene, mediaSource);
	for (OBSSceneItemAutoRelease &item : hidden)
		hiddenItems.push_back(std::move(item));
	return !hidden.empty();
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
	hook.reset();
	if (OBSSourceAutoRelease mediaSource = liveSourceOf(media))
		stopAndUnloadMedia(mediaSource);
	OBSSourceAutoRelease textSource = liveSourceOf(text);
	setRecapText(textSource, QString());
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

ProbeResult Recap::durationOf(const QString &file)
{
	bool freshlyProbed = false;
	const ProbeResult known = lengths.lengthOf(recapFileKey(file), file, freshlyProbed);
	if (freshlyProbed && known.valid)
		pluginLog(LOG_INFO, "おさらい: ファイルから読んだ長さ %lld ms（%s）", known.ms,
			  fileNameOf(toUtf8(file)).c_str());
	return known;
}

void Recap::rebuildPlaylist()
{
	RecapPlaylist chosen = chooseRecapPlaylist(sessions);
	if (chosen.sessionId != sessionId || !sameItems(chosen.items, playlist)) {
		playlist = std::move(chosen.items);
		sessionId = std::move(chosen.sessionId);
		skipped.clear();
		index = -1;
		empty = false;
		emit stateChanged();
	}
	dirty = false;
}
