#pragma once

// The instant replay, its replays made from memory, and the recap: which file plays for a press, and
// what remote clients and the status hear of it.

#include "engine/EngineEvents.h"
#include "engine/RenameQueue.h"
#include "playback/InstantReplay.h"
#include "playback/MemoryReplay.h"
#include "playback/Recap.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Players : public QObject {
	Q_OBJECT

public:
	using Clock = std::function<long long()>;
	using PressLabel = std::function<std::string(int number)>;

	// sessions: where the recap and the replays find their sessions; wallMs: wall ms since the epoch.
	Players(std::unique_ptr<RecapSessions> sessions, Clock wallMs, PressLabel pressLabel);
	~Players() override;

	InstantReplay &replay() { return instant; }
	Recap &recap() { return recapPlayer; }
	// Of the last replay, from its request to its start.
	long long latencyMs() const { return replayLatencyMs; }
	// True when a player has the file loaded.
	bool holds(const QString &path) const { return instant.isLoaded(path) || recapPlayer.isLoaded(path); }

	// The saved clip of the session's entry (through the clip's owner); false when it has none.
	bool replayEntry(Session *session, long long entryId);
	void stopReplay()
	{
		stopMemoryReplay();
		instant.stop();
	}
	// Every player stops at once, without transitions.
	void stopAll();
	// Stops the memory's worker and the players; files that come later are dropped.
	void shutdown();

	// After the settings changed: the memory of the replay follows "replay_from_memory" and
	// "replay_seconds" at once, so that switching it off hands its memory back.
	void applyReplaySettings();
	// A new run of the buffer starts a new memory; before its encoders stop the memory lets go of them.
	void bufferStarted();
	void bufferStops() { memory.stop(); }
	void finishedLoading();
	// A stream or recording starts: the replay scene is reset and its last problem forgotten, unless a
	// replay plays.
	void sessionStarted();

	// The press's replay is made from memory when it can be; false when it waits for its saved clip.
	bool startMemoryReplay(const EntryRef &ref, long long pressNs);
	// True when the memory replay serves a press of this batch, so its saved clip is not played.
	bool memoryServes(const std::vector<EntryRef> &batch) const;
	// The replay about to start was asked for at this wall ms; its latency counts from there.
	void noteRequest(long long wallMs) { replayRequestWallMs = wallMs; }
	// Plays a saved clip; when the player refuses, the status says the clip was saved without a replay.
	void playSaved(const QString &path, long long entryId, const std::string &names, const std::string &timeText,
		       long long reportedNs = 0);

signals:
	void status(const QString &text);
	void notify(const EngineEvent &event);

private:
	friend class EngineTest;

	void onReplayStarted(const QString &path, long long entryId);
	void onReplayFinished(const QString &path, long long entryId);
	void onRecapClipStarted(const QString &file, const QString &memo, int index, int count);
	void onMemoryFileReady(const QString &path, long long request);
	void onMemoryFileComplete(const QString &path, long long request, long long lengthMs);
	void onMemoryFileFailed(const QString &why, long long request);
	void stopMemoryReplay();
	// The clip's file name for the replay events: empty while a memory replay's clip is unsaved.
	std::string replayEventFile(const QString &path, long long entryId);

	Clock wallMs;
	PressLabel pressLabel;
	InstantReplay instant;
	MemoryReplay memory;
	// The press whose replay is made from memory, from the request until its replay ends.
	enum class MemoryStep { None, Making, Playing };
	MemoryStep memoryStep = MemoryStep::None;
	EntryRef memoryRef;
	long long memoryRequest = 0; // the file asked for: an older one arriving late is not this press's
	QString memoryFile;
	std::unique_ptr<RecapSessions> sessions; // outlives recapPlayer, which points at it
	Recap recapPlayer;
	long long replayRequestWallMs = 0;
	long long replayLatencyMs = 0;
	bool closed = false;
};
