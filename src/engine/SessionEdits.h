#pragma once

#include "session/Session.h"

#include <QString>

#include <functional>
#include <string>

// Editing a session after the fact: labels, chapter flags, removals, shift and archive address.
// Each edit names its session; an empty id means the viewed one. The dock names the session its row
// came from, since the viewed one may change while a menu or question is open.
class SessionEdits {
public:
	// What an edit needs from the Engine around it.
	struct Hooks {
		std::function<Session *(const QString &sessionId)> session; // the viewed one for an empty id
		std::function<void(const QString &text)> status;
		// The clip of the entry (every clip for 0) takes a new name soon.
		std::function<void(const Session &session, long long entryId)> rename;
		// Before an entry goes: a press of it waiting for a save is dropped.
		std::function<void(const Session &session, long long entryId)> forget;
		std::function<void(Session &session)> changed;
	};

	explicit SessionEdits(Hooks hooks) : hooks(std::move(hooks)) {}

	void setLabel(long long entryId, const QString &label, const QString &sessionId = QString());
	void setChapter(long long entryId, bool chapter, const QString &sessionId = QString());
	void removeEntry(long long entryId, const QString &sessionId = QString());
	void setShift(long long shiftMs, const QString &sessionId = QString());
	void setShiftToEntry(long long entryId, const QString &sessionId = QString());
	void setArchiveUrl(const QString &url, const QString &sessionId = QString());
	// Of the viewed session; how many chapters were dropped.
	int dropShortChapters();

private:
	// True, with a status message, when an edited text is too long to take.
	bool refuseLong(const std::string &text, const char *what);

	Hooks hooks;
};
