#pragma once

// The sessions held in memory and the writing of their files. A change is written after a short
// delay that never runs past a cap; the writer's thread does the file work; a failed write stays
// unsaved and is tried again later each time.

#include "session/Session.h"
#include "session/SessionWriter.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>

class SessionCache : public QObject {
	Q_OBJECT

public:
	using Sessions = std::map<QString, std::unique_ptr<Session>>;

	// wallMs: wall ms since the epoch, for the cap of the delay.
	explicit SessionCache(std::function<long long()> wallMs, QObject *parent = nullptr);

	// Loaded sessions only; nothing is read from the disk here.
	Session *loaded(const QString &id) const;
	Session &add(const QString &id, std::unique_ptr<Session> session);
	const Sessions &all() const { return sessions; }
	QStringList loadedIds() const;
	// Unloads the droppable sessions that are neither kept nor unsaved.
	void unload(const std::set<QString> &droppable, const std::set<QString> &keep);
	// After its files are deleted: the session and its pending writes go.
	void forget(const QString &id);

	// A delayed write of the session.
	void markDirty(const QString &id);
	// Writes every changed session now.
	void flush();
	// Takes the session's text now and hands it to the writer thread; the outcome comes back later.
	void store(Session &session);
	// Returns once every write handed over has landed, with its outcome taken in.
	void waitForWrites();
	// Before a session's files are deleted: its queued writes are dropped.
	void dropWrites(const QString &id);
	// The deletion failed: a write dropped is made again.
	void writeAgain(const QString &id);
	// Sessions whose first write may still be on its way, so that no file exists yet.
	std::vector<QString> unwrittenIds() const;
	// From now on a failed write is not tried again by a timer (shutdown).
	void close() { closed = true; }
	void stopTimers();

	// The line told while session files cannot be written; empty otherwise.
	const QString &problem() const { return saveProblem; }

signals:
	void problemChanged();
	// Every session file is written again after a failure.
	void savedAgain();

private:
	friend class EngineTest;

	void takeWriteOutcomes();
	void noteWrite(const QString &id, const std::string &prefix, bool saved, int error);

	std::function<long long()> wallMs;
	Sessions sessions;
	std::set<QString> dirtySessions;
	QTimer saveDelay;
	long long firstDirtyWallMs = 0; // wall ms of the oldest unsaved change
	// Sessions whose last write failed, retried from saveRetry with a growing delay; saveProblem is
	// the line told while there are any.
	std::set<QString> failedSessions;
	QTimer saveRetry;
	int saveRetryMs = 0;
	QString saveProblem;
	bool closed = false;
	// Per session id, the ticket of the newest write handed over and not yet answered: such a
	// session is unsaved, like a dirty one.
	std::map<QString, uint64_t> writesInFlight;
	// Last: its thread finishes the queued writes before anything else here goes.
	SessionWriter writer;
};
