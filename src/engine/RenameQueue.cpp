#include "engine/RenameQueue.h"

#include "engine/EngineSupport.h"
#include "util/ModuleCore.h"
#include "util/Paths.h"

#include <QFile>

#include <algorithm>

RenameQueue::RenameQueue(Clock wallMs, Attempt attempt) : wallMs(std::move(wallMs)), attempt(std::move(attempt))
{
	timer.setInterval(EngineTiming::RenameTickMs);
	connect(&timer, &QTimer::timeout, this, &RenameQueue::tick);
}

bool RenameQueue::renameFile(const QString &from, const QString &to) const
{
	return fileRenamer ? fileRenamer(from, to) : moveFileNoReplace(from, to);
}

void RenameQueue::startTimer()
{
	if (!timer.isActive())
		timer.start();
}

void RenameQueue::setDue(RenameJob &job, long long dueMs)
{
	due.erase({job.dueMs, job.seq});
	job.dueMs = dueMs;
	due.insert({dueMs, job.seq});
}

void RenameQueue::schedule(const EntryRef &ref, long long delayMs)
{
	const long long at = wallMs() + delayMs;
	auto it = std::find_if(jobs.begin(), jobs.end(), [&ref](const RenameJob &job) { return job.ref == ref; });
	if (it != jobs.end()) {
		setDue(*it, at);
	} else {
		jobs.push_back(RenameJob{ref, at, 0, ++lastSeq});
		due.insert({at, lastSeq});
	}
	startTimer();
}

void RenameQueue::addRemuxCopy(const QString &from, const QString &to)
{
	remux.push_back(RemuxRename{from, to, wallMs() + EngineTiming::RenameRetryMs, 0});
	startTimer();
}

void RenameQueue::retargetRemuxCopies(const QString &oldTarget, const QString &newTarget)
{
	for (RemuxRename &item : remux) {
		if (item.to.compare(oldTarget, Qt::CaseInsensitive) == 0)
			item.to = newTarget;
	}
}

void RenameQueue::forgetSession(const QString &id)
{
	jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
				  [this, &id](const RenameJob &job) {
					  if (job.ref.sessionId != id)
						  return false;
					  due.erase({job.dueMs, job.seq});
					  return true;
				  }),
		   jobs.end());
}

void RenameQueue::hurryRetries(long long dueMs)
{
	for (RenameJob &job : jobs) {
		if (job.attempts > 0 && job.dueMs > dueMs)
			setDue(job, dueMs);
	}
}

std::set<QString> RenameQueue::sessionIds() const
{
	std::set<QString> ids;
	for (const RenameJob &job : jobs)
		ids.insert(job.ref.sessionId);
	return ids;
}

void RenameQueue::tryDue()
{
	const long long now = wallMs();
	tryDueClips(now);
	tryDueRemuxCopies(now);
}

void RenameQueue::tryDueClips(long long now)
{
	// The due jobs, tried in the order they were queued.
	std::vector<long long> seqs;
	while (!due.empty() && due.begin()->first <= now) {
		seqs.push_back(due.begin()->second);
		due.erase(due.begin());
	}
	std::sort(seqs.begin(), seqs.end());
	for (long long seq : seqs) {
		auto found = std::lower_bound(jobs.begin(), jobs.end(), seq,
					      [](const RenameJob &job, long long s) { return job.seq < s; });
		if (found == jobs.end() || found->seq != seq)
			continue;
		// A try never changes the queue, so the job keeps its index.
		const auto i = found - jobs.begin();
		const EntryRef ref = found->ref;
		if (attempt(ref)) {
			jobs.erase(jobs.begin() + i);
			continue;
		}
		RenameJob &job = jobs[size_t(i)];
		job.attempts += 1;
		if (job.attempts > EngineTiming::RenameMaxAttempts) {
			pluginLog(LOG_WARNING, "gave up renaming a clip (still in use after 10 minutes)");
			jobs.erase(jobs.begin() + i);
			continue;
		}
		setDue(job, now + EngineTiming::RenameRetryMs);
	}
}

void RenameQueue::tryDueRemuxCopies(long long now)
{
	for (size_t i = 0; i < remux.size();) {
		RemuxRename &item = remux[i];
		if (now < item.dueMs) {
			++i;
			continue;
		}
		// Every queued copy already failed once, so a rename here is a late one.
		const bool gone = !QFile::exists(item.from);
		if (gone || renameFile(item.from, item.to)) {
			if ((!gone || item.attempts > 0) && QFile::exists(item.to))
				pluginLog(LOG_INFO, "remuxed copy renamed to %s", fileNameOf(toUtf8(item.to)).c_str());
			remux.erase(remux.begin() + long(i));
			continue;
		}
		item.attempts += 1;
		item.dueMs = now + EngineTiming::RenameRetryMs;
		if (item.attempts > EngineTiming::RenameMaxAttempts) {
			pluginLog(LOG_WARNING, "gave up renaming a remuxed copy (still in use after 10 minutes)");
			remux.erase(remux.begin() + long(i));
			continue;
		}
		++i;
	}
}
