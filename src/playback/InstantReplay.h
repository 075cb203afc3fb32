#pragma once

#include "playback/PlayerSupport.h"

#include <obs.hpp>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <string>

// Plays one saved clip back on stream inside the replay scene: load, seek to the last seconds, show
// once playback moves, optionally repeat, hide with the scene's transition, unload.
class InstantReplay : public QObject {
	Q_OBJECT

public:
	enum class State { Idle = 0, Loading = 1, Seeking = 2, Showing = 3, Hiding = 4 };
	enum class Problem {
		NoProblem = 0,
		MediaNotFound = 1,
		NotMediaSource = 2,
		SceneNotPlaced = 3,
		OpenFailed = 4,
		TooShort = 5,
	};

	explicit InstantReplay(QObject *parent = nullptr);
	~InstantReplay() override;

	// False (nothing started) for an empty path or a failed precondition; true once the file was
	// handed to the media source. saveReportedNs: monotonic time (os_gettime_ns) at which OBS reported
	// the save, 0 when the replay was not asked for by a save; only used for the stage figures.
	bool play(const QString &path, long long entryId, long long saveReportedNs = 0);
	// A file that is still being written and starts where the replay starts: played from its start
	// while it grows, and ended at the length growingEnds gives, since the file names none.
	bool playGrowing(const QString &path, long long entryId);
	// The growing file is complete with lengthMs of media; until then its replay never ends by itself.
	void growingEnds(const QString &path, long long lengthMs);
	void stop();
	// Ends everything without waiting for transitions and forgets the learned leads.
	void abort();
	bool isLoaded(const QString &path) const;

	State state() const { return state_; }
	Problem problem() const { return problem_; }
	void clearProblem();
	// Passes planned for the clip being played (replay_repeat held to 1..3 at play).
	int repeatsPlanned() const { return repeatsTotal; }

	// Learned seek-back lead for a clip (700 ms until a repeat overshot).
	long long leadFor(const QString &path) const;

signals:
	void started(const QString &path, long long entryId);
	void finished(const QString &path, long long entryId);
	void stateChanged();

private:
	enum class StepResult { Busy, Failed };

	// A repeat seeks back while shown; when the seek misses, the clip is hidden, stopped, reloaded
	// and sought again before it is shown.
	enum class RepeatStep { None, Seeking, Stopping, Reloading, Landing, Settling };

	OBSSourceAutoRelease usableReplayMedia();
	bool begin(const QString &path, long long entryId, long long saveReportedNs, bool grows);
	OBSDataAutoRelease playSettings(obs_source_t *src, const QString &file) const;
	// The clip's length: the media source's, or for a growing file the length it ended with (-1 before).
	long long lengthOf(obs_source_t *src) const;
	// A growing file's replay that has played all there is: true once the end is reached or the
	// picture has stood still there.
	bool grownToItsEnd(long long mediaMs);
	static bool readerEnded(obs_source_t *src);
	void onTick();
	// inStateMs: time spent in the state.
	void tickLoading(obs_source_t *src, long long inStateMs);
	void tickSeeking(obs_source_t *src, long long inStateMs);
	void tickShowing(obs_source_t *src, long long inStateMs);
	void finishHiding();
	bool startRepeatWhenDue(obs_source_t *src, int mediaState);
	void enterStep(RepeatStep step);
	StepResult repeatStepRun(obs_source_t *src);
	// One function per repeat step; inStepMs: time spent in the step.
	StepResult stepSeeking(obs_source_t *src, int mediaState, long long inStepMs, long long mediaMs);
	StepResult stepStopping(obs_source_t *src, int mediaState);
	StepResult stepReloading(obs_source_t *src, int mediaState, long long inStepMs, long long mediaMs);
	StepResult stepLanding(int mediaState, long long inStepMs, long long mediaMs);
	StepResult stepSettling(obs_source_t *src, int mediaState, long long inStepMs, long long mediaMs);
	void startRecovery(obs_source_t *src, bool reachedEnded);
	void countRepeat(obs_source_t *src, long long mediaMs);
	void setState(State next);
	void unload();
	void endNow();
	void startHiding();
	void logStages() const;
	void watchSeek(long long originMs);
	bool seekTaken(long long mediaMs);

	QTimer tick;
	State state_ = State::Idle;
	Problem problem_ = Problem::NoProblem;
	OBSWeakSourceAutoRelease media;
	QString path;
	long long entryId = 0;
	QElapsedTimer phaseClock;
	bool seenPlaying = false;
	long long startMs = 0;
	long long seekOriginMs = 0;
	long long landedAtPhaseMs = -1;
	long long landedMediaMs = 0;
	// What the media time did since the last seek was posted (see seekTaken).
	long long seekWatchMs = 0;
	int seekRises = 0;
	bool seekDropped = false;
	long long plannedMs = 0;
	long long hideWaitMs = 0;
	int repeatsTotal = 1;
	int repeatsLeft = 1;
	RepeatStep repeatStep = RepeatStep::None;
	QElapsedTimer repeatStepClock;
	QElapsedTimer repeatRecoveryClock;
	long long lastRepeatMediaMs = -1;
	int speedPercent = 100;
	LeadLearner leads;
	std::string vantorStartName;
	std::string vantorEndName;
	bool startTriggerFired = false;
	bool growing = false;
	long long grownMs = -1;   // a growing file's final length; -1 while it grows
	long long stillMs = -1;   // media time last seen at a growing file's end
	QElapsedTimer stillClock; // how long it has stood there

	// Monotonic stamps (ns) of one replay's road to the screen, logged at debug level when shown.
	struct Stages {
		long long saved = 0;
		long long play = 0;
		long long opened = 0;
		long long playing = 0;
		long long seek = 0;
		long long landed = 0;
		long long shown = 0;
	} stages;
};
