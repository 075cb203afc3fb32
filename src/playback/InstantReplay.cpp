#include "playback/InstantReplay.h"

#include "config/Settings.h"
#include "util/Paths.h"
#include "util/ModuleCore.h"
#include "util/Utf8.h"
#include "playback/MediaTiming.h"
#include "playback/ReplayScene.h"
#include "playback/VantorTrigger.h"

#include <util/platform.h>

#include <algorithm>
#include <cstring>

using namespace MediaTiming;

namespace {
constexpr int kTickMs = 40;
// Until the scene is shown every wait is on the road to the screen: look more often then.
constexpr int kFastTickMs = 10;

bool stoppedLike(int st)
{
	return st == OBS_MEDIA_STATE_NONE || st == OBS_MEDIA_STATE_STOPPED || st == OBS_MEDIA_STATE_ERROR;
}

} // namespace

InstantReplay::InstantReplay(QObject *parent) : QObject(parent)
{
	tick.setInterval(kTickMs);
	connect(&tick, &QTimer::timeout, this, &InstantReplay::onTick);
}

InstantReplay::~InstantReplay() = default;

void InstantReplay::setState(State s)
{
	if (state_ == s)
		return;
	state_ = s;
	emit stateChanged();
}

void InstantReplay::fillPlaySettings(obs_source_t *src, obs_data_t *data, const QString &file)
{
	setMediaPlayOnce(data);
	assignLocalFile(src, data, file);
	obs_data_set_int(data, "speed_percent", speedPercent);
}

bool InstantReplay::play(const QString &file, long long id, long long saveReportedNs)
{
	if (file.isEmpty())
		return false;
	const long long playNs = static_cast<long long>(os_gettime_ns());

	if (state_ != Idle) {
		const QString oldPath = path;
		const long long oldId = entryId;
		setReplayVisible(false);
		unload();
		tick.stop();
		setState(Idle);
		emit finished(oldPath, oldId);
	}

	problem_ = NoProblem;
	const Settings &s = settings();
	OBSSourceAutoRelease src = sourceByName(s.replay_media.toUtf8().constData());
	if (!src) {
		problem_ = MediaNotFound;
		pluginLog(LOG_WARNING, "replay: media source not found");
		emit stateChanged();
		return false;
	}
	const char *id_ = obs_source_get_unversioned_id(src);
	if (!id_ || std::strcmp(id_, "ffmpeg_source") != 0) {
		problem_ = NotMediaSource;
		pluginLog(LOG_WARNING, "replay: the replay source is not a media source");
		emit stateChanged();
		return false;
	}
	if (replayPlacementCount() == 0) {
		problem_ = SceneNotPlaced;
		pluginLog(LOG_WARNING, "replay: the replay scene is not in any scene");
		emit stateChanged();
		return false;
	}

	speedPercent = std::clamp(s.replay_speed, 10, 200);
	OBSDataAutoRelease data = obs_data_create();
	fillPlaySettings(src, data, file);
	obs_source_update(src, data);

	media = obs_source_get_weak_source(src);
	path = file;
	entryId = id;
	repeatsTotal = repeatsLeft = std::clamp(s.replay_repeat, 1, 3);
	repeatStep = RepeatStep::None;
	vantorStartName = s.vantor_start.toUtf8().toStdString();
	vantorEndName = s.vantor_end.toUtf8().toStdString();
	startTriggerFired = false;
	seenPlaying = false;
	stages = Stages{};
	stages.play = playNs;
	stages.saved = saveReportedNs > 0 ? saveReportedNs : playNs;

	phaseClock.restart();
	setState(Loading);
	tick.start(kFastTickMs);
	pluginLog(LOG_INFO, "replay: loading %s", fileNameOf(toUtf8(file)).c_str());
	return true;
}

void InstantReplay::unload()
{
	OBSSourceAutoRelease src = obs_weak_source_get_source(media);
	if (src) {
		obs_source_media_stop(src);
		OBSDataAutoRelease data = obs_data_create();
		assignLocalFile(src, data, QString());
		obs_source_update(src, data);
	}
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
	setState(Idle);
	emit finished(oldPath, oldId);
}

