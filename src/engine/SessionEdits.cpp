// Editing a session after the fact: labels, chapter flags, removals, shift and archive address.

#include "engine/SessionEdits.h"

#include "engine/EngineSupport.h"
#include "lists/ChapterCheck.h"

bool SessionEdits::refuseLong(const std::string &text, const char *what)
{
	if (!refuseLongText(text, what))
		return false;
	hooks.status(engineMessage(EngineText::TextTooLong, std::to_string(kMaxTextBytes)));
	return true;
}

void SessionEdits::setLabel(long long entryId, const QString &label, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;
	const std::string fresh = toUtf8(label.trimmed());
	if (fresh == entry->label || refuseLong(fresh, "label"))
		return;
	entry->label = fresh;
	// The clip's file name carries the label.
	if (const Entry *owner = session->savedClipOwner(*entry))
		hooks.rename(*session, owner->id);
	hooks.changed(*session);
}

void SessionEdits::setChapter(long long entryId, bool chapter, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry || entry->chapter == chapter)
		return;
	entry->chapter = chapter;
	hooks.changed(*session);
}

void SessionEdits::removeEntry(long long entryId, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (!entry)
		return;

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
			hooks.rename(*session, newOwner->id);
	}

	hooks.forget(*session, entryId);
	session->removeEntry(entryId);
	hooks.changed(*session);
}

void SessionEdits::setShift(long long shiftMs, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	if (!session || session->shift_ms == shiftMs)
		return;
	session->shift_ms = shiftMs;
	// Clip names hold archive times.
	hooks.rename(*session, 0);
	hooks.changed(*session);
}

void SessionEdits::setShiftToEntry(long long entryId, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	const Entry *entry = session ? session->findEntry(entryId) : nullptr;
	if (entry)
		setShift(entry->t_ms, fromUtf8(session->id));
}

void SessionEdits::setArchiveUrl(const QString &url, const QString &sessionId)
{
	Session *session = hooks.session(sessionId);
	if (!session)
		return;
	const std::string fresh = toUtf8(url.trimmed());
	if (fresh == session->archive_url || refuseLong(fresh, "archive address"))
		return;
	session->archive_url = fresh;
	hooks.changed(*session);
}

int SessionEdits::dropShortChapters()
{
	Session *session = hooks.session(QString());
	if (!session)
		return 0;
	const auto ids = shortChaptersToDrop(*session);
	for (const auto id : ids) {
		if (Entry *entry = session->findEntry(id))
			entry->chapter = false;
	}
	if (!ids.empty())
		hooks.changed(*session);
	return int(ids.size());
}
