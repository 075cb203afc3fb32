#pragma once

#include "lists/TextFormat.h"
#include "playback/InstantReplay.h"
#include "playback/MemoryReplay.h"
#include "playback/Recap.h"
#include "session/Session.h"
#include "session/SessionWriter.h"

#include <obs.h>

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

// Mode of Engine::press; the numbers match the hotkey actions.
enum class PressMode { Default = 0, MarkOnly = 1, Replay = 2 };

// Names an entry across sessions; looked up again at every use, so removed entries are skipped.
struct EntryRef {
	QString sessionId;
	long long entryId = 0;

	bool operator==(const EntryRef &o) const { return entryId == o.entryId && sessionId == o.sessionId; }
	bool operator!=(const EntryRef &o) const { return !(*this == o); }
};

// What the replay buffer is configured to do and what it would cost; field names are the keys
// of the "buffer" object that remote clients see.
struct BufferStatus {
	bool enabled = false;
	bool active = false;
	long long seconds = 0;
	long long size_limit_mb = 0;
	long long video_kbps = 0;
	long long audio_kbps = 0;
	long long estimate_mb = 0;
	bool capped_by_size = false;
};

// A clip file waiting for its final name.
struct RenameJob {
	EntryRef ref;
	long long dueMs = 0; // wall ms
	int attempts = 0;
	long long seq = 0; // order queued
};

// A replay file just saved by OBS. While a new save could get the same name (and OBS writes over
// a file of that name) it is kept aside under that name with the mark; then it goes back.
struct FreshClip {
	QString sessionId;
	long long entryId = 0; // the owner
	QString obsPath;       // the name OBS gave it, which peers read
	QString path;          // where it is now: obsPath, or aside
	long long savedWallMs = 0;
	long long remuxWaitUntilMs = 0; // wall ms; 0 when no remux is awaited
	long long backDueMs = 0;        // wall ms: the first try to go back; gives up a while later
	bool playAfter = false;         // the instant replay waits for the remux to open the file
	std::string names;              // for the status message of a replay that cannot start
	std::string timeText;
	long long reportedNs = 0; // monotonic ns when OBS reported the save, for the replay's figures
	// Events of the file's entries (type, entry id), held until the file has the name it keeps.
	std::vector<std::pair<QString, long long>> heldEvents;
};

// A remuxed ".mp4" copy whose rename failed the first time.
struct RemuxRename {
	QString from;
	QString to;
	long long dueMs = 0; // wall ms
	int attempts = 0;
};

// The one object that runs sessions, presses, marks, replay-buffer saves and clip renames.
// Lives on the UI thread; other threads post to it.
class Engine : public QObject {
	Q_OBJECT

public:
	using Clock = std::function<long long()>;
	using FileRenamer = std::function<bool(const QString &from, const QString &to)>;
	using FileHeldCheck = std::function<bool(const QString &path)>;
	// The path OBS would give a replay saved now; empty when it cannot tell (a save is being written).
	using SaveNamer = std::function<QString()>;

	explicit Engine(QObject *parent = nullptr);
	~Engine() override;

	// The module's single instance, created on first use and never deleted.
	static Engine *instance();

	bool isReady() const { return ready; }
	bool isStopped() const { return stopped; }

	// Time sources: monotonic ns (os_gettime_ns) and wall ms since the epoch. Tests replace them.
	void setClocks(Clock monotonicNs, Clock wallMs);

	// --- Sessions ---
	Session *currentSession();
	Session *findSession(const QString &id);
	Session *viewedSession();
	QString currentSessionId() const { return currentId; }
	QString viewedSessionId() const { return viewedId; }
	QStringList sessionIds();
	QStringList loadedSessionIds() const;
	void viewSession(const QString &id);
	bool removeSession(const QString &id);
	long long offsetNow() const;
	bool startFreeSession();
	bool endFreeSession();

	void onStreamingStarted();
	void onStreamingStopped();
	void onRecordingStarted();
	void onRecordingStopped();
	void onRecordingPaused();
	void onRecordingUnpaused();
	void onFinishedLoading();
	void stopPlayback();
	void shutdown();