void InstantReplay::startHiding()
{
	hideWaitMs = static_cast<long long>(setReplayVisible(false)) + 150;
	phaseClock.restart();
	setState(Hiding);
}

void InstantReplay::stop()
{
	if (state_ == Loading || state_ == Seeking)
		endNow();
	else if (state_ == Showing)
		startHiding();
}

void InstantReplay::abort()
{
	tick.stop();
	leadByFile.clear();
	if (state_ == Idle) {
		media = nullptr;
		return;
	}
	const QString oldPath = path;
	const long long oldId = entryId;
	if (state_ == Showing)
		setReplayVisible(false);
	unload();
	setState(Idle);
	emit finished(oldPath, oldId);
}

bool InstantReplay::isLoaded(const QString &file) const
{
	return state_ != Idle && !file.isEmpty() && normalizedPathKey(file) == normalizedPathKey(path);
}

void InstantReplay::clearProblem()
{
	problem_ = NoProblem;
	emit stateChanged();
}

long long InstantReplay::leadFor(const QString &file) const
{
	auto it = leadByFile.find(normalizedPathKey(file));
	return it == leadByFile.end() ? DefaultLeadMs : it->second;
}

void InstantReplay::onTick()
{
	if (state_ == Idle) {
		tick.stop();
		return;
	}
	OBSSourceAutoRelease src = obs_weak_source_get_source(media);
	if (!src || obs_source_removed(src)) {
		abort();
		return;
	}
	const long long o = phaseClock.elapsed();
	switch (state_) {
	case Loading:
		tickLoading(src, o);
		break;
	case Seeking:
		tickSeeking(src, o);
		break;
	case Showing:
		tickShowing(src, o);
		break;
	case Hiding:
		if (o >= hideWaitMs) {
			const QString oldPath = path;
			const long long oldId = entryId;
			unload();
			tick.stop();
			setState(Idle);
			pluginLog(LOG_INFO, "replay: done");
			emit finished(oldPath, oldId);
		}
		break;
	default:
		break;
	}
}

void InstantReplay::tickLoading(obs_source_t *src, long long o)
{
	const int st = obs_source_media_get_state(src);
	const long long dur = obs_source_media_get_duration(src);
	if (st == OBS_MEDIA_STATE_PLAYING && !seenPlaying) {
		seenPlaying = true;
		stages.playing = static_cast<long long>(os_gettime_ns());
	}
	if (dur > 0 && !stages.opened)
		stages.opened = static_cast<long long>(os_gettime_ns());
	const bool ready = seenPlaying || o >= StopSettleMs;

	if ((dur >= 1 && dur < MinClipMs) ||
	    (ready && (st == OBS_MEDIA_STATE_STOPPED || st == OBS_MEDIA_STATE_ENDED))) {
		problem_ = TooShort;
		pluginLog(LOG_INFO, "replay: too short (%lld ms, state %d)", dur, st);
		endNow();
	} else if (st == OBS_MEDIA_STATE_PLAYING && dur > 0) {
		startMs = std::max(0LL, dur - static_cast<long long>(settings().replay_seconds) * 1000);
		seekOriginMs = obs_source_media_get_time(src);
		watchSeek(seekOriginMs);
		if (startMs > 0)
			obs_source_media_set_time(src, startMs);
		stages.seek = static_cast<long long>(os_gettime_ns());
		pluginLog(LOG_INFO, "replay: length %lld ms, from %lld ms, %d%%", dur, startMs,
			  settings().replay_speed);
		landedAtPhaseMs = -1;
		phaseClock.restart();
		setState(Seeking);
	} else if (st == OBS_MEDIA_STATE_ERROR || o > OpenLimitMs) {
		problem_ = OpenFailed;
		pluginLog(LOG_WARNING, "replay: could not open the clip (state %d)", st);
		endNow();
	}
}

