// Clip renaming: final names after the session and the mark, retried while the file is in use.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "session/SessionStore.h"
#include "util/ModuleCore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <set>

void Engine::setFileOps(FileRenamer renamer, FileHeldCheck held)
{
	fileRenamer = std::move(renamer);
	fileHeldCheck = std::move(held);
}

bool Engine::renameFile(const QString &from, const QString &to)
{
	return fileRenamer ? fileRenamer(from, to) : moveFileNoReplace(from, to);
}

bool Engine::fileHeldByPlayer(const QString &path)
{
	if (fileHeldCheck && fileHeldCheck(path))
		return true;
	return replay.isLoaded(path) || recap.isLoaded(path) || highlightsHold(path);
}

void Engine::setRenameDue(RenameJob &job, long long dueMs)
{
	renameDue.erase({job.dueMs, job.seq});
	job.dueMs = dueMs;
	renameDue.insert({dueMs, job.seq});
}

void Engine::scheduleRename(const EntryRef &ref, long long delayMs)
{
	const long long due = wallMs() + delayMs;
	auto it =
	    std::find_if(renameJobs.begin(), renameJobs.end(), [&ref](const RenameJob &job) { return job.ref == ref; });
	if (it != renameJobs.end()) {
		setRenameDue(*it, due);
	} else {
		renameJobs.push_back(RenameJob{ref, due, 0, ++renameSeq});
		renameDue.insert({due, renameSeq});
	}
	if (!renameTimer.isActive())
		renameTimer.start();
}

void Engine::scheduleRenames(const Session &session, long long delayMs)
{
	const QString id = fromUtf8(session.id);
	for (const Entry &entry : session.entries) {
		if (ownsSavedClip(entry))
			scheduleRename(EntryRef{id, entry.id}, delayMs);
	}
}

void Engine::renameTick()
{
	const long long now = wallMs();
	renameDueClips(now);
	renameDueRemuxCopies(now);
	startPendingHighlights();
	if (renameJobs.empty() && remuxRenames.empty())
		renameTimer.stop();
}

void Engine::renameDueClips(long long now)
{
	// The due jobs, tried in the order they were queued.
	std::vector<long long> due;
	while (!renameDue.empty() && renameDue.begin()->first <= now) {
		due.push_back(renameDue.begin()->second);
		renameDue.erase(renameDue.begin());
	}
	std::sort(due.begin(), due.end());
	for (long long seq : due) {
		auto found = std::lower_bound(renameJobs.begin(), renameJobs.end(), seq,
					      [](const RenameJob &job, long long s) { return job.seq < s; });
		if (found == renameJobs.end() || found->seq != seq)
			continue;
		// renameClip never removes from the queue, so the job keeps its index.
		const auto i = found - renameJobs.begin();
		if (renameClip(*found)) {
			renameJobs.erase(renameJobs.begin() + i);
			continue;
		}
		RenameJob &job = renameJobs[size_t(i)];
		job.attempts += 1;
		if (job.attempts > EngineTiming::RenameMaxAttempts) {
			pluginLog(LOG_WARNING, "gave up renaming a clip (still in use after 10 minutes)");
			renameJobs.erase(renameJobs.begin() + i);
			continue;
		}
		setRenameDue(job, now + EngineTiming::RenameRetryMs);
	}
}

void Engine::renameDueRemuxCopies(long long now)
{
	for (size_t i = 0; i < remuxRenames.size();) {
		RemuxRename &item = remuxRenames[i];
		if (now < item.dueMs) {
			++i;
			continue;
		}
		// Every queued copy already failed once in renameClip, so a rename here is a late one.
		const bool gone = !QFile::exists(item.from);
		if (gone || renameFile(item.from, item.to)) {
			if ((!gone || item.attempts > 0) && QFile::exists(item.to))
				pluginLog(LOG_INFO, "remuxed copy renamed to %s", fileNameOf(toUtf8(item.to)).c_str());
			remuxRenames.erase(remuxRenames.begin() + long(i));
			continue;
		}
		item.attempts += 1;
		item.dueMs = now + EngineTiming::RenameRetryMs;
		if (item.attempts > EngineTiming::RenameMaxAttempts) {
			pluginLog(LOG_WARNING, "gave up renaming a remuxed copy (still in use after 10 minutes)");
			remuxRenames.erase(remuxRenames.begin() + long(i));
			continue;
		}
		++i;
	}
}

