// Editing a session after the fact: labels, chapter flags, removals, shift and archive address.

#include "engine/Engine.h"

#include "engine/EngineSupport.h"
#include "lists/ChapterCheck.h"

#include <algorithm>

Session *Engine::editedSession(const QString &sessionId)
{
	return sessionId.isEmpty() ? viewedSession() : findSession(sessionId);
}

bool Engine::refuseLongEdit(const std::string &text, const char *what)
{
	if (!refuseLongText(text, what))
		return false;
	setStatus(engineMessage(EngineText::TextTooLong, std::to_string(kMaxTextBytes)));
	return true;
}

void Engine::setLabel(long long entryId, const QString &label, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;
	const std::string fresh = toUtf8(label.trimmed());
	if (fresh == entry->label || refuseLongEdit(fresh, "label"))
		return;
	entry->label = fresh;
	// The clip's file name carries the label.
	if (const Entry *owner = session->savedClipOwner(*entry))
		scheduleRename(EntryRef{fromUtf8(session->id), owner->id}, EngineTiming::RenameAfterEditMs);
	touchSession(*session);
}

void Engine::setChapter(long long entryId, bool chapter, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry || entry->chapter == chapter)
		return;
	entry->chapter = chapter;
	touchSession(*session);
}

void Engine::removeEntry(long long entryId, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;
	const QString ownId = fromUtf8(session->id);

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
			scheduleRename(EntryRef{ownId, newOwner->id}, EngineTiming::RenameAfterEditMs);
	}

	const EntryRef ref{ownId, entryId};
	waitingPresses.erase(std::remove(waitingPresses.begin(), waitingPresses.end(), ref), waitingPresses.end());
	session->removeEntry(entryId);
	touchSession(*session);
}

void Engine::setShift(long long shiftMs, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	if (!session || session->shift_ms == shiftMs)
		return;
	session->shift_ms = shiftMs;
	// Clip names hold archive times.
	scheduleRenames(*session, EngineTiming::RenameAfterEditMs);
	touchSession(*session);
}

void Engine::setShiftToEntry(long long entryId, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	const Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (entry)
		setShift(entry->t_ms, fromUtf8(session->id));
}

void Engine::setArchiveUrl(const QString &url, const QString &sessionId)
{
	Session *session = editedSession(sessionId);
	if (!session)
		return;
	const std::string fresh = toUtf8(url.trimmed());
	if (fresh == session->archive_url || refuseLongEdit(fresh, "archive address"))
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
