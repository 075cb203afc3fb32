#include "playback/InstantReplay.h"

#include "config/Settings.h"
#include "util/ModuleCore.h"
#include "util/ObsSources.h"
#include "util/Paths.h"
#include "util/Utf8.h"
#include "playback/MediaTiming.h"
#include "playback/ReplayScene.h"
#include "playback/VantorTrigger.h"

#include <util/platform.h>

#include <algorithm>

using namespace MediaTiming;

namespace {
// A shown replay is watched at about the frame rate, so a repeat's seek back is posted in time.
constexpr int kTickMs = 40;
// Until the scene is shown every wait is on the road to the screen: look more often then.
constexpr int kFastTickMs = 10;
// Hiding waits this much past the longest hide transition, so its last frame is drawn before unload.
constexpr long long kHideMarginMs = 150;
// A hidden repeat that has not come back by then is given up rather than leave the scene empty.
constexpr long long kRecoveryLimitMs = 2000;
// A growing file is read on at its end; the wait for more ends the file when the writer has been quiet
// this long. The media source's reader cannot be stopped while it waits: unloading the file then
// holds OBS's video thread until the wait ends, so it is kept short and waited out before the unload.
// Its opening looks at no more than half a second of it, or it would wait for more to come.
constexpr const char *kFollowOptions = "follow=1 rw_timeout=500000 analyzeduration=500000 probesize=1000000";
// A growing file starts within tens of ms; one that has not by then is left for the saved clip.
constexpr long long kGrowStartLimitMs = 1500;
// How long a hidden growing file is given to let its reader end by itself.
constexpr long long kReaderEndLimitMs = 3000;
// A growing file whose end never comes is given up after this long shown.
constexpr long long kGrowLimitMs = 20000;
// The end of a grown file is reached within a frame of its length, or once the picture stood still
// this long at normal speed.
constexpr long long kEndSlackMs = 40, kStillEndMs = 500;

bool stoppedLike(int mediaState)
{
	return mediaState == OBS_MEDIA_STATE_NONE || mediaState == OBS_MEDIA_STATE_STOPPED ||
	       mediaState == OBS_MEDIA_STATE_ERROR;
}

long long nowNs()
{
	return static_cast<long long>(os_gettime_ns());
}
} // namespace

InstantReplay::InstantReplay(QObject *parent) : QObject(parent)
{
	tick.setInterval(kTickMs);
	connect(&tick, &QTimer::timeout, this, &InstantReplay::onTick);
}

InstantReplay::~InstantReplay() = default;

void InstantReplay::setState(State next)
{
	if (state_ == next)
		return;
	state_ = next;
	emit stateChanged();
}

bool InstantReplay::play(const QString &file, long long id, long long saveReportedNs)
{
	return begin(file, id, saveReportedNs, false);
}

bool InstantReplay::playGrowing(const QString &file, long long id)
{
	return begin(file, id, 0, true);
}

void InstantReplay::growingEnds(const QString &file, long long lengthMs)
{
	if (!growing || !isLoaded(file))
		return;
	grownMs = std::max(0LL, lengthMs);
	plannedMs = -1; // planned again from the length now known
}

bool InstantReplay::begin(const QString &file, long long id, long long saveReportedNs, bool grows)
{
	if (file.isEmpty())
		return false;
	const long long playNs = nowNs();

	if (state_ != State::Idle) {
		setReplayVisible(false);
		endNow();
	}
	growing = grows;
	grownMs = -1;
	stillMs = -1;

	problem_ = Problem::NoProblem;
	OBSSourceAutoRelease src = usableReplayMedia();
	if (!src) {
		emit stateChanged();
		return false;
	}

	const Settings &s = settings();
	speedPercent = std::clamp(s.replay_speed, SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax);
	OBSDataAutoRelease data = playSettings(src, file);
	obs_source_update(src, data);

	media = obs_source_get_weak_source(src);
	path = file;
	entryId = id;
	repeatsTotal = repeatsLeft =
	    std::clamp(s.replay_repeat, SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax);
	repeatStep = RepeatStep::None;
	vantorStartName = s.vantor_start.toUtf8().toStdString();
	vantorEndName = s.vantor_end.toUtf8().toStdString();
	startTriggerFired = false;
	seenPlaying = false;
	stages = Stages{};
	stages.play = playNs;
	stages.saved = saveReportedNs > 0 ? saveReportedNs : playNs;

	phaseClock.restart();
	setState(State::Loading);
	tick.start(kFastTickMs);
	pluginLog(LOG_INFO, "replay: loading %s", fileNameOf(toUtf8(file)).c_str());
	return true;
}

