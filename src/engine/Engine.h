#pragma once

#include "engine/BufferWatch.h"
#include "engine/EngineEvents.h"
#include "engine/FreshClipWatch.h"
#include "engine/Players.h"
#include "engine/RenameQueue.h"
#include "engine/SessionExports.h"
#include "engine/SessionCache.h"
#include "engine/SessionEdits.h"
#include "lists/TextFormat.h"
#include "session/Session.h"

#include <obs-frontend-api.h>
#include <obs.h>

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

// Mode of Engine::press; the numbers match the hotkey actions.
enum class PressMode { Default = 0, MarkOnly = 1, Replay = 2 };

// The one object that runs sessions, presses, marks, replay-buffer saves and clip renames.
// Lives on the UI thread; other threads post to it.
class Engine : public QObject {
	Q_OBJECT

public:
	explicit Engine(QObject *parent = nullptr);
	~Engine() override;

	// The module's single instance, created on first use and never deleted.
	static Engine *instance();

	bool isReady() const { return ready; }
	bool isStopped() const { return stopped; }

	// --- Sessions ---
	Session *currentSession();
	Session *findSession(const QString &id);
	Session *viewedSession();
	QString currentSessionId() const { return currentId; }
	QString viewedSessionId() const { return viewedId; }
	QStringList sessionIds();
	void viewSession(const QString &id);
	bool removeSession(const QString &id);
	long long offsetNow() const;
	bool startFreeSession();
	bool endFreeSession();

	// An OBS frontend event the Engine follows by itself: outputs, the scene and the replay buffer;
	// false for the others.
	bool followFrontendEvent(enum obs_frontend_event event);
	void onFinishedLoading();
	void shutdown();

	// The lists, the quotes file and the highlights video.
	SessionExports &exports() { return sessionExports; }

	// --- Marks and presses ---
	long long press(PressMode mode, const QString &label);
	long long addMark(EntryKind kind, const QString &label, long long atNs = 0, long long agoMs = 0);

	// --- Replay-buffer status ---
	BufferStatus bufferStatus() const;

	// --- Notifications ---
	// The status message; while session files cannot be written, a line saying so follows it.
	QString statusText() const;

	// --- Session editing ---
	SessionEdits &edits() { return editor; }

	Players &players() { return playback; }

	EngineFigures figures() const
	{
		return {playback.latencyMs(), chaptersAdded, !waitingPresses.empty() || !pendingPresses.empty()};
	}

signals:
	void sessionChanged();
	void sessionListChanged();
	void statusChanged();
	// For remote clients; remote/ writes it in the wire format.
	void notify(const EngineEvent &event);

private:
	// The Engine tests reach a few steps that otherwise run only from timers or inside a save.
	friend class EngineTest;
	friend class EngineBench;

	using Clock = std::function<long long()>;
	using FileRenamer = std::function<bool(const QString &from, const QString &to)>;
	using FileHeldCheck = std::function<bool(const QString &path)>;
	using SaveNamer = FreshClipWatch::SaveNamer;

	void flushSaves();
	// The rename timer's step; tests drive it by their own clock.
	void renameTick();
	void setStatus(const QString &text);
	long long monotonicNs() const;
	long long wallMs() const;
	// Time sources: monotonic ns (os_gettime_ns) and wall ms since the epoch. Tests replace them.
	void setClocks(Clock monotonicNs, Clock wallMs);
	QStringList loadedSessionIds() const;
	// Returns once every session write handed to the writer thread has landed, with its outcome
	// taken in. Shutdown uses it; so do tests that read a file right after a save.
	void waitForWrites();

	// File operations of the renames: moveFileNoReplace, and the players' hold on a file. Tests add
	// a renamer that refuses (a locked file) and a hold of their own.
	void setFileOps(FileRenamer renamer, FileHeldCheck held);
	// Tests name saves by their own clock; OBS's replay buffer output otherwise.
	void setSaveNamer(SaveNamer namer);

	// --- OBS's frontend events ---
	void onStreamingStarted();
	void onStreamingStopped();
	void onRecordingStarted();
	void onRecordingStopped();
	void onRecordingPaused();
	void onRecordingUnpaused();
	void onSceneChanged();
	void onBufferStarted();
	// Before the buffer's encoders stop: the memory replay lets go of them first.
	void onBufferStopping();
	void onBufferStopped();
	void onReplayBufferSaved();

