// Replay-buffer saves: one request in flight, later presses share the next save, clip ranges.

#include "engine/Engine.h"

#include <util/util.hpp>

#include "engine/EngineSupport.h"
#include "session/Saturating.h"
#include "lists/TextFormat.h"

#include "session/SessionStore.h"
#include "util/ModuleCore.h"

#include <obs-frontend-api.h>
#include <util/bmem.h>
#include <util/config-file.h>
#include <util/platform.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <numeric>

void Engine::pumpSaves()
{
	if (!pendingPresses.empty() || waitingPresses.empty() || stopped)
		return;

	if (obs_frontend_replay_buffer_active()) {
		// freshTick asks again once the last file is out of the way.
		if (freshWatch.blocksSave())
			return;
		const QString sessionId = waitingPresses.front().sessionId;
		std::vector<EntryRef> rest;
		for (const EntryRef &ref : waitingPresses) {
			if (ref.sessionId == sessionId)
				pendingPresses.push_back(ref);
			else
				rest.push_back(ref);
		}
		waitingPresses.swap(rest);
		saveRequestWallMs = wallMs();
		saveRequestNs = monotonicNs();
		obs_frontend_replay_buffer_save();
		saveTimeout.start(EngineTiming::SaveLimitMs);
		pluginLog(LOG_INFO, "asked OBS to save the replay buffer (%zu presses)", pendingPresses.size());
		return;
	}

	std::vector<EntryRef> waiting;
	waiting.swap(waitingPresses);
	for (const EntryRef &ref : waiting) {
		Session *session = nullptr;
		if (Entry *entry = lookupEntry(ref, &session)) {
			entry->clip.state = ClipState::NoBuffer;
			touchSession(*session);
		}
	}
	setStatus(engineMessage(EngineText::BufferStopped));
}

void Engine::failBatch(const std::vector<EntryRef> &batch)
{
	for (const EntryRef &ref : batch) {
		Session *session = nullptr;
		if (Entry *entry = lookupEntry(ref, &session)) {
			entry->clip.state = ClipState::Failed;
			touchSession(*session);
		}
	}
	setStatus(engineMessage(EngineText::SaveFailed));
	pumpSaves();
}

void Engine::onSaveTimeout()
{
	if (pendingPresses.empty())
		return;
	pluginLog(LOG_WARNING, "the replay buffer was not saved within 30 seconds");
	std::vector<EntryRef> batch;
	batch.swap(pendingPresses);
	failBatch(batch);
}

void Engine::onBufferStopped()
{
	buffer.stopped();
	playback.bufferStops();
	// OBS may still deliver the file it was writing; give it a short while.
	if (!pendingPresses.empty())
		saveTimeout.start(EngineTiming::SaveLimitAfterStopMs);
	pumpSaves();
	emit statusChanged();
}

namespace {
// The file OBS reports as its newest save; empty when it names none.
QString lastReplayPath()
{
	BPtr<char> last = obs_frontend_get_last_replay();
	return last ? QString::fromUtf8(last.Get()) : QString();
}
} // namespace

// What a saved file gave its batch: the first press owns it, the others share it.
struct Engine::SavedBatch {
	bool haveOwner = false;
	EntryRef owner;
	QString ownerSessionId;
	long long ownerWallMs = 0;
	std::string filePath; // where the file is now: OBS's name, or aside
	std::string timeText; // the owner's archive time, for the status message
	std::string names;    // the batch's press labels, for the status message
	bool anyReplay = false;
};

void Engine::onReplayBufferSaved()
{
	const long long reportedNs = static_cast<long long>(os_gettime_ns());
	const QString path = lastReplayPath();
	const long long savedWallMs = wallMs();
	if (!path.isEmpty())
		failOverwritten(path);

	if (pendingPresses.empty()) {
		if (!path.isEmpty() && !stopped)
			recordObsSave(path, savedWallMs);
		return;
	}

	saveTimeout.stop();
	std::vector<EntryRef> batch;
	batch.swap(pendingPresses);
	if (path.isEmpty()) {
		failBatch(batch);
		return;
	}

	noteSaveLatency();
	const SavedBatch saved = assignSavedClip(batch, path, savedWallMs);
	pluginLog(LOG_INFO, "replay saved for %zu presses (%s)", batch.size(), fileNameOf(saved.filePath).c_str());
	if (saved.haveOwner) {
		scheduleRename(saved.owner, EngineTiming::RenameAfterSaveMs);
		setStatus(engineMessage(EngineText::Saved, saved.names, saved.timeText));
		replayFreshSave(saved, batch, savedWallMs, reportedNs);
	}
	pumpSaves();
}

void Engine::noteSaveLatency()
{
	const long long latencyMs = std::max(1LL, (monotonicNs() - saveRequestNs) / 1000000);
	saveLatencies.push_back(latencyMs);
	while (saveLatencies.size() > EngineTiming::LatencyHistory)
		saveLatencies.erase(saveLatencies.begin());
}

