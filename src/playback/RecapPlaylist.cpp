#include "playback/RecapPlaylist.h"

#include "util/ObsMedia.h"
#include "session/Session.h"

#include <QFileInfo>

#include <algorithm>
#include <set>

namespace {
QString memoOf(RecapSessions &sessions, const Entry &entry)
{
	return sessions.hasOwnLabel(entry) ? QString::fromStdString(entry.label) : QString();
}

std::vector<RecapItem> itemsOf(RecapSessions &sessions, const Session &session)
{
	std::vector<RecapItem> found;
	for (const Entry &entry : session.entries) {
		if (entry.kind != EntryKind::Press && entry.kind != EntryKind::Save)
			continue;
		const Entry *owner = session.savedClipOwner(entry);
		if (!owner)
			continue;
		const QString path = QString::fromStdString(owner->clip.path);
		if (QFileInfo(path).isFile())
			found.push_back({entry.id, path, memoOf(sessions, entry), entry.t_ms});
	}
	return found;
}

// Memo items first by time, then the rest by time; each file once.
std::vector<RecapItem> ordered(std::vector<RecapItem> items)
{
	std::stable_sort(items.begin(), items.end(), [](const RecapItem &a, const RecapItem &b) {
		if (a.memo.isEmpty() != b.memo.isEmpty())
			return !a.memo.isEmpty();
		return a.tMs < b.tMs;
	});
	std::set<QString> keys;
	std::vector<RecapItem> unique;
	for (RecapItem &item : items)
		if (keys.insert(recapFileKey(item.path)).second)
			unique.push_back(std::move(item));
	return unique;
}
} // namespace

QString recapFileKey(const QString &path)
{
	if (path.isEmpty())
		return {};
	QFileInfo info(path);
	QString canonical = info.canonicalFilePath();
	if (canonical.isEmpty())
		canonical = info.absoluteFilePath();
	return normalizedPathKey(canonical);
}

bool refreshRecapItem(RecapSessions &sessions, const Session *session, RecapItem &item)
{
	const Entry *entry = session ? session->findEntry(item.entryId) : nullptr;
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return false;
	item.path = QString::fromStdString(owner->clip.path);
	item.memo = memoOf(sessions, *entry);
	return true;
}

RecapPlaylist chooseRecapPlaylist(RecapSessions &sessions)
{
	// Ids begin with the start time, so the list is newest first and the walk stops at the first
	// stream that has clips instead of loading every stored session.
	const QString running = sessions.runningSessionId();
	RecapPlaylist other;
	for (const QString &id : sessions.sessionIds()) {
		if (id == running)
			continue;
		Session *session = sessions.findSession(id);
		if (!session || session->end_wall_ms == 0)
			continue;
		const bool stream = session->source == SessionSource::Stream;
		if (!stream && !other.sessionId.empty())
			continue;
		std::vector<RecapItem> found = itemsOf(sessions, *session);
		if (found.empty())
			continue;
		if (stream)
			return {session->id, ordered(std::move(found))};
		other = {session->id, std::move(found)};
	}
	other.items = ordered(std::move(other.items));
	return other;
}
