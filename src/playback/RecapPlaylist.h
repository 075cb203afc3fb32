#pragma once

// Which clips the recap plays: the policy over the stored sessions, apart from the player.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

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

struct RecapItem {
	long long entryId = 0;
	QString path;
	QString memo;
	long long tMs = 0;
};

struct RecapPlaylist {
	std::string sessionId; // empty when no session qualifies
	std::vector<RecapItem> items;
};

// Canonical, normalised key of a clip file: one per file however its path is spelled.
QString recapFileKey(const QString &path);

// Takes the item's path and memo from its entry as the session holds it now; false when the entry
// (through the owner of its clip) no longer has a saved clip of its own.
bool refreshRecapItem(RecapSessions &sessions, const Session *session, RecapItem &item);

// The newest finished stream session with clips on disk, else the newest finished session of
// another kind with clips; the running session never. Items with a memo come first, each group in
// time order, and a file shared by several marks appears once.
RecapPlaylist chooseRecapPlaylist(RecapSessions &sessions);
