#pragma once

// Replay files just saved by OBS. OBS names a save by the clock second and writes over a file of
// that name, so each new file is watched while a save could still get its name.

#include "engine/EngineEvents.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>
#include <utility>
#include <vector>

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
	std::vector<std::pair<EntryEvent::Type, long long>> heldEvents;
};

class FreshClipWatch : public QObject {
	Q_OBJECT

public:
	// The path OBS would give a replay saved now; empty when it cannot tell (a save is being written).
	using SaveNamer = std::function<QString()>;
	using Match = std::function<bool(const FreshClip &)>;

	FreshClipWatch();

	// True when a save made now could get obsPath, or when its name cannot be told.
	bool nameClash(const QString &obsPath) const;
	// A file still under OBS's name would be written over by a save that gets the same name.
	bool blocksSave() const;
	// Tests name saves by their own clock; OBS's replay buffer output otherwise.
	void setSaveNamer(SaveNamer namer) { saveNamer = std::move(namer); }

	void watch(FreshClip fresh);
	FreshClip *find(const Match &match);
	// Takes the matching files out of the watch, in their order.
	std::vector<FreshClip> take(const Match &match);
	std::vector<FreshClip> &watched() { return clips; }
	const std::vector<FreshClip> &watched() const { return clips; }
	// After a step: a quick tick while a file is under OBS's name, a slower one while all are aside.
	void retime();
	void stop() { timer.stop(); }

signals:
	void tick();

private:
	friend class EngineTest;

	std::vector<FreshClip> clips;
	QTimer timer;
	SaveNamer saveNamer;
};
