#pragma once

// Clips waiting for their final names: each is tried when due, in the order queued, and again while
// its file is held, until it gives up; and OBS's remuxed copies whose first rename failed.

#include "session/Session.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <set>
#include <utility>
#include <vector>

// Names an entry across sessions; looked up again at every use, so removed entries are skipped.
struct EntryRef {
	QString sessionId;
	long long entryId = 0;

	bool operator==(const EntryRef &o) const { return entryId == o.entryId && sessionId == o.sessionId; }
	bool operator!=(const EntryRef &o) const { return !(*this == o); }
};

// A clip file waiting for its final name.
struct RenameJob {
	EntryRef ref;
	long long dueMs = 0; // wall ms
	int attempts = 0;
	long long seq = 0; // order queued
};

// A remuxed ".mp4" copy whose rename failed the first time.
struct RemuxRename {
	QString from;
	QString to;
	long long dueMs = 0; // wall ms
	int attempts = 0;
};

class RenameQueue : public QObject {
	Q_OBJECT

public:
	using Clock = std::function<long long()>;
	// One try at a clip's rename: true when done or nothing is left to do, false while its file is held.
	using Attempt = std::function<bool(const EntryRef &ref)>;
	using FileRenamer = std::function<bool(const QString &from, const QString &to)>;

	RenameQueue(Clock wallMs, Attempt attempt);

	// The clip is tried after delayMs; one already queued keeps its place and takes the new time.
	void schedule(const EntryRef &ref, long long delayMs);
	// A copy whose rename failed; one waiting to become oldTarget becomes newTarget instead.
	void addRemuxCopy(const QString &from, const QString &to);
	void retargetRemuxCopies(const QString &oldTarget, const QString &newTarget);
	void forgetSession(const QString &id);
	// Clips whose file was held are tried by dueMs at the latest.
	void hurryRetries(long long dueMs);
	// Tries what is due.
	void tryDue();
	bool idle() const { return jobs.empty() && remux.empty(); }
	bool running() const { return timer.isActive(); }
	void stop() { timer.stop(); }
	std::set<QString> sessionIds() const;

	// moveFileNoReplace, or the one tests set.
	bool renameFile(const QString &from, const QString &to) const;
	void setFileRenamer(FileRenamer renamer) { fileRenamer = std::move(renamer); }

	const std::vector<RenameJob> &queued() const { return jobs; }

signals:
	void tick();

private:
	friend class EngineTest;

	void setDue(RenameJob &job, long long dueMs);
	void tryDueClips(long long now);
	void tryDueRemuxCopies(long long now);
	void startTimer();

	Clock wallMs;
	Attempt attempt;
	FileRenamer fileRenamer;
	std::vector<RenameJob> jobs; // in the order queued (ascending seq)
	// (dueMs, seq) of every queued job, so that a tick touches only the due ones.
	std::set<std::pair<long long, long long>> due;
	long long lastSeq = 0;
	std::vector<RemuxRename> remux;
	QTimer timer;
};