bool Engine::renameClip(RenameJob &job)
{
	if (!settings().rename_files)
		return true;
	Session *session = nullptr;
	Entry *entry = lookupEntry(job.ref, &session);
	if (!entry || !ownsSavedClip(*entry))
		return true;

	QString ownerId;
	if (clipOfEarlierSession(*session, entry->clip.path, &ownerId)) {
		pluginLog(LOG_INFO, "clip of session %s, not renamed for its copy %s (%s)", toUtf8(ownerId).c_str(),
			  session->id.c_str(), fileNameOf(entry->clip.path).c_str());
		return true;
	}

	const QString path = fromUtf8(entry->clip.path);
	if (fileHeldByPlayer(path))
		return false;
	const QFileInfo info(path);
	if (!info.exists()) {
		pluginLog(LOG_WARNING, "clip file is gone, not renamed (%s)", fileNameOf(entry->clip.path).c_str());
		return true;
	}

	const QString base = fromUtf8(clipBaseName(*session, *entry, texts));
	const QString suffix = info.suffix();
	const QDir dir = info.dir();
	const QString dotSuffix = suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix;
	QString target = dir.filePath(base + dotSuffix);
	if (target.compare(path, Qt::CaseInsensitive) == 0)
		return true;
	if (QFile::exists(target)) {
		for (int n = 2; n <= 999; ++n) {
			target = dir.filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(dotSuffix));
			if (!QFile::exists(target))
				break;
		}
	}

	if (!renameFile(path, target))
		return false;
	entry->clip.path = toUtf8(target);
	// OBS's automatic remux leaves a copy beside clips of other containers and fragmented ones.
	moveRemuxCopies(info, QFileInfo(target), entry->clip.saved_wall_ms);

	pluginLog(LOG_INFO, "clip renamed to %s", fileNameOf(toUtf8(target)).c_str());
	// At once: after a crash the entry must still name a file that exists.
	saveSessionNow(*session);
	return true;
}

bool Engine::clipOfEarlierSession(const Session &session, const std::string &path, QString *ownerId)
{
	// Loaded or only stored: an original trimmed from memory, or not read since a restart, counts alike.
	const auto namesClip = [this, &path, ownerId](const std::string &id, std::string *copyOf) {
		Session stored;
		auto loaded = sessions.find(fromUtf8(id));
		const Session *original = loaded != sessions.end() ? loaded->second.get() : nullptr;
		if (!original && loadSession(id, stored))
			original = &stored;
		if (!original)
			return false;
		if (copyOf)
			*copyOf = original->copy_of;
		if (std::none_of(original->entries.begin(), original->entries.end(),
				 [&path](const Entry &e) { return !e.clip.path.empty() && e.clip.path == path; }))
			return false;
		*ownerId = fromUtf8(id);
		return true;
	};
	// What the copy was copied from, and so on back; a copy never saves clips of its own.
	std::set<std::string> seen{session.id};
	for (std::string id = session.copy_of; !id.empty() && seen.insert(id).second;) {
		std::string next;
		if (namesClip(id, &next))
			return true;
		id = next;
	}
	// A copy an earlier release saved under its own id is known only by its file name ("X - Copy").
	QStringList ids = sessionIds();
	for (const QString &id : loadedSessionIds())
		if (!ids.contains(id))
			ids.append(id);
	for (const QString &id : ids) {
		const std::string other = toUtf8(id);
		if (other.size() < session.id.size() && session.id.find(other) != std::string::npos &&
		    namesClip(other, nullptr))
			return true;
	}
	return false;
}