OBSSourceAutoRelease InstantReplay::usableReplayMedia()
{
	OBSSourceAutoRelease src = liveSourceByName(settings().replay_media);
	if (!src) {
		problem_ = Problem::MediaNotFound;
		pluginLog(LOG_WARNING, "replay: media source not found");
	} else if (!isMediaSource(src)) {
		problem_ = Problem::NotMediaSource;
		pluginLog(LOG_WARNING, "replay: the replay source is not a media source");
	} else if (replayPlacementCount() == 0) {
		problem_ = Problem::SceneNotPlaced;
		pluginLog(LOG_WARNING, "replay: the replay scene is not in any scene");
	} else {
		return src;
	}
	return nullptr;
}

OBSDataAutoRelease InstantReplay::playSettings(obs_source_t *src, const QString &file) const
{
	OBSDataAutoRelease data = clipSettings(src, file, speedPercent);
	obs_data_set_string(data, "ffmpeg_options", growing ? kFollowOptions : "");
	return data;
}

long long InstantReplay::lengthOf(obs_source_t *src) const
{
	return growing ? grownMs : obs_source_media_get_duration(src);
}

bool InstantReplay::readerEnded(obs_source_t *src)
{
	const int mediaState = obs_source_media_get_state(src);
	return mediaState == OBS_MEDIA_STATE_ENDED || stoppedLike(mediaState);
}

bool InstantReplay::grownToItsEnd(long long mediaMs)
{
	if (grownMs < 0)
		return false;
	if (mediaMs >= grownMs - kEndSlackMs)
		return true;
	if (mediaMs != stillMs) {
		stillMs = mediaMs;
		stillClock.restart();
		return false;
	}
	return stillClock.elapsed() >= kStillEndMs * 100 / speedPercent;
}

void InstantReplay::unload()
{
	if (OBSSourceAutoRelease src = obs_weak_source_get_source(media))
		stopAndUnloadMedia(src);
	media = nullptr;
	path.clear();
	entryId = 0;
	repeatStep = RepeatStep::None;
	landedAtPhaseMs = -1;
	if (startTriggerFired) {
		startTriggerFired = false;
		fireVantorTrigger(vantorEndName.c_str());
	}
}

void InstantReplay::endNow()
{
	const QString oldPath = path;
	const long long oldId = entryId;
	unload();
	tick.stop();
	setState(State::Idle);
	emit finished(oldPath, oldId);
}

void InstantReplay::startHiding()
{
	hideWaitMs = static_cast<long long>(setReplayVisible(false)) + kHideMarginMs;
	phaseClock.restart();
	setState(State::Hiding);
}

void InstantReplay::stop()
{
	if (state_ == State::Loading || state_ == State::Seeking)
		endNow();
	else if (state_ == State::Showing)
		startHiding();
}

void InstantReplay::abort()
{
	tick.stop();
	leads.clear();
	if (state_ == State::Idle) {
		media = nullptr;
		return;
	}
	const QString oldPath = path;
	const long long oldId = entryId;
	if (state_ == State::Showing)
		setReplayVisible(false);
	unload();
	setState(State::Idle);
	emit finished(oldPath, oldId);
}

bool InstantReplay::isLoaded(const QString &file) const
{
	return state_ != State::Idle && !file.isEmpty() && normalizedPathKey(file) == normalizedPathKey(path);
}

void InstantReplay::clearProblem()
{
	problem_ = Problem::NoProblem;
	emit stateChanged();
}

long long InstantReplay::leadFor(const QString &file) const
{
	return leads.leadFor(normalizedPathKey(file));
}

void InstantReplay::onTick()
{
	if (state_ == State::Idle) {
		tick.stop();
		return;
	}
	OBSSourceAutoRelease src = liveSourceOf(media);
	if (!src) {
		abort();
		return;
	}
	const long long inStateMs = phaseClock.elapsed();
	switch (state_) {
	case State::Loading:
		tickLoading(src, inStateMs);
		break;
	case State::Seeking:
		tickSeeking(src, inStateMs);
		break;
	case State::Showing:
		tickShowing(src, inStateMs);
		break;
	case State::Hiding:
		if (inStateMs >= hideWaitMs &&
		    (!growing || readerEnded(src) || inStateMs >= hideWaitMs + kReaderEndLimitMs))
			finishHiding();
		break;
	default:
		break;
	}
}

void InstantReplay::finishHiding()
{
	pluginLog(LOG_INFO, "replay: done");
	endNow();
}

