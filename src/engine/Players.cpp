// A press's replay is made from memory when it can be; its saved clip is the fall-back.

#include "engine/Players.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "playback/ReplayScene.h"
#include "util/ModuleCore.h"

#include <obs-frontend-api.h>

#include <algorithm>

Players::Players(std::unique_ptr<RecapSessions> sessions, Clock wallMs, PressLabel pressLabel)
    : wallMs(std::move(wallMs)), pressLabel(std::move(pressLabel)), sessions(std::move(sessions)),
      recapPlayer(*this->sessions)
{
	connect(&instant, &InstantReplay::started, this, &Players::onReplayStarted);
	connect(&instant, &InstantReplay::finished, this, &Players::onReplayFinished);
	connect(&recapPlayer, &Recap::clipStarted, this, &Players::onRecapClipStarted);
	connect(&memory, &MemoryReplay::fileReady, this, &Players::onMemoryFileReady);
	connect(&memory, &MemoryReplay::fileFailed, this, &Players::onMemoryFileFailed);
	connect(&memory, &MemoryReplay::fileComplete, this, &Players::onMemoryFileComplete);
}

Players::~Players() = default;

bool Players::replayEntry(Session *session, long long entryId)
{
	Entry *entry = session ? session->findEntry(entryId) : nullptr;
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return false;
	replayRequestWallMs = wallMs();
	return instant.play(fromUtf8(owner->clip.path), owner->id);
}

void Players::stopAll()
{
	stopMemoryReplay();
	instant.abort();
	recapPlayer.reset();
}

void Players::shutdown()
{
	closed = true;
	memory.stop();
	memory.waitForWorker();
	stopAll();
}

void Players::bufferStarted()
{
	// start drops the memory of the buffer's last run.
	if (settings().replay_from_memory)
		memory.start(settings().replay_seconds, true);
	else
		memory.stop();
}

void Players::finishedLoading()
{
	recapPlayer.start();
	if (instant.state() == InstantReplay::State::Idle)
		resetReplayScene();
}

void Players::sessionStarted()
{
	if (instant.state() != InstantReplay::State::Idle)
		return;
	resetReplayScene();
	instant.clearProblem();
}

void Players::playSaved(const QString &path, long long entryId, const std::string &names, const std::string &timeText,
			long long reportedNs)
{
	if (!instant.play(path, entryId, reportedNs))
		emit status(engineMessage(EngineText::SavedNoReplay, names, timeText));
}

bool Players::startMemoryReplay(const EntryRef &ref, long long pressNs)
{
	if (!settings().replay_from_memory) {
		memory.stop();
		return false;
	}
	// Switched on while the buffer runs: this press waits for its clip, the next ones need not.
	if (!memory.capturing() && obs_frontend_replay_buffer_active())
		memory.start(settings().replay_seconds, false);
	std::string why;
	const long long request = memory.request(settings().replay_seconds, pressNs, why);
	if (!request) {
		pluginLog(LOG_INFO, "replay from memory: not possible (%s); the replay waits for the saved clip",
			  why.c_str());
		return false;
	}
	// A later replay press takes over; the file of an earlier one is dropped when it arrives.
	memoryStep = MemoryStep::Making;
	memoryRef = ref;
	memoryRequest = request;
	return true;
}

void Players::applyReplaySettings()
{
	const bool want = settings().replay_from_memory && obs_frontend_replay_buffer_active();
	if (!want)
		memory.stop();
	else if (!memory.capturing())
		memory.start(settings().replay_seconds, false);
	else
		memory.keep(settings().replay_seconds);
}

void Players::onMemoryFileReady(const QString &path, long long request)
{
	const bool wanted = !closed && memoryStep == MemoryStep::Making && memoryRequest == request;
	Session *session = wanted ? sessions->findSession(memoryRef.sessionId) : nullptr;
	const Entry *entry = session ? session->findEntry(memoryRef.entryId) : nullptr;
	if (!entry) {
		memory.removeFile(path);
		return;
	}
	replayRequestWallMs = entry->wall_ms;
	memoryFile = path;
	memoryStep = MemoryStep::Playing;
	if (!instant.playGrowing(path, memoryRef.entryId)) {
		memory.removeFile(path);
		memoryFile.clear();
		onMemoryFileFailed(QStringLiteral("the player refused it"), request);
	}
}

void Players::onMemoryFileComplete(const QString &path, long long request, long long lengthMs)
{
	if (memoryStep == MemoryStep::Playing && memoryRequest == request)
		instant.growingEnds(path, lengthMs);
}

void Players::onMemoryFileFailed(const QString &why, long long request)
{
	if (memoryRequest != request || memoryStep == MemoryStep::None)
		return;
	pluginLog(LOG_WARNING, "replay from memory: failed (%s); the replay waits for the saved clip",
		  why.toUtf8().constData());
	const EntryRef ref = memoryRef;
	memoryStep = MemoryStep::None;
	memoryRef = EntryRef{};
	// Usually the save is still on its way and plays when it comes; when it came first, play it now.
	Session *session = sessions->findSession(ref.sessionId);
	const Entry *entry = session ? session->findEntry(ref.entryId) : nullptr;
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return;
	playSaved(fromUtf8(owner->clip.path), owner->id, pressLabel(entry->number),
		  formatOffset(archiveOffset(*session, entry->t_ms)));
}

void Players::stopMemoryReplay()
{
	if (memoryStep == MemoryStep::Making) {
		memoryStep = MemoryStep::None;
		memoryRef = EntryRef{};
	}
}

bool Players::memoryServes(const std::vector<EntryRef> &batch) const
{
	return memoryStep != MemoryStep::None && std::find(batch.begin(), batch.end(), memoryRef) != batch.end();
}

std::string Players::replayEventFile(const QString &path, long long entryId)
{
	if (!memory.isReplayFile(path))
		return fileNameOf(toUtf8(path));
	Session *session = sessions->findSession(memoryRef.sessionId);
	const Entry *entry = session ? session->findEntry(entryId) : nullptr;
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return std::string();
	return fileNameOf(owner->clip.path);
}

void Players::onReplayStarted(const QString &path, long long entryId)
{
	const long long latency = wallMs() - replayRequestWallMs;
	replayLatencyMs = latency < 1 ? 0 : latency;
	emit status(engineMessage(EngineText::ReplayLatency,
				  toUtf8(QString::number(double(replayLatencyMs) / 1000.0, 'f', 1))));

	emit notify(ReplayStartedEvent{replayEventFile(path, entryId), entryId, settings().replay_seconds,
				       settings().replay_speed, replayLatencyMs, instant.repeatsPlanned()});
}

void Players::onReplayFinished(const QString &path, long long entryId)
{
	emit notify(ReplayEndedEvent{replayEventFile(path, entryId), entryId});
	if (!memory.isReplayFile(path))
		return;
	memory.removeFile(path);
	// Only the replay's own end: meanwhile a later press may be making its file. A file the player
	// could not start leaves the press to its saved clip.
	if (memoryStep == MemoryStep::Playing && path == memoryFile) {
		memoryFile.clear();
		if (instant.problem() != InstantReplay::Problem::NoProblem)
			onMemoryFileFailed(QStringLiteral("its file did not play"), memoryRequest);
		else
			memoryStep = MemoryStep::None;
	}
}

void Players::onRecapClipStarted(const QString &file, const QString &memo, int index, int count)
{
	emit notify(RecapClipEvent{fileNameOf(toUtf8(file)), toUtf8(memo), index, count});
}
