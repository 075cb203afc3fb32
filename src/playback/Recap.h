#pragma once

#include "playback/PlayerSupport.h"
#include "playback/RecapPlaylist.h"

#include <obs.hpp>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <set>
#include <string>
#include <vector>

struct RecapStatus {
	bool running = false;
	bool empty = true;
	QString sessionId;
	int count = 0;
	int index = 0;
	QString currentFile;
	QString currentMemo;
};

// Plays the clips of the latest finished session, each with its memo, while the recap scene is live.
class Recap : public QObject {
	Q_OBJECT

public:
	// Loading: the clip opens hidden; Seeking: jumped to its last seconds; Landing: the jump took
	// effect, waiting for the picture; Showing: on screen; Looping: the same clip sought back in place.
	enum class State { Idle, Loading, Seeking, Landing, Showing, Looping };

	using Item = RecapItem;

	explicit Recap(RecapSessions &sessions, QObject *parent = nullptr);
	~Recap() override;

	void start();
	void reset();
	RecapStatus status() const;
	const std::vector<Item> &playlistItems() const { return playlist; }
	bool isLoaded(const QString &path) const;
	void markDirty() { dirty = true; }

	static bool validateRecapNames(QString *message = nullptr);

	// Learned prefetch lead for a clip (700 ms until a prefetch came too late).
	long long leadFor(const QString &path) const;

signals:
	void stateChanged();
	void clipStarted(const QString &file, const QString &memo, int index, int count);

private:
	void onTick();
	bool sceneIsLive() const;
	void tickState();
	// One function per state: inStateMs is the time spent in the state, mediaState the source's.
	void tickLoading(obs_source_t *mediaSource, long long inStateMs, int mediaState);
	void tickSeeking(obs_source_t *mediaSource, long long inStateMs, int mediaState);
	void tickLanding(obs_source_t *mediaSource, long long inStateMs, int mediaState);
	void tickShowing(obs_source_t *mediaSource, long long inStateMs, int mediaState);
	void tickLooping(obs_source_t *mediaSource, long long inStateMs, int mediaState);
	void goLanding(long long mediaMs);
	void loadNext(bool inPlace);
	int nextPlayable();
	void loopInPlace(obs_source_t *mediaSource);
	void loadHidden(obs_source_t *mediaSource);
	bool hideMediaItems(obs_source_t *mediaSource);
	void skipClip();
	void showClip(long long durationMs, long long mediaMs);
	void unload();
	void rebuildPlaylist();
	void setInterval(int ms);
	void setState(State next);
	void restoreHiddenItems();
	long long startFor(long long durationMs) const;
	ProbeResult durationOf(const QString &file);
	bool copyNamesChanged() const;
	void copyNames();

	QTimer tick;
	QElapsedTimer phaseClock;
	State state_ = State::Idle;
	OBSWeakSourceAutoRelease media;
	OBSWeakSourceAutoRelease text;
	MediaStartHook hook;
	std::string sessionId;
	std::vector<Item> playlist;
	ClipLengths lengths;
	LeadLearner leads;
	std::set<QString> skipped;
	std::vector<OBSSceneItemAutoRelease> hiddenItems;
	std::string sceneName, mediaName, textName;
	QString currentFile, currentMemo;
	int index = -1;
	int seconds = 15;
	long long startMs = 0;
	long long seekOriginMs = 0;
	long long landedMediaMs = 0;
	long long lastMediaMs = -1;
	long long remainingAtShowMs = 0;
	bool nextPrepared = false;
	bool live = false;
	bool empty = false;
	bool dirty = true;
	bool connected = false;
	RecapSessions &sessions;
};