void InstantReplay::tickSeeking(obs_source_t *src, long long o)
{
	const long long t = obs_source_media_get_time(src);
	if (landedAtPhaseMs < 0) {
		// Without a seek there is nothing to land. Media time beyond where playing on from the seek
		// origin could have got by now can only come from the seek, so that needs no settling time.
		const bool taken = seekTaken(t) || startMs == 0;
		const long long reachable = seekOriginMs + SeekSlackMs + o * speedPercent / 100;
		const bool sure = startMs - SeekToleranceMs > reachable && t >= startMs - SeekToleranceMs;
		if (!taken && !sure && !seekLanded(o, t, startMs, seekOriginMs))
			return;
		landedAtPhaseMs = o;
		landedMediaMs = t;
		stages.landed = static_cast<long long>(os_gettime_ns());
	}
	if (t - landedMediaMs < LandMoveMs && o - landedAtPhaseMs < LandLimitMs)
		return;

	const long long dur = obs_source_media_get_duration(src);
	plannedMs = (std::max(0LL, dur - t) * 100 / speedPercent) * repeatsLeft;
	setReplayVisible(true);
	phaseClock.restart();
	tick.setInterval(kTickMs);
	setState(Showing);
	pluginLog(LOG_INFO, "replay: showing (at %lld ms)", t);
	stages.shown = static_cast<long long>(os_gettime_ns());
	logStages();
	startTriggerFired = true;
	fireVantorTrigger(vantorStartName.c_str());
	emit started(path, entryId);
}

void InstantReplay::watchSeek(long long t0)
{
	seekWatchMs = t0;
	seekRises = 0;
	seekDropped = false;
}

