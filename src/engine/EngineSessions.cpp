// Session lifecycle: starting, ending, finding, repairing, viewing, removing and delayed saving.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "session/Saturating.h"
#include "lists/Lists.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

Session *Engine::currentSession()
{
	return currentId.isEmpty() ? nullptr : cache.loaded(currentId);
}

Session *Engine::findSession(const QString &id)
{
	if (id.isEmpty())
		return nullptr;
	if (Session *loaded = cache.loaded(id))
		return loaded;
	const std::string plain = toUtf8(id);
	if (!isPlainSessionId(plain))
		return nullptr;
	auto session = std::make_unique<Session>();
	if (!loadSession(plain, *session))
		return nullptr;
	// A stored session that never got its end (OBS quit first) is closed at its last mark.
	const bool unfinished = !session->isEnded() && id != currentId;
	if (unfinished) {
		int64_t last = 0;
		for (const Entry &e : session->entries)
			last = std::max(last, e.t_ms);
		session->length_ms = last;
		session->end_wall_ms = satAdd(satAdd(session->start_wall_ms, last), 1);
	}
	Session *raw = &cache.add(id, std::move(session));
	if (unfinished)
		cache.store(*raw);
	// The quotes file and the recap read every stored session; they must not all stay loaded.
	if (!stopped)
		sessionTrim.start();
	return raw;
}

void Engine::trimLoadedSessions()
{
	std::set<QString> keep{currentId, viewedId, playback.recap().status().sessionId};
	keep.insert(sessionExports.dirtyIds().begin(), sessionExports.dirtyIds().end());
	for (const std::vector<EntryRef> *queue : {&waitingPresses, &pendingPresses})
		for (const EntryRef &ref : *queue)
			keep.insert(ref.sessionId);
	for (const QString &id : renames.sessionIds())
		keep.insert(id);
	// Only what can be read back goes: a session whose file could not be written stays.
	std::set<QString> droppable;
	const std::vector<std::string> stored = listSessionIds();
	for (size_t i = 0; i < stored.size(); ++i)
		if (i >= EngineTiming::KeptStoredSessions)
			droppable.insert(fromUtf8(stored[i]));
	cache.unload(droppable, keep);
}

Session *Engine::viewedSession()
{
	return findSession(viewedId);
}

QStringList Engine::sessionIds()
{
	std::vector<std::string> stored = listSessionIds();
	// A session whose first write is still queued has no file yet.
	bool added = false;
	for (const QString &unwritten : cache.unwrittenIds()) {
		std::string id = toUtf8(unwritten);
		if (std::find(stored.begin(), stored.end(), id) == stored.end()) {
			stored.push_back(std::move(id));
			added = true;
		}
	}
	if (added)
		std::sort(stored.begin(), stored.end(),
			  [](const std::string &a, const std::string &b) { return a + ".json" > b + ".json"; });
	QStringList ids;
	for (const std::string &id : stored)
		ids.append(fromUtf8(id));
	if (!currentId.isEmpty() && !ids.contains(currentId))
		ids.prepend(currentId);
	return ids;
}

QStringList Engine::loadedSessionIds() const
{
	return cache.loadedIds();
}

void Engine::viewSession(const QString &id)
{
	if (id == viewedId || !findSession(id))
		return;
	viewedId = id;
	emit sessionChanged();
}

bool Engine::removeSession(const QString &id)
{
	if (id.isEmpty() || id == currentId || !findSession(id))
		return false;
	// A queued write landing after the delete would bring the file back.
	cache.dropWrites(id);
	// A file that stays would bring the session back at the next listing: report that, change nothing.
	// No file at all (its writes never landed) is no failure.
	removeSessionFiles(toUtf8(id));
	if (sessionFilesExist(toUtf8(id))) {
		cache.writeAgain(id);
		pluginLog(LOG_WARNING, "session %s not removed (file not deleted)", id.toUtf8().constData());
		return false;
	}

	forgetSession(id);
	pluginLog(LOG_INFO, "session %s removed (file deleted)", id.toUtf8().constData());

	if (viewedId == id) {
		viewedId = currentId;
		if (viewedId.isEmpty()) {
			for (const std::string &other : listSessionIds()) {
				if (findSession(fromUtf8(other))) {
					viewedId = fromUtf8(other);
					break;
				}
			}
		}
	}
	setStatus(engineMessage(EngineText::SessionRemoved));
	emit sessionListChanged();
	emit sessionChanged();
	return true;
}

