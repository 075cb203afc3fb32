#pragma once

#include "playback/ClipProbe.h"

#include <obs.hpp>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <functional>

struct Session;
struct Entry;

// Where the recap finds its sessions. The plug-in uses the Engine; tests hand in their own.
class RecapSessions {
public:
	virtual ~RecapSessions() = default;
	virtual QStringList sessionIds() = 0;
	virtual Session *findSession(const QString &id) = 0;
	virtual QString runningSessionId() = 0;
	// True when the entry's label is its own and not the default press label.
	virtual bool hasOwnLabel(const Entry &entry) = 0;
	// Calls changed on every session change and listChanged when the set of sessions changes.
	virtual void watch(QObject *receiver, std::function<void()> changed, std::function<void()> listChanged) = 0;
};

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

	struct Item {
		long long entryId = 0;
		QString path;
		QString memo;
		long long tMs = 0;
	};

	explicit Recap(RecapSessions &sessions, QObject *parent = nullptr);
	~Recap() override;

	void start();
	void reset();
	RecapStatus status() const;
	const std::vector<Item> &playlistItems() const { return playlist; }
	bool isLoaded(const QString &path) const;
	void markDirty() { dirty = true; }

	static bool validateRecapNames(QString *message = nullptr);

	// Canonical, normalised key used for the duration cache, the skip set and the leads.
	static QString fileKey(const QString &path);

	// Learned prefetch lead for a clip (700 ms until a prefetch came too late).
	long long leadFor(const QString &path) const;

signals:
	void stateChanged();
	void clipStarted(const QString &file, const QString &memo, int index, int count);

private:
	struct Duration {
		long long size = -1;
		long long mtimeMs = 0;
		ProbeResult probed;
		ProbeResult played;
	};
	struct Hook;

	void onTick();
	// One function per state; g is the time in the state, st the media state.
	void tickLoading(obs_source_t *m, long long g, int st);
	void tickSeeking(obs_source_t *m, long long g, int st);
	void tickLanding(obs_source_t *m, long long g, int st);
	void tickShowing(obs_source_t *m, long long g, int st);
	void tickLooping(obs_source_t *m, long long g, int st);
	void goLanding(long long t);
	void setItemsVisible(obs_source_t *media, bool visible);
	void loadNext(bool inPlace);
	void skipClip();
	void showClip(long long dur, long long t);
	void unload();
	void rebuildPlaylist();
	void setInterval(int ms);
	void setState(State s);
	void armHook(obs_source_t *src, const QString &file, long long target);
	void resetHook();
	void restoreHiddenItems();
	ProbeResult durationOf(const QString &file);
	void recordPlayed(const QString &file, long long ms);
	bool copyNamesChanged() const;
	void copyNames();

	QTimer tick;
	QElapsedTimer phaseClock;
	State state_ = State::Idle;
	OBSWeakSourceAutoRelease media;
	OBSWeakSourceAutoRelease text;
	OBSSourceAutoRelease heldMedia;
	std::shared_ptr<Hook> hook;
	std::string sessionId;
	std::vector<Item> playlist;
	std::map<QString, Duration> durations;
	std::map<QString, long long> leadByFile;
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