// OBS's media source tells no end of a seek. Its media time is the end of the last frame decoded,
// which only grows while playing on; the seek empties the decoders (time 0) and decoding goes on
// from the keyframe before the target. A posted seek is taken before the next frame is decoded, so
// until then the time can rise at most twice (one video and one audio frame already on the way, or
// the first frames of a file still opening). A fall, or a third rise, is the seek taken.
bool InstantReplay::seekTaken(long long t)
{
	if (t < seekWatchMs)
		seekDropped = true;
	else if (t > seekWatchMs)
		++seekRises;
	seekWatchMs = t;
	return (seekDropped && t > 0) || seekRises >= 3;
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

void InstantReplay::tickShowing(obs_source_t *src, long long o)
{
	const int st = obs_source_media_get_state(src);
	const long long deadline = plannedMs + repeatsLeft * EndOverrunMs;
	bool repeatFailed = false;

	if (o <= deadline && repeatStep != RepeatStep::None) {
		if (repeatStepRun(src) == StepResult::Busy)
			return;
		repeatFailed = true;
	} else if (o <= deadline && repeatsLeft > 1) {
		if (st == OBS_MEDIA_STATE_ENDED) {
			startRecovery(src, true);
			return;
		}
		const long long dur = obs_source_media_get_duration(src);
		const long long t = obs_source_media_get_time(src);
		const long long remaining = std::max(0LL, dur - t);
		if (st == OBS_MEDIA_STATE_PLAYING && dur >= MinClipMs && remaining <= leadFor(path)) {
			seekOriginMs = t;
			lastRepeatMediaMs = -1;
			repeatStep = RepeatStep::Seeking;
			repeatStepClock.restart();
			obs_source_media_set_time(src, startMs);
			return;
		}
	}

	const char *reason = nullptr;
	if (repeatFailed)
		reason = "repeat failed";
	else if (st == OBS_MEDIA_STATE_ENDED || stoppedLike(st))
		reason = "ended";
	else if (o > deadline)
		reason = "timeout";
	if (!reason)
		return;
	startHiding();
	pluginLog(LOG_INFO, "replay: hiding after %lld ms (%s)", o, reason);
}

InstantReplay::StepResult InstantReplay::repeatStepRun(obs_source_t *src)
{
	const int st = obs_source_media_get_state(src);
	const long long f = repeatStepClock.elapsed();
	const long long t = obs_source_media_get_time(src);

	if (repeatStep != RepeatStep::Seeking && repeatRecoveryClock.isValid() &&
	    repeatRecoveryClock.elapsed() >= 2000) {
		pluginLog(LOG_WARNING, "replay: repeat recovery timed out while hidden");
		return StepResult::Failed;
	}

	switch (repeatStep) {
	case RepeatStep::Seeking:
		if (stoppedLike(st))
			return StepResult::Failed;
		if (st == OBS_MEDIA_STATE_ENDED || f >= SeekLimitMs) {
			startRecovery(src, st == OBS_MEDIA_STATE_ENDED);
		} else if (st != OBS_MEDIA_STATE_PLAYING || t < 0 || t >= seekOriginMs - 100) {
			lastRepeatMediaMs = -1;
		} else if (lastRepeatMediaMs >= 0 && t > lastRepeatMediaMs) {
			countRepeat(src, t);
		} else {
			lastRepeatMediaMs = t;
		}
		return StepResult::Busy;
	case RepeatStep::Stopping:
		if (st == OBS_MEDIA_STATE_ERROR || st == OBS_MEDIA_STATE_NONE)
			return StepResult::Failed;
		if (st == OBS_MEDIA_STATE_STOPPED) {
			OBSDataAutoRelease data = obs_data_create();
			fillPlaySettings(src, data, path);
			obs_source_update(src, data);
			repeatStep = RepeatStep::Reloading;
			repeatStepClock.restart();
		}
		return StepResult::Busy;
	case RepeatStep::Reloading:
		if (st == OBS_MEDIA_STATE_ERROR)
			return StepResult::Failed;
		if (f >= StopSettleMs && (st == OBS_MEDIA_STATE_ENDED || stoppedLike(st)))
			return StepResult::Failed;
		if (st == OBS_MEDIA_STATE_PLAYING && obs_source_media_get_duration(src) > 0) {
			seekOriginMs = t;
			watchSeek(t);
			if (startMs > 0)
				obs_source_media_set_time(src, startMs);
			repeatStep = RepeatStep::Landing;
			repeatStepClock.restart();
		}
		return StepResult::Busy;
	case RepeatStep::Landing: {
		if (stoppedLike(st) || st == OBS_MEDIA_STATE_ENDED)
			return StepResult::Failed;
		const bool taken = seekTaken(t) || startMs == 0;
		if (taken ||
		    (f >= SeekSettleMs && (startMs == 0 || t >= startMs - SeekToleranceMs ||
					   t > seekOriginMs + SeekSlackMs + f * speedPercent / 100)) ||
		    f >= SeekLimitMs) {
			landedMediaMs = t;
			repeatStep = RepeatStep::Settling;
			repeatStepClock.restart();
		}
		return StepResult::Busy;
	}
	case RepeatStep::Settling:
		if (stoppedLike(st) || st == OBS_MEDIA_STATE_ENDED)
			return StepResult::Failed;
		if (t - landedMediaMs >= LandMoveMs || f >= LandLimitMs) {
			setReplayVisible(true);
			countRepeat(src, t);
		}
		return StepResult::Busy;
	default:
		return StepResult::Failed;
	}
}

void InstantReplay::startRecovery(obs_source_t *src, bool reachedEnded)
{
	if (reachedEnded) {
		const long long lead = std::min(leadFor(path) + 300, 2000LL);
		leadByFile[normalizedPathKey(path)] = lead;
		pluginLog(LOG_INFO, "replay: repeat seek reached ENDED; next lead %lld ms", lead);
	} else {
		pluginLog(LOG_INFO, "replay: repeat seek did not arrive within 1000 ms");
	}
	setReplayVisible(false);
	obs_source_media_stop(src);
	repeatStep = RepeatStep::Stopping;
	repeatStepClock.restart();
	repeatRecoveryClock.restart();
}

void InstantReplay::countRepeat(obs_source_t *src, long long t)
{
	repeatsLeft -= 1;
	repeatStep = RepeatStep::None;
	const long long dur = obs_source_media_get_duration(src);
	plannedMs = phaseClock.elapsed() + (std::max(0LL, dur - t) * 100 / speedPercent) * repeatsLeft;
	pluginLog(LOG_INFO, "replay: repeating (%d/%d)", repeatsTotal - repeatsLeft + 1, repeatsTotal);
}
