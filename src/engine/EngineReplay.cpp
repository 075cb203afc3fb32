// Replays made from the encoder's packets in memory; the saved clip is the fall-back.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "util/ModuleCore.h"

#include <obs-frontend-api.h>

#include <algorithm>

bool Engine::startMemoryReplay(const EntryRef &ref, long long pressNs)
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

void Engine::applyReplaySettings()
{
	const bool want = settings().replay_from_memory && obs_frontend_replay_buffer_active();
	if (!want)
		memory.stop();
	else if (!memory.capturing())
		memory.start(settings().replay_seconds, false);
	else
		memory.keep(settings().replay_seconds);
}

void Engine::onMemoryFileReady(const QString &path, long long request)
{
	Session *session = nullptr;
	Entry *entry = nullptr;
	if (!stopped && memoryStep == MemoryStep::Making && memoryRequest == request)
		entry = lookupEntry(memoryRef, &session);
	if (!entry) {
		memory.removeFile(path);
		return;
	}
	replayRequestWallMs = entry->wall_ms;
	memoryFile = path;
	memoryStep = MemoryStep::Playing;
	if (!replay.playGrowing(path, memoryRef.entryId)) {
		memory.removeFile(path);
		memoryFile.clear();
		onMemoryFileFailed(QStringLiteral("the player refused it"), request);
	}
}

void Engine::onMemoryFileComplete(const QString &path, long long request, long long lengthMs)
{
	if (memoryStep == MemoryStep::Playing && memoryRequest == request)
		replay.growingEnds(path, lengthMs);
}

void Engine::onMemoryFileFailed(const QString &why, long long request)
{
	if (memoryRequest != request || memoryStep == MemoryStep::None)
		return;
	pluginLog(LOG_WARNING, "replay from memory: failed (%s); the replay waits for the saved clip",
		  why.toUtf8().constData());
	const EntryRef ref = memoryRef;
	memoryStep = MemoryStep::None;
	memoryRef = EntryRef{};
	// Usually the save is still on its way and plays when it comes; when it came first, play it now.
	Session *session = nullptr;
	Entry *entry = lookupEntry(ref, &session);
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return;
	playSaved(fromUtf8(owner->clip.path), owner->id, pressLabel(sessionExports.texts(), entry->number),
		  formatOffset(archiveOffset(*session, entry->t_ms)));
}

void Engine::stopMemoryReplay()
{
	if (memoryStep == MemoryStep::Making) {
		memoryStep = MemoryStep::None;
		memoryRef = EntryRef{};
	}
}

bool Engine::memoryServes(const std::vector<EntryRef> &batch) const
{
	return memoryStep != MemoryStep::None && std::find(batch.begin(), batch.end(), memoryRef) != batch.end();
}

std::string Engine::replayEventFile(const QString &path, long long entryId)
{
	if (!memory.isReplayFile(path))
		return fileNameOf(toUtf8(path));
	Session *session = findSession(memoryRef.sessionId);
	const Entry *entry = session ? session->findEntry(entryId) : nullptr;
	const Entry *owner = entry ? session->savedClipOwner(*entry) : nullptr;
	if (!owner)
		return std::string();
	return fileNameOf(owner->clip.path);
}