	// --- Sessions ---
	long long offsetAt(long long ns) const;
	// Monotonic ns of an output's first frame (now when unknown).
	long long recordingStartTime(obs_output_t *output) const;
	// After its files are deleted: its queued presses, renames and writes go, and it is unloaded.
	void forgetSession(const QString &id);
	void startSession(SessionSource source, long long startNs);
	void endSession();
	void touchSession(Session &session);
	// Drops loaded sessions nothing needs: not running, shown, waiting for a save, an export, a clip
	// or a rename, the recap's, or among the newest stored ones. Runs from sessionTrim, never inside
	// a call that may hold a Session pointer.
	void trimLoadedSessions();

	// --- Marks ---
	QString currentSceneName() const;
	void addRecordingChapter(const Entry &entry);
	void emitEntryEvent(EntryEvent::Type type, const Session &session, const Entry &entry);

	// --- Saves and renames ---
	void pumpSaves();
	void onSaveTimeout();
	void clipRange(Entry &entry, long long requestWallMs);
	void scheduleRename(const EntryRef &ref, long long delayMs);
	void scheduleRenames(const Session &session, long long delayMs);
	bool renameClip(const EntryRef &ref);

	void autoStartBuffer();
	// Fails every press of the batch, says so, and asks for the next save.
	void failBatch(const std::vector<EntryRef> &batch);
	struct SavedBatch;
	void noteSaveLatency();
	// The first press found owns the file (moved aside at once when a save could take its name); the
	// others share it. Every press gets its clip range and a "ClipSaved" event.
	SavedBatch assignSavedClip(const std::vector<EntryRef> &batch, const QString &path, long long savedWallMs);
	// The batch's replay, when a press asked for one, it is still recent and memory does not serve it.
	void replayFreshSave(const SavedBatch &saved, const std::vector<EntryRef> &batch, long long savedWallMs,
			     long long reportedNs);
	void recordObsSave(const QString &path, long long savedWallMs);
	QString keepFreshClip(FreshClip fresh);
	// One step of a fresh clip's watch; true when it needs no more.
	bool stepFreshClip(FreshClip &fresh, long long now);
	bool moveAside(FreshClip &fresh, Entry &owner);
	bool moveBack(FreshClip &fresh, Entry &owner);
	void freshTick();
	// At shutdown: files kept aside go back under OBS's name unless a save could still take it.
	void settleFreshClips();
	// Sends the entry events held for a file whose watch ends.
	void releaseHeldEvents(const FreshClip &fresh);
	// An entry event, held while the entry's file may still change its name.
	void emitClipEvent(EntryEvent::Type type, const Session &session, const Entry &entry);
	// Takes OBS's remuxed copies of a clip along to its new name.
	void moveRemuxCopies(const QFileInfo &from, const QFileInfo &to, long long savedWallMs);
	// A save OBS wrote over a file that an entry still owned: that entry's clip is lost.
	void failOverwritten(const QString &path);
	// A copy of a session file still names its original's clips, which stay the original's: known by
	// the id its file held (even when the original is not loaded), or for older copies by the name.
	bool clipOfEarlierSession(const Session &session, const std::string &path, QString *ownerId);
	void saveSessionNow(Session &session);
	Entry *lookupEntry(const EntryRef &ref, Session **sessionOut = nullptr);
	Session *editedSession(const QString &sessionId);
	SessionEdits::Hooks editHooks();
	bool renameFile(const QString &from, const QString &to);
	bool fileHeldByPlayer(const QString &path);

	SessionCache cache;
	QString currentId;
	QString viewedId;
	long long startNs = 0;
	long long pausedTotalNs = 0;
	long long pausedSinceNs = 0;
	QString lastScene;
	BufferWatch buffer;
	std::vector<EntryRef> waitingPresses;
	std::vector<EntryRef> pendingPresses;
	long long saveRequestWallMs = 0;
	long long saveRequestNs = 0;
	std::vector<long long> saveLatencies;
	QTimer saveTimeout;
	// OBS names a replay file by the clock second of its save and writes over a file of that
	// name; each file is moved aside right after it arrives, and our next request waits for that.
	FreshClipWatch freshWatch;
	RenameQueue renames;
	SessionEdits editor;
	QTimer sessionTrim;
	Players playback;
	int chaptersAdded = 0;
	bool chapterWarned = false;
	QString status;
	bool stopped = false;
	bool ready = false;

	Clock monotonicClock;
	Clock wallClock;
	FileHeldCheck fileHeldCheck;

	// Last, so that its highlights worker stops before the rest goes.
	SessionExports sessionExports;
};