void InstantReplay::tickLoading(obs_source_t *src, long long inStateMs)
{
	const int mediaState = obs_source_media_get_state(src);
	// A growing file has no length yet: it starts where the replay starts.
	const long long durationMs = growing ? 0 : obs_source_media_get_duration(src);
	if (mediaState == OBS_MEDIA_STATE_PLAYING && !seenPlaying) {
		seenPlaying = true;
		stages.playing = nowNs();
	}
	if (durationMs > 0 && !stages.opened)
		stages.opened = nowNs();
	const bool ready = seenPlaying || inStateMs >= StopSettleMs;

	if ((durationMs >= 1 && durationMs < MinClipMs) ||
	    (ready && (mediaState == OBS_MEDIA_STATE_STOPPED || mediaState == OBS_MEDIA_STATE_ENDED))) {
		problem_ = Problem::TooShort;
		pluginLog(LOG_INFO, "replay: too short (%lld ms, state %d)", durationMs, mediaState);
		endNow();
	} else if (mediaState == OBS_MEDIA_STATE_PLAYING && (durationMs > 0 || growing)) {
		startMs = std::max(0LL, durationMs - static_cast<long long>(settings().replay_seconds) * 1000);
		seekOriginMs = obs_source_media_get_time(src);
		watchSeek(seekOriginMs);
		if (startMs > 0)
			obs_source_media_set_time(src, startMs);
		stages.seek = nowNs();
		pluginLog(LOG_INFO, "replay: length %lld ms, from %lld ms, %d%%", durationMs, startMs,
			  settings().replay_speed);
		landedAtPhaseMs = -1;
		phaseClock.restart();
		setState(State::Seeking);
	} else if (mediaState == OBS_MEDIA_STATE_ERROR || inStateMs > OpenLimitMs) {
		problem_ = Problem::OpenFailed;
		pluginLog(LOG_WARNING, "replay: could not open the clip (state %d)", mediaState);
		endNow();
	}
}

void InstantReplay::tickSeeking(obs_source_t *src, long long inStateMs)
{
	const long long mediaMs = obs_source_media_get_time(src);
	if (landedAtPhaseMs < 0) {
		// Without a seek there is nothing to land. Media time beyond where playing on from the seek
		// origin could have got by now can only come from the seek, so that needs no settling time.
		const bool taken = seekTaken(mediaMs) || startMs == 0;
		const long long reachable = seekOriginMs + SeekSlackMs + inStateMs * speedPercent / 100;
		const bool sure = startMs - SeekToleranceMs > reachable && mediaMs >= startMs - SeekToleranceMs;
		if (!taken && !sure && !seekLanded(inStateMs, mediaMs, startMs, seekOriginMs))
			return;
		landedAtPhaseMs = inStateMs;
		landedMediaMs = mediaMs;
		stages.landed = nowNs();
	}
	// A growing file is shown only once its pictures run: playing is reported before it is opened.
	if (growing && mediaMs < LandMoveMs) {
		if (inStateMs > kGrowStartLimitMs && problem_ == Problem::NoProblem) {
			problem_ = Problem::OpenFailed;
			pluginLog(LOG_WARNING, "replay: the growing file did not start");
		}
		// Its reader may be waiting for more: the unload waits until it gave up.
		if (problem_ != Problem::NoProblem &&
		    (readerEnded(src) || inStateMs > kGrowStartLimitMs + kReaderEndLimitMs))
			endNow();
		return;
	}
	if (mediaMs - landedMediaMs < LandMoveMs && inStateMs - landedAtPhaseMs < LandLimitMs)
		return;

	const long long durationMs = lengthOf(src);
	plannedMs = durationMs < 0 ? -1 : (std::max(0LL, durationMs - mediaMs) * 100 / speedPercent) * repeatsLeft;
	setReplayVisible(true);
	phaseClock.restart();
	tick.setInterval(kTickMs);
	setState(State::Showing);
	pluginLog(LOG_INFO, "replay: showing (at %lld ms)", mediaMs);
	stages.shown = nowNs();
	logStages();
	startTriggerFired = true;
	fireVantorTrigger(vantorStartName.c_str());
	emit started(path, entryId);
}

void InstantReplay::watchSeek(long long originMs)
{
	seekWatchMs = originMs;
	seekRises = 0;
	seekDropped = false;
}

// OBS's media source tells no end of a seek. Its media time is the end of the last frame decoded,
// which only grows while playing on; the seek empties the decoders (time 0) and decoding goes on
// from the keyframe before the target. A posted seek is taken before the next frame is decoded, so
// until then the time can rise at most twice (one video and one audio frame already on the way, or
// the first frames of a file still opening). A fall, or a third rise, is the seek taken.
bool InstantReplay::seekTaken(long long mediaMs)
{
	if (mediaMs < seekWatchMs)
		seekDropped = true;
	else if (mediaMs > seekWatchMs)
		++seekRises;
	seekWatchMs = mediaMs;
	return (seekDropped && mediaMs > 0) || seekRises >= 3;
}