	void flushSaves();
	void flushExports();
	// Returns once every session write handed to the writer thread has landed, with its outcome
	// taken in. Shutdown uses it; so do tests that read a file right after a save.
	void waitForWrites();

	const ExportTexts &exportTexts() const { return texts; }

	// Lists of the viewed session; status "Msg.Exported" or "Msg.ExportFailed".
	QStringList exportLists();
	// The quotes file of every known session; its path, or empty.
	QString exportQuotes();

	// --- Marks and presses ---
	long long press(PressMode mode, const QString &label);
	long long addMark(EntryKind kind, const QString &label, long long atNs = 0, long long agoMs = 0);
	void onSceneChanged();

	// --- Replay-buffer saves ---
	void onBufferStopped();
	void onReplayBufferSaved();
	bool replayEntry(long long entryId);
	void stopReplay();

	// --- Clip renaming ---
	// The rename timer's step; tests and the fuzzer drive it by their own clock.
	void renameTick();
	// File operations of the renames: moveFileNoReplace, and the players' hold on a file. Tests add
	// a renamer that refuses (a locked file) and a hold of their own.
	void setFileOps(FileRenamer renamer, FileHeldCheck held);
	// Tests name saves by their own clock; OBS's replay buffer output otherwise.
	void setSaveNamer(SaveNamer namer);

	// --- Replay-buffer status ---
	BufferStatus bufferStatus() const;
	void onBufferStarted();
	// Before the buffer's encoders stop: the memory replay lets go of them first.
	void onBufferStopping();
	// After the settings changed: the memory of the replay follows "replay_from_memory" and
	// "replay_seconds" at once, so that switching it off hands its memory back.
	void applyReplaySettings();

	// --- Notifications ---
	void setStatus(const QString &text);
	// The status message; while session files cannot be written, a line saying so follows it.
	QString statusText() const;

	// --- Session editing ---
	// On the named session, the viewed one when the id is empty. The dock names the session its row
	// came from, since the viewed one may change while a menu or question is open.
	void setLabel(long long entryId, const QString &label, const QString &sessionId = QString());
	void setChapter(long long entryId, bool chapter, const QString &sessionId = QString());
	void removeEntry(long long entryId, const QString &sessionId = QString());
	void setShift(long long shiftMs, const QString &sessionId = QString());
	void setShiftToEntry(long long entryId, const QString &sessionId = QString());
	void setArchiveUrl(const QString &url, const QString &sessionId = QString());
	int dropShortChapters();

	// --- Players ---
	Recap &recapPlayer() { return recap; }
	InstantReplay &replayPlayer() { return replay; }

	// Read-only views of the queues, for the dock and tests.
	const std::vector<EntryRef> &waitingPressRefs() const { return waitingPresses; }
	const std::vector<EntryRef> &pendingPressRefs() const { return pendingPresses; }
	const std::vector<RenameJob> &renameQueue() const { return renameJobs; }
	const std::vector<RemuxRename> &remuxQueue() const { return remuxRenames; }
	const std::vector<long long> &saveLatencyHistory() const { return saveLatencies; }
	long long bufferStartedAtWallMs() const { return bufferStartedWallMs; }
	long long lastReplayLatencyMs() const { return replayLatencyMs; }
	int recordingChaptersAdded() const { return chaptersAdded; }
	const QTimer &saveTimeoutTimer() const { return saveTimeout; }
	const QTimer &renameTimerRef() const { return renameTimer; }
	const QTimer &saveDelayTimer() const { return saveDelay; }
	const QTimer &exportDelayTimer() const { return exportDelay; }
	const QTimer &saveRetryTimer() const { return saveRetry; }
	const std::vector<FreshClip> &freshClipQueue() const { return freshClips; }
	const QTimer &sessionTrimTimer() const { return sessionTrim; }
	const std::set<QString> &dirtySessionIds() const { return dirtySessions; }
	const std::set<QString> &dirtyExportIds() const { return dirtyExports; }

