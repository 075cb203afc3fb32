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
	renames.setFileRenamer(std::move(renamer));
	fileHeldCheck = std::move(held);
}

bool Engine::renameFile(const QString &from, const QString &to)
{
	return renames.renameFile(from, to);
}

bool Engine::fileHeldByPlayer(const QString &path)
{
	if (fileHeldCheck && fileHeldCheck(path))
		return true;
	return playback.holds(path) || sessionExports.highlightsHold(path);
}

void Engine::scheduleRename(const EntryRef &ref, long long delayMs)
{
	renames.schedule(ref, delayMs);
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
	renames.tryDue();
	sessionExports.startPendingHighlights();
	if (renames.idle())
		renames.stop();
}

bool Engine::renameClip(const EntryRef &ref)
{
	if (!settings().rename_files)
		return true;
	Session *session = nullptr;
	Entry *entry = lookupEntry(ref, &session);
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

	const QString base = fromUtf8(clipBaseName(*session, *entry, sessionExports.texts()));
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
		const Session *original = cache.loaded(fromUtf8(id));
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