void InstantReplay::logStages() const
{
	const auto at = [this](long long ns) { return ns > 0 ? (ns - stages.saved) / 1000000 : -1LL; };
	pluginLog(LOG_DEBUG,
		  "replay: stages (ms after the save) play %lld, opened %lld, playing %lld, seek %lld, "
		  "landed %lld, shown %lld",
		  at(stages.play), at(stages.opened), at(stages.playing), at(stages.seek), at(stages.landed),
		  at(stages.shown));
}

void InstantReplay::tickShowing(obs_source_t *src, long long inStateMs)
{
	const int mediaState = obs_source_media_get_state(src);
	const long long mediaMs = growing ? obs_source_media_get_time(src) : 0;
	if (growing && plannedMs < 0 && grownMs >= 0)
		plannedMs =
		    inStateMs + (std::max(0LL, grownMs - mediaMs) + (repeatsLeft - 1) * grownMs) * 100 / speedPercent;
	// A growing file's replay never times out before its end is known.
	const long long deadline = plannedMs < 0 ? kGrowLimitMs : plannedMs + repeatsLeft * EndOverrunMs;
	bool repeatFailed = false;

	if (inStateMs <= deadline && repeatStep != RepeatStep::None) {
		if (repeatStepRun(src) == StepResult::Busy)
			return;
		repeatFailed = true;
	} else if (inStateMs <= deadline && repeatsLeft > 1 && startRepeatWhenDue(src, mediaState)) {
		return;
	}

	const char *reason = nullptr;
	if (repeatFailed)
		reason = "repeat failed";
	else if (mediaState == OBS_MEDIA_STATE_ENDED || stoppedLike(mediaState))
		reason = "ended";
	else if (growing && repeatsLeft == 1 && repeatStep == RepeatStep::None && grownToItsEnd(mediaMs))
		reason = "end of the replay";
	else if (inStateMs > deadline)
		reason = "timeout";
	if (!reason)
		return;
	startHiding();
	pluginLog(LOG_INFO, "replay: hiding after %lld ms (%s)", inStateMs, reason);
}

// A pass ends: seeks back while shown once the lead before the end is reached (recovers when the end
// came first). True when a repeat step began.
bool InstantReplay::startRepeatWhenDue(obs_source_t *src, int mediaState)
{
	if (mediaState == OBS_MEDIA_STATE_ENDED) {
		startRecovery(src, true);
		return true;
	}
	const long long durationMs = lengthOf(src);
	const long long mediaMs = obs_source_media_get_time(src);
	const long long remainingMs = std::max(0LL, durationMs - mediaMs);
	if (mediaState != OBS_MEDIA_STATE_PLAYING || durationMs < MinClipMs || remainingMs > leadFor(path))
		return false;
	seekOriginMs = mediaMs;
	lastRepeatMediaMs = -1;
	enterStep(RepeatStep::Seeking);
	obs_source_media_set_time(src, startMs);
	return true;
}

void InstantReplay::enterStep(RepeatStep step)
{
	repeatStep = step;
	repeatStepClock.restart();
}

InstantReplay::StepResult InstantReplay::repeatStepRun(obs_source_t *src)
{
	const int mediaState = obs_source_media_get_state(src);
	const long long inStepMs = repeatStepClock.elapsed();
	const long long mediaMs = obs_source_media_get_time(src);

	if (repeatStep != RepeatStep::Seeking && repeatRecoveryClock.isValid() &&
	    repeatRecoveryClock.elapsed() >= kRecoveryLimitMs) {
		pluginLog(LOG_WARNING, "replay: repeat recovery timed out while hidden");
		return StepResult::Failed;
	}
	switch (repeatStep) {
	case RepeatStep::Seeking:
		return stepSeeking(src, mediaState, inStepMs, mediaMs);
	case RepeatStep::Stopping:
		return stepStopping(src, mediaState);
	case RepeatStep::Reloading:
		return stepReloading(src, mediaState, inStepMs, mediaMs);
	case RepeatStep::Landing:
		return stepLanding(mediaState, inStepMs, mediaMs);
	case RepeatStep::Settling:
		return stepSettling(src, mediaState, inStepMs, mediaMs);
	default:
		return StepResult::Failed;
	}
}