	// --- Highlights video ---
	// Starts the highlights video of the session (the viewed one for an empty id) on a worker; false,
	// with a status message, when one is being written or the session has no saved clip.
	bool exportHighlights(const QString &sessionId = QString());
	bool highlightsRunning() const;
	// Returns once the running highlights video has ended (tests and shutdown).
	void waitForHighlights();

signals:
	void sessionChanged();
	void sessionListChanged();
	void statusChanged();
	void notify(const QString &type, const QString &json);

private:
	// The Engine tests reach a few steps that otherwise run only from timers or inside a save.
	friend class EngineTest;

	long long monotonicNs() const;
	long long wallMs() const;

	// --- Sessions ---
	long long offsetAt(long long ns) const;
	// Monotonic ns of an output's first frame (now when unknown).
	long long recordingStartTime(obs_output_t *output) const;
	// After its files are deleted: its queued presses, renames and writes go, and it is unloaded.
	void forgetSession(const QString &id);
	void startSession(SessionSource source, long long startNs);
	void endSession();
	void touchSession(Session &session);
	// Marks a session changed (delayed save) without scheduling a re-export.
	void markSessionDirty(const QString &id);
	// Drops loaded sessions nothing needs: not running, shown, waiting for a save, an export, a clip
	// or a rename, the recap's, or among the newest stored ones. Runs from sessionTrim, never inside
	// a call that may hold a Session pointer.
	void trimLoadedSessions();

	// --- Marks ---
	QString currentSceneName() const;
	void addRecordingChapter(const Entry &entry);
	void emitEntryEvent(const QString &type, const Session &session, const Entry &entry);

	// --- Saves and renames ---
	void pumpSaves();
	void onSaveTimeout();
	void clipRange(Entry &entry, long long requestWallMs);
	void scheduleRename(const EntryRef &ref, long long delayMs);
	void scheduleRenames(const Session &session, long long delayMs);
	void renameDueClips(long long now);
	void renameDueRemuxCopies(long long now);
	bool renameClip(RenameJob &job);
	void setRenameDue(RenameJob &job, long long dueMs);

	void onReplayStarted(const QString &path, long long entryId);
	void onReplayFinished(const QString &path, long long entryId);
	void onRecapClipStarted(const QString &file, const QString &memo, int index, int count);
	// --- Replay from memory ---
	bool startMemoryReplay(const EntryRef &ref, long long pressNs);
	void onMemoryFileReady(const QString &path, long long request);
	void onMemoryFileComplete(const QString &path, long long request, long long lengthMs);
	void onMemoryFileFailed(const QString &why, long long request);
	void stopMemoryReplay();
	// True when the memory replay serves a press of this batch, so its saved clip is not played.
	bool memoryServes(const std::vector<EntryRef> &batch) const;
	// The clip's file name for the replay events: empty while a memory replay's clip is unsaved.
	std::string replayEventFile(const QString &path, long long entryId);
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
	bool freshClipBlocksSave() const;
	// At shutdown: files kept aside go back under OBS's name unless a save could still take it.
	void settleFreshClips();
	// Sends the entry events held for a file whose watch ends.
	void releaseHeldEvents(const FreshClip &fresh);
	// An entry event, held while the entry's file may still change its name.
	void emitClipEvent(const QString &type, const Session &session, const Entry &entry);
	bool saveNameClash(const QString &obsPath) const;
	// Takes OBS's remuxed copies of a clip along to its new name.
	void moveRemuxCopies(const QFileInfo &from, const QFileInfo &to, long long savedWallMs);
	// A save OBS wrote over a file that an entry still owned: that entry's clip is lost.
	void failOverwritten(const QString &path);
	// A copy of a session file still names its original's clips, which stay the original's: known by
	// the id its file held (even when the original is not loaded), or for older copies by the name.
	bool clipOfEarlierSession(const Session &session, const std::string &path, QString *ownerId);
	void playSaved(const QString &path, long long entryId, const std::string &names, const std::string &timeText,
		       long long reportedNs = 0);
	void saveSessionNow(Session &session);
	// Takes the session's text now and hands it to the writer thread; the outcome comes back through
	// takeWriteOutcomes. A failure keeps it unsaved and tries again later.
	void storeSession(Session &session);
	void takeWriteOutcomes();
	void noteSessionWrite(const QString &id, const std::string &prefix, bool saved, int error);
	// The session's lists, then the quotes file; a new export folder is saved with the session.
	QStringList writeSessionLists(Session &session);
	Entry *lookupEntry(const EntryRef &ref, Session **sessionOut = nullptr);
	Session *editedSession(const QString &sessionId);
	// True, with a status message, when an edited text is too long to take.
	bool refuseLongEdit(const std::string &text, const char *what);
	bool renameFile(const QString &from, const QString &to);
	bool fileHeldByPlayer(const QString &path);

