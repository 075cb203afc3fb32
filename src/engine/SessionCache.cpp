#include "engine/SessionCache.h"

#include "engine/EngineSupport.h"
#include "session/SessionStore.h"
#include "util/ModuleCore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
QString writeProblemText(int error)
{
	switch (error) {
	case ENOSPC:
#ifdef EDQUOT
	case EDQUOT:
#endif
		return moduleQText(EngineText::WhyDiskFull);
	case EACCES:
	case EPERM:
	case EROFS:
		return moduleQText(EngineText::WhyNoAccess);
	case EBUSY:
#ifdef ETXTBSY
	case ETXTBSY:
#endif
		return moduleQText(EngineText::WhyInUse);
	case 0:
		return moduleQText(EngineText::WhyUnknown);
	default:
		return QString::fromLocal8Bit(std::strerror(error));
	}
}
} // namespace

SessionCache::SessionCache(std::function<long long()> wallMs, QObject *parent)
    : QObject(parent), wallMs(std::move(wallMs)), writer([this] {
	      QMetaObject::invokeMethod(
		  this, [this] { takeWriteOutcomes(); }, Qt::QueuedConnection);
      })
{
	saveDelay.setSingleShot(true);
	saveDelay.setInterval(EngineTiming::SaveDelayMs);
	connect(&saveDelay, &QTimer::timeout, this, &SessionCache::flush);
	saveRetry.setSingleShot(true);
	connect(&saveRetry, &QTimer::timeout, this, &SessionCache::flush);
}

Session *SessionCache::loaded(const QString &id) const
{
	auto it = sessions.find(id);
	return it == sessions.end() ? nullptr : it->second.get();
}

Session &SessionCache::add(const QString &id, std::unique_ptr<Session> session)
{
	Session &added = *session;
	sessions[id] = std::move(session);
	return added;
}

QStringList SessionCache::loadedIds() const
{
	QStringList ids;
	for (const auto &item : sessions)
		ids.append(item.first);
	return ids;
}

void SessionCache::unload(const std::set<QString> &droppable, const std::set<QString> &keep)
{
	auto unsaved = [this](const QString &id) { return dirtySessions.count(id) || writesInFlight.count(id); };
	for (auto it = sessions.begin(); it != sessions.end();)
		it = droppable.count(it->first) && !keep.count(it->first) && !unsaved(it->first) ? sessions.erase(it)
												 : std::next(it);
}

void SessionCache::forget(const QString &id)
{
	dirtySessions.erase(id);
	writesInFlight.erase(id);
	sessions.erase(id);
	if (failedSessions.erase(id) && failedSessions.empty()) {
		saveProblem.clear();
		saveRetry.stop();
		saveRetryMs = 0;
	}
}

void SessionCache::markDirty(const QString &id)
{
	if (id.isEmpty())
		return;
	// The delay restarts with every change but never runs past the cap from the first unsaved one,
	// so a steady stream of marks still reaches the disk.
	const long long now = wallMs();
	if (dirtySessions.empty() || !saveDelay.isActive())
		firstDirtyWallMs = now;
	dirtySessions.insert(id);
	const long long left = firstDirtyWallMs + EngineTiming::SaveCapMs - now;
	saveDelay.start(int(std::clamp<long long>(left, 0, EngineTiming::SaveDelayMs)));
}

void SessionCache::flush()
{
	// Swap first: a save must not see ids added while it runs twice.
	std::set<QString> ids;
	ids.swap(dirtySessions);
	for (const QString &id : ids) {
		auto it = sessions.find(id);
		if (it != sessions.end())
			store(*it->second);
	}
}

void SessionCache::store(Session &session)
{
	const QString id = fromUtf8(session.id);
	// From here a change is a newer text; the one taken now is unsaved until its outcome comes.
	dirtySessions.erase(id);
	std::string path = sessionFilePath(session);
	if (path.empty()) {
		noteWrite(id, session.prefix, false, 0);
		return;
	}
	writesInFlight[id] = writer.submit(session.id, std::move(path), sessionToJson(session));
}

void SessionCache::waitForWrites()
{
	writer.wait();
	takeWriteOutcomes();
}

void SessionCache::dropWrites(const QString &id)
{
	writer.drop(toUtf8(id));
}

void SessionCache::writeAgain(const QString &id)
{
	if (writesInFlight.erase(id))
		markDirty(id);
}

std::vector<QString> SessionCache::unwrittenIds() const
{
	std::vector<QString> ids;
	for (const auto &item : writesInFlight)
		ids.push_back(item.first);
	return ids;
}

void SessionCache::stopTimers()
{
	saveDelay.stop();
	saveRetry.stop();
}

void SessionCache::takeWriteOutcomes()
{
	for (const SessionWriteOutcome &outcome : writer.takeOutcomes()) {
		const QString id = fromUtf8(outcome.id);
		auto session = sessions.find(id);
		if (session != sessions.end())
			releaseFreedPagesSoon(session->second->entries.size());
		// A removed session's write, or one a newer text has overtaken: the newest one decides.
		auto it = writesInFlight.find(id);
		if (it == writesInFlight.end() || it->second != outcome.ticket)
			continue;
		writesInFlight.erase(it);
		noteWrite(id, session != sessions.end() ? session->second->prefix : outcome.id, outcome.saved,
			  outcome.error);
	}
}

void SessionCache::noteWrite(const QString &id, const std::string &prefix, bool saved, int error)
{
	if (saved) {
		// A change made after the text was taken is still to be written; its write decides.
		if (dirtySessions.count(id) || !failedSessions.erase(id) || !failedSessions.empty())
			return;
		saveRetry.stop();
		saveRetryMs = 0;
		saveProblem.clear();
		pluginLog(LOG_INFO, "session files are written again (%s last)", toUtf8(id).c_str());
		emit savedAgain();
		return;
	}
	// Never forgotten: it stays unsaved, so it is neither trimmed nor dropped, until a write lands.
	dirtySessions.insert(id);
	failedSessions.insert(id);
	if (!closed && !saveRetry.isActive()) {
		saveRetryMs = saveRetryMs == 0 ? EngineTiming::SaveRetryFirstMs
					       : std::min(saveRetryMs * 2, EngineTiming::SaveRetryMaxMs);
		saveRetry.start(saveRetryMs);
	}
	if (!saveProblem.isEmpty())
		return;
	const QString why = writeProblemText(error);
	pluginLog(LOG_WARNING, "session %s could not be saved (%s), trying again", toUtf8(id).c_str(),
		  why.toUtf8().constData());
	saveProblem = engineMessage(EngineText::SessionNotSaved, prefix, toUtf8(why));
	emit problemChanged();
}