// Sought back while shown: the pass counts once the time runs on from the start again.
InstantReplay::StepResult InstantReplay::stepSeeking(obs_source_t *src, int mediaState, long long inStepMs,
						     long long mediaMs)
{
	if (stoppedLike(mediaState))
		return StepResult::Failed;
	if (mediaState == OBS_MEDIA_STATE_ENDED || inStepMs >= SeekLimitMs)
		startRecovery(src, mediaState == OBS_MEDIA_STATE_ENDED);
	else if (mediaState != OBS_MEDIA_STATE_PLAYING || mediaMs < 0 || mediaMs >= seekOriginMs - SoughtBackMs)
		lastRepeatMediaMs = -1;
	else if (lastRepeatMediaMs >= 0 && mediaMs > lastRepeatMediaMs)
		countRepeat(src, mediaMs);
	else
		lastRepeatMediaMs = mediaMs;
	return StepResult::Busy;
}

InstantReplay::StepResult InstantReplay::stepStopping(obs_source_t *src, int mediaState)
{
	if (mediaState == OBS_MEDIA_STATE_ERROR || mediaState == OBS_MEDIA_STATE_NONE)
		return StepResult::Failed;
	if (mediaState == OBS_MEDIA_STATE_STOPPED) {
		OBSDataAutoRelease data = playSettings(src, path);
		obs_source_update(src, data);
		enterStep(RepeatStep::Reloading);
	}
	return StepResult::Busy;
}

InstantReplay::StepResult InstantReplay::stepReloading(obs_source_t *src, int mediaState, long long inStepMs,
						       long long mediaMs)
{
	if (mediaState == OBS_MEDIA_STATE_ERROR)
		return StepResult::Failed;
	if (inStepMs >= StopSettleMs && (mediaState == OBS_MEDIA_STATE_ENDED || stoppedLike(mediaState)))
		return StepResult::Failed;
	if (mediaState == OBS_MEDIA_STATE_PLAYING && (growing || obs_source_media_get_duration(src) > 0)) {
		seekOriginMs = mediaMs;
		watchSeek(mediaMs);
		if (startMs > 0)
			obs_source_media_set_time(src, startMs);
		enterStep(RepeatStep::Landing);
	}
	return StepResult::Busy;
}

InstantReplay::StepResult InstantReplay::stepLanding(int mediaState, long long inStepMs, long long mediaMs)
{
	if (stoppedLike(mediaState) || mediaState == OBS_MEDIA_STATE_ENDED)
		return StepResult::Failed;
	const bool taken = seekTaken(mediaMs) || startMs == 0;
	const bool near = startMs == 0 || mediaMs >= startMs - SeekToleranceMs ||
			  mediaMs > seekOriginMs + SeekSlackMs + inStepMs * speedPercent / 100;
	if (taken || (inStepMs >= SeekSettleMs && near) || inStepMs >= SeekLimitMs) {
		landedMediaMs = mediaMs;
		enterStep(RepeatStep::Settling);
	}
	return StepResult::Busy;
}

InstantReplay::StepResult InstantReplay::stepSettling(obs_source_t *src, int mediaState, long long inStepMs,
						      long long mediaMs)
{
	if (stoppedLike(mediaState) || mediaState == OBS_MEDIA_STATE_ENDED)
		return StepResult::Failed;
	if (mediaMs - landedMediaMs >= LandMoveMs || inStepMs >= LandLimitMs) {
		setReplayVisible(true);
		countRepeat(src, mediaMs);
	}
	return StepResult::Busy;
}

void InstantReplay::startRecovery(obs_source_t *src, bool reachedEnded)
{
	if (reachedEnded) {
		const long long leadMs = leads.learnTooLate(normalizedPathKey(path));
		pluginLog(LOG_INFO, "replay: repeat seek reached ENDED; next lead %lld ms", leadMs);
	} else {
		pluginLog(LOG_INFO, "replay: repeat seek did not arrive within 1000 ms");
	}
	setReplayVisible(false);
	obs_source_media_stop(src);
	enterStep(RepeatStep::Stopping);
	repeatRecoveryClock.restart();
}

void InstantReplay::countRepeat(obs_source_t *src, long long mediaMs)
{
	repeatsLeft -= 1;
	repeatStep = RepeatStep::None;
	const long long durationMs = lengthOf(src);
	plannedMs = phaseClock.elapsed() + (std::max(0LL, durationMs - mediaMs) * 100 / speedPercent) * repeatsLeft;
	pluginLog(LOG_INFO, "replay: repeating (%d/%d)", repeatsTotal - repeatsLeft + 1, repeatsTotal);
}