void Engine::forgetSession(const QString &id)
{
	sessionExports.forgetSession(id);
	auto ofSession = [&id](const EntryRef &ref) { return ref.sessionId == id; };
	waitingPresses.erase(std::remove_if(waitingPresses.begin(), waitingPresses.end(), ofSession),
			     waitingPresses.end());
	renames.forgetSession(id);
	cache.forget(id);
}

long long Engine::offsetAt(long long atNs) const
{
	if (currentId.isEmpty())
		return 0;
	long long pausedNs = pausedTotalNs;
	if (pausedSinceNs != 0 && pausedSinceNs < atNs)
		pausedNs += atNs - pausedSinceNs;
	const long long ms = (atNs - startNs - pausedNs) / 1000000;
	return ms > 0 ? ms : 0;
}

long long Engine::offsetNow() const
{
	return offsetAt(monotonicNs());
}

long long backdateByFrames(long long nowNs, long long frames, unsigned fpsNum, unsigned fpsDen)
{
	if (fpsNum == 0 || frames <= 0)
		return nowNs;
	// frames * den * 1e9 / num, split so that long streams cannot overflow.
	const long long ticks = frames * (long long)fpsDen;
	const long long whole = ticks / fpsNum;
	const long long rest = ticks % fpsNum;
	const long long framesNs = whole * 1000000000LL + rest * 1000000000LL / fpsNum;
	return framesNs > 0 ? nowNs - framesNs : nowNs;
}

long long Engine::recordingStartTime(obs_output_t *output) const
{
	const long long now = monotonicNs();
	obs_video_info ovi = {};
	if (!output || !obs_get_video_info(&ovi) || ovi.fps_num == 0)
		return now;
	return backdateByFrames(now, obs_output_get_total_frames(output), ovi.fps_num, ovi.fps_den);
}

namespace {
struct SessionNames {
	QString id;     // the file's name: the start second, numbered when taken
	QString prefix; // of clip and list names: the start minute, or second when the minute is taken
};

SessionNames newSessionNames(const QDateTime &start, const QStringList &taken)
{
	const QString baseId = start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
	SessionNames names{baseId, QString()};
	int suffix = 0;
	for (int n = 2; taken.contains(names.id); ++n) {
		names.id = baseId + QLatin1Char('_') + QString::number(n);
		suffix = n;
	}

	const QString minute = start.toString(QStringLiteral("yyyy-MM-dd_HH-mm"));
	const bool minuteTaken =
	    std::any_of(taken.begin(), taken.end(), [&minute](const QString &t) { return t.startsWith(minute); });
	names.prefix =
	    start.toString(minuteTaken ? QStringLiteral("yyyy-MM-dd HH-mm-ss") : QStringLiteral("yyyy-MM-dd HH-mm"));
	if (suffix > 0)
		names.prefix += QStringLiteral(" (%1)").arg(suffix);
	return names;
}
} // namespace

void Engine::startSession(SessionSource source, long long sessionStartNs)
{
	if (stopped)
		return;
	if (currentSession())
		endSession();

	const long long startWallMs = wallMs() - (monotonicNs() - sessionStartNs) / 1000000;
	QStringList taken;
	for (const std::string &id : listSessionIds())
		taken.append(fromUtf8(id));
	taken += cache.loadedIds();
	const SessionNames names = newSessionNames(QDateTime::fromMSecsSinceEpoch(startWallMs), taken);
	const QString id = names.id;

	auto session = std::make_unique<Session>();
	session->id = toUtf8(id);
	session->prefix = toUtf8(names.prefix);
	session->source = source;
	session->start_wall_ms = startWallMs;

	startNs = sessionStartNs;
	pausedTotalNs = 0;
	pausedSinceNs = 0;
	lastScene = currentSceneName();

	if (source != SessionSource::Free && settings().marks_start) {
		Entry mark;
		mark.kind = EntryKind::Start;
		mark.t_ms = 0;
		mark.wall_ms = startWallMs;
		mark.label = moduleText(EngineText::StartLabel);
		mark.chapter = true;
		session->addEntry(std::move(mark));
	}

	currentId = viewedId = id;
	Session &stored = cache.add(id, std::move(session));
	cache.store(stored);

	if (source != SessionSource::Free)
		playback.sessionStarted();

	pluginLog(LOG_INFO, "session %s started (%s)", stored.id.c_str(), sessionSourceText(source));
	emit sessionListChanged();
	emit sessionChanged();
	emit statusChanged();
}