	ExportTexts texts;
	std::map<QString, std::unique_ptr<Session>> sessions;
	QString currentId;
	QString viewedId;
	long long startNs = 0;
	long long pausedTotalNs = 0;
	long long pausedSinceNs = 0;
	QString lastScene;
	long long bufferStartedWallMs = 0;
	std::vector<EntryRef> waitingPresses;
	std::vector<EntryRef> pendingPresses;
	long long saveRequestWallMs = 0;
	long long saveRequestNs = 0;
	std::vector<long long> saveLatencies;
	QTimer saveTimeout;
	// OBS names a replay file by the clock second of its save and writes over a file of that
	// name; each file is moved aside right after it arrives, and our next request waits for that.
	std::vector<FreshClip> freshClips;
	QTimer freshTimer;
	std::vector<RenameJob> renameJobs; // in the order queued (ascending seq)
	// (dueMs, seq) of every queued job, so that a tick touches only the due ones.
	std::set<std::pair<long long, long long>> renameDue;
	long long renameSeq = 0;
	std::vector<RemuxRename> remuxRenames;
	QTimer renameTimer;
	std::set<QString> dirtySessions;
	std::set<QString> dirtyExports;
	QTimer saveDelay;
	long long firstDirtyWallMs = 0; // wall ms of the oldest unsaved change
	// Sessions whose last write failed, retried from saveRetry with a growing delay; saveProblem is
	// the line told while there are any.
	std::set<QString> failedSessions;
	QTimer saveRetry;
	int saveRetryMs = 0;
	QString saveProblem;
	QTimer exportDelay;
	QTimer sessionTrim;
	InstantReplay replay;
	MemoryReplay memory;
	// The press whose replay is made from memory, from the request until its replay ends.
	enum class MemoryStep { None, Making, Playing };
	MemoryStep memoryStep = MemoryStep::None;
	EntryRef memoryRef;
	long long memoryRequest = 0; // the file asked for: an older one arriving late is not this press's
	QString memoryFile;
	std::unique_ptr<RecapSessions> recapSessions; // outlives recap, which points at it
	Recap recap;
	int chaptersAdded = 0;
	bool chapterWarned = false;
	long long replayRequestWallMs = 0;
	long long replayLatencyMs = 0;
	QString status;
	bool stopped = false;
	bool ready = false;

	Clock monotonicClock;
	Clock wallClock;
	FileRenamer fileRenamer;
	FileHeldCheck fileHeldCheck;
	SaveNamer saveNamer;

	// The highlights video being written: cancelled by shutdown and by its session's removal.
	struct HighlightsJob;
	std::shared_ptr<HighlightsJob> highlights;
	bool highlightsClosed = false;
	// A session that ended: its video starts once its clips have their final names.
	QString highlightsPending;
	void highlightsAfterRenames(const QString &sessionId);
	void startPendingHighlights();
	// Cancels the session's video (any video for an empty id) and waits for it: no partial file stays.
	void cancelHighlights(const QString &sessionId);
	bool startHighlights(Session &session, bool byHand);
	void onHighlightsDone(uint64_t seq);
	bool highlightsHold(const QString &path) const;

	// Per session id, the ticket of the newest write handed over and not yet answered: such a
	// session is unsaved, like a dirty one.
	std::map<QString, uint64_t> writesInFlight;
	// Last: its thread finishes the queued writes before anything else of the Engine goes.
	SessionWriter writer;
};
