// Editing a session after the fact: labels, chapter flags, removals, shift and archive address.

#include "engine/Engine.h"

#include "engine/EngineInternal.h"
#include "lists/ChapterCheck.h"

#include <algorithm>

void Engine::setLabel(long long entryId, const QString &label, const QString &sessionId)
{
	Session *session = sessionId.isEmpty() ? viewedSession() : findSession(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;
	const std::string fresh = toUtf8(label.trimmed());
	if (fresh == entry->label || refuseLongText(fresh, "label"))
		return;
	entry->label = fresh;
	// The clip's file name carries the label.
	if (entry->clip.state == ClipState::Saved) {
		const long long ownerId = entry->clip.shared_with != 0 ? entry->clip.shared_with : entry->id;
		scheduleRename(EntryRef{fromUtf8(session->id), ownerId}, EngineTiming::RenameAfterEditMs);
	}
	touchSession(*session);
}

void Engine::setChapter(long long entryId, bool chapter)
{
	Session *session = viewedSession();
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry || entry->chapter == chapter)
		return;
	entry->chapter = chapter;
	touchSession(*session);
}

void Engine::removeEntry(long long entryId)
{
	Session *session = viewedSession();
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;
	const QString sessionId = fromUtf8(session->id);

	// The file goes to the first press that shared it, so the others keep their clip.
	if (entry->clip.state == ClipState::Saved && entry->clip.shared_with == 0) {
		const std::string path = entry->clip.path;
		Entry *newOwner = nullptr;
		for (Entry &other : session->entries) {
			if (other.id == entryId || other.clip.shared_with != entryId)
				continue;
			if (!newOwner) {
				newOwner = &other;
				other.clip.shared_with = 0;
				other.clip.path = path;
			} else {
				other.clip.shared_with = newOwner->id;
			}
		}
		if (newOwner)
			scheduleRename(EntryRef{sessionId, newOwner->id}, EngineTiming::RenameAfterEditMs);
	}

	const EntryRef ref{sessionId, entryId};
	waitingPresses.erase(std::remove(waitingPresses.begin(), waitingPresses.end(), ref), waitingPresses.end());
	session->removeEntry(entryId);
	touchSession(*session);
}

void Engine::setShift(long long shiftMs)
{
	Session *session = viewedSession();
	if (!session || session->shift_ms == shiftMs)
		return;
	session->shift_ms = shiftMs;
	// Clip names hold archive times.
	scheduleRenames(*session, EngineTiming::RenameAfterEditMs);
	touchSession(*session);
}

void Engine::setShiftToEntry(long long entryId)
{
	Session *session = viewedSession();
	const Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (entry)
		setShift(entry->t_ms);
}

void Engine::setArchiveUrl(const QString &url)
{
	Session *session = viewedSession();
	if (!session)
		return;
	const std::string fresh = toUtf8(url.trimmed());
	if (fresh == session->archive_url || refuseLongText(fresh, "archive address"))
		return;
	session->archive_url = fresh;
	touchSession(*session);
}

int Engine::dropShortChapters()
{
	Session *session = viewedSession();
	if (!session)
		return 0;
	const auto ids = shortChaptersToDrop(*session);
	for (const auto id : ids) {
		if (Entry *entry = session->findEntry(id))
			entry->chapter = false;
	}
	if (!ids.empty())
		touchSession(*session);
	return int(ids.size());
}