void Engine::endSession()
{
	Session *session = currentSession();
	if (!session)
		return;
	session->length_ms = offsetNow();
	session->end_wall_ms = wallMs();
	currentId.clear();
	pausedSinceNs = 0;

	scheduleRenames(*session, 0);
	const QStringList written = sessionExports.writeSessionLists(*session);
	cache.store(*session);

	pluginLog(LOG_INFO, "session %s ended (%lld ms, %zu marks, %d files written)", session->id.c_str(),
		  (long long)session->length_ms, session->entries.size(), int(written.size()));
	if (!written.isEmpty())
		setStatus(engineMessage(EngineText::Exported, toUtf8(QDir(exportFolder(*session)).dirName())));

	emit notify(SessionEndedEvent{session->id, session->length_ms});
	if (session->source != SessionSource::Free && settings().highlights_video)
		sessionExports.highlightsAfterRenames(fromUtf8(session->id), renames.running());

	emit sessionListChanged();
	emit sessionChanged();
	emit statusChanged();
}

bool Engine::startFreeSession()
{
	if (stopped || !ready || currentSession() || obs_frontend_streaming_active() || obs_frontend_recording_active())
		return false;
	startSession(SessionSource::Free, monotonicNs());
	return true;
}

bool Engine::endFreeSession()
{
	Session *session = currentSession();
	if (stopped || !ready || !session || session->source != SessionSource::Free ||
	    obs_frontend_streaming_active() || obs_frontend_recording_active())
		return false;
	endSession();
	return true;
}

void Engine::onStreamingStarted()
{
	if (stopped)
		return;
	Session *session = currentSession();
	if (session && session->source == SessionSource::Stream)
		return;
	OBSOutputAutoRelease output = obs_frontend_get_streaming_output();
	startSession(SessionSource::Stream, recordingStartTime(output));
	autoStartBuffer();
}

void Engine::onStreamingStopped()
{
	Session *session = currentSession();
	if (session && session->source == SessionSource::Stream)
		endSession();
}

void Engine::onRecordingStarted()
{
	if (stopped)
		return;
	chaptersAdded = 0;
	chapterWarned = false;
	Session *session = currentSession();
	if (session && session->source != SessionSource::Free)
		return;
	OBSOutputAutoRelease output = obs_frontend_get_recording_output();
	startSession(SessionSource::Recording, recordingStartTime(output));
}

void Engine::onRecordingStopped()
{
	Session *session = currentSession();
	if (session && session->source == SessionSource::Recording)
		endSession();
	chaptersAdded = 0;
	chapterWarned = false;
}

void Engine::onRecordingPaused()
{
	Session *session = currentSession();
	if (session && session->source == SessionSource::Recording && pausedSinceNs == 0)
		pausedSinceNs = monotonicNs();
}

void Engine::onRecordingUnpaused()
{
	Session *session = currentSession();
	if (session && session->source == SessionSource::Recording && pausedSinceNs != 0) {
		pausedTotalNs += monotonicNs() - pausedSinceNs;
		pausedSinceNs = 0;
	}
}

void Engine::onFinishedLoading()
{
	ready = true;
	if (obs_frontend_replay_buffer_active() && buffer.startWallMs() == 0)
		buffer.started(wallMs());
	lastScene = currentSceneName();
	playback.finishedLoading();
	if (viewedId.isEmpty()) {
		const std::vector<std::string> ids = listSessionIds();
		if (!ids.empty() && findSession(fromUtf8(ids.front())))
			viewedId = fromUtf8(ids.front());
	}
	emit sessionListChanged();
	emit sessionChanged();
	emit statusChanged();
}

void Engine::shutdown()
{
	if (stopped)
		return;
	sessionExports.closeHighlights();
	playback.shutdown();
	settleFreshClips();
	if (currentSession())
		endSession();
	renameTick();
	stopped = true;
	cache.close();
	// Queued writes land first, so a failed one gets its last try below and nothing older lands after.
	waitForWrites();
	flushSaves();
	sessionExports.flush();
	flushSaves(); // an export folder the lists just got
	waitForWrites();
	saveTimeout.stop();
	freshWatch.stop();
	renames.stop();
	cache.stopTimers();
}

void Engine::touchSession(Session &session)
{
	const QString id = fromUtf8(session.id);
	cache.markDirty(id);
	sessionExports.sessionEdited(session);
	if (id == viewedId)
		emit sessionChanged();
}

void Engine::flushSaves()
{
	cache.flush();
}

void Engine::waitForWrites()
{
	cache.waitForWrites();
}