Engine::SavedBatch Engine::assignSavedClip(const std::vector<EntryRef> &batch, const QString &path,
					   long long savedWallMs)
{
	SavedBatch saved;
	saved.filePath = toUtf8(path);
	for (const EntryRef &ref : batch) {
		Session *session = nullptr;
		Entry *entry = lookupEntry(ref, &session);
		if (!entry)
			continue;
		entry->clip.state = ClipState::Saved;
		entry->clip.saved_wall_ms = savedWallMs;
		clipRange(*entry, saveRequestWallMs);
		if (!saved.haveOwner) {
			saved.haveOwner = true;
			saved.owner = ref;
			saved.ownerWallMs = entry->wall_ms;
			saved.timeText = formatOffset(archiveOffset(*session, entry->t_ms));
			saved.ownerSessionId = fromUtf8(session->id);
			entry->clip.path = saved.filePath;
			entry->clip.shared_with = 0;
			// Move it aside before any event names it; the entry follows the file.
			FreshClip fresh;
			fresh.sessionId = saved.ownerSessionId;
			fresh.entryId = ref.entryId;
			fresh.path = path;
			fresh.savedWallMs = savedWallMs;
			saved.filePath = toUtf8(keepFreshClip(fresh));
		} else {
			entry->clip.path.clear();
			entry->clip.shared_with = saved.owner.entryId;
		}
		saved.anyReplay = saved.anyReplay || entry->clip.want_replay;
		if (!saved.names.empty())
			saved.names += "・";
		saved.names += pressLabel(sessionExports.texts(), entry->number);
		emitClipEvent(EntryEvent::Type::ClipSaved, *session, *entry);
		touchSession(*session);
	}
	return saved;
}

void Engine::replayFreshSave(const SavedBatch &saved, const std::vector<EntryRef> &batch, long long savedWallMs,
			     long long reportedNs)
{
	if (!saved.anyReplay || savedWallMs - saved.ownerWallMs >= EngineTiming::ReplayWindowMs ||
	    playback.memoryServes(batch))
		return;
	playback.noteRequest(saved.ownerWallMs);
	// A file still waiting for OBS's remux to open it is played once it has its new name.
	FreshClip *waiting = freshWatch.find([&saved](const FreshClip &f) {
		return f.remuxWaitUntilMs > 0 && f.sessionId == saved.ownerSessionId &&
		       toUtf8(f.path) == saved.filePath;
	});
	if (!waiting) {
		playback.playSaved(fromUtf8(saved.filePath), saved.owner.entryId, saved.names, saved.timeText,
				   reportedNs);
		return;
	}
	waiting->playAfter = true;
	waiting->entryId = saved.owner.entryId;
	waiting->names = saved.names;
	waiting->timeText = saved.timeText;
	waiting->reportedNs = reportedNs;
}

void Engine::recordObsSave(const QString &path, long long savedWallMs)
{
	// OBS's own save was asked for about as long before its event as ours usually take.
	long long latencyMs = EngineTiming::DefaultSaveLatencyMs;
	if (!saveLatencies.empty())
		latencyMs =
		    std::accumulate(saveLatencies.begin(), saveLatencies.end(), 0LL) / (long long)saveLatencies.size();
	const long long askedNs = monotonicNs() - latencyMs * 1000000;

	if (!currentSession())
		startSession(SessionSource::Free, askedNs);
	Session *session = currentSession();
	if (!session)
		return;

	Entry fresh;
	fresh.kind = EntryKind::Press;
	fresh.t_ms = offsetAt(askedNs);
	fresh.wall_ms = savedWallMs - latencyMs;
	fresh.chapter = true;
	fresh.clip.state = ClipState::Saved;
	fresh.clip.saved_wall_ms = savedWallMs;
	clipRange(fresh, savedWallMs - latencyMs);
	Entry &entry = session->addEntry(std::move(fresh));
	entry.label = pressLabel(sessionExports.texts(), entry.number);
	entry.clip.path = toUtf8(path);
	FreshClip kept;
	kept.sessionId = fromUtf8(session->id);
	kept.entryId = entry.id;
	kept.path = path;
	kept.savedWallMs = savedWallMs;
	entry.clip.path = toUtf8(keepFreshClip(kept));

	addRecordingChapter(entry);
	setStatus(
	    engineMessage(EngineText::ObsSavedMarked, entry.label, formatOffset(archiveOffset(*session, entry.t_ms))));
	pluginLog(LOG_INFO, "OBS の保存をルマーク%dとして記録しました（待ち時間 %lld ms）", int(entry.number),
		  latencyMs);
	emitClipEvent(EntryEvent::Type::Marked, *session, entry);
	emitClipEvent(EntryEvent::Type::ClipSaved, *session, entry);
	scheduleRename(EntryRef{fromUtf8(session->id), entry.id}, EngineTiming::RenameAfterSaveMs);
	touchSession(*session);
}

void Engine::clipRange(Entry &entry, long long requestWallMs)
{
	const long long seconds = bufferStatus().seconds;
	const long long waited = satSub(requestWallMs, entry.wall_ms);
	const long long end = satAdd(entry.t_ms, waited > 0 ? waited : 0);
	// No buffer holds a year; the clamp only keeps a broken setting from overflowing.
	long long start = satSub(end, std::clamp<long long>(seconds, 0, 86400LL * 366) * 1000);
	if (buffer.startWallMs() > 0)
		start = std::max<long long>(start, satAdd(buffer.startWallMs(), satSub(entry.t_ms, entry.wall_ms)));
	entry.clip.end_ms = end;
	entry.clip.start_ms = start > end ? end : std::max(0LL, start);
}

void Engine::saveSessionNow(Session &session)
{
	touchSession(session);
	cache.store(session);
}
