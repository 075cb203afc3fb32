// Status message and the events remote clients get.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"

#include <algorithm>

void Engine::setStatus(const QString &text)
{
	status = text;
	emit statusChanged();
}

QString Engine::statusText() const
{
	const QString &problem = cache.problem();
	if (problem.isEmpty())
		return status;
	return status.isEmpty() ? problem : status + QLatin1Char('\n') + problem;
}

void Engine::emitEntryEvent(EntryEvent::Type type, const Session &session, const Entry &entry)
{
	EntryEvent event;
	event.type = type;
	event.sessionId = session.id;
	event.entryId = entry.id;
	event.kind = int(entry.kind);
	event.tMs = entry.t_ms;
	event.label = entry.label;
	event.number = entry.number;
	event.clipState = int(entry.clip.state);
	if (entry.clip.state == ClipState::Saved) {
		if (const Entry *owner = session.clipOwner(entry)) {
			event.hasFile = true;
			event.file = fileNameOf(owner->clip.path);
		}
	}
	emit notify(event);
}

void Engine::onReplayStarted(const QString &path, long long entryId)
{
	const long long latency = wallMs() - replayRequestWallMs;
	replayLatencyMs = latency < 1 ? 0 : latency;
	setStatus(engineMessage(EngineText::ReplayLatency,
				toUtf8(QString::number(double(replayLatencyMs) / 1000.0, 'f', 1))));

	emit notify(ReplayStartedEvent{replayEventFile(path, entryId), entryId, settings().replay_seconds,
				       settings().replay_speed, replayLatencyMs, replay.repeatsPlanned()});
}

void Engine::onReplayFinished(const QString &path, long long entryId)
{
	emit notify(ReplayEndedEvent{replayEventFile(path, entryId), entryId});
	if (memory.isReplayFile(path)) {
		memory.removeFile(path);
		// Only the replay's own end: meanwhile a later press may be making its file. A file the player
		// could not start leaves the press to its saved clip.
		if (memoryStep == MemoryStep::Playing && path == memoryFile) {
			memoryFile.clear();
			if (replay.problem() != InstantReplay::Problem::NoProblem)
				onMemoryFileFailed(QStringLiteral("its file did not play"), memoryRequest);
			else
				memoryStep = MemoryStep::None;
		}
	}

	// A clip blocked by the replay gets its name right after.
	const long long soon = wallMs() + EngineTiming::RenameAfterReplayMs;
	renames.hurryRetries(soon);
}

void Engine::onRecapClipStarted(const QString &file, const QString &memo, int index, int count)
{
	emit notify(RecapClipEvent{fileNameOf(toUtf8(file)), toUtf8(memo), index, count});
}
