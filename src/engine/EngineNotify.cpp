// Status message and the events remote clients get.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"

#include <obs.hpp>

#include <algorithm>

namespace {
QString jsonOf(obs_data_t *data)
{
	return QString::fromUtf8(obs_data_get_json(data));
}
} // namespace

void Engine::setStatus(const QString &text)
{
	status = text;
	emit statusChanged();
}

QString Engine::statusText() const
{
	if (saveProblem.isEmpty())
		return status;
	return status.isEmpty() ? saveProblem : status + QLatin1Char('\n') + saveProblem;
}

void Engine::emitEntryEvent(const QString &type, const Session &session, const Entry &entry)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "session_id", session.id.c_str());
	obs_data_set_int(data, "entry_id", entry.id);
	obs_data_set_int(data, "kind", int(entry.kind));
	obs_data_set_int(data, "t_ms", entry.t_ms);
	obs_data_set_string(data, "label", entry.label.c_str());
	obs_data_set_int(data, "number", entry.number);
	obs_data_set_int(data, "clip_state", int(entry.clip.state));
	if (entry.clip.state == ClipState::Saved) {
		if (const Entry *owner = session.clipOwner(entry))
			obs_data_set_string(data, "file", fileNameOf(owner->clip.path).c_str());
	}
	emit notify(type, jsonOf(data));
}

void Engine::onReplayStarted(const QString &path, long long entryId)
{
	const long long latency = wallMs() - replayRequestWallMs;
	replayLatencyMs = latency < 1 ? 0 : latency;
	setStatus(engineMessage(EngineText::ReplayLatency,
				toUtf8(QString::number(double(replayLatencyMs) / 1000.0, 'f', 1))));

	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "file", replayEventFile(path, entryId).c_str());
	obs_data_set_int(data, "entry_id", entryId);
	obs_data_set_int(data, "seconds", settings().replay_seconds);
	obs_data_set_int(data, "speed", settings().replay_speed);
	obs_data_set_int(data, "latency_ms", replayLatencyMs);
	obs_data_set_int(data, "repeat", replay.repeatsPlanned());
	emit notify(QStringLiteral("ReplayStarted"), jsonOf(data));
}

void Engine::onReplayFinished(const QString &path, long long entryId)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "file", replayEventFile(path, entryId).c_str());
	obs_data_set_int(data, "entry_id", entryId);
	emit notify(QStringLiteral("ReplayEnded"), jsonOf(data));
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
	for (RenameJob &job : renameJobs) {
		if (job.attempts > 0 && job.dueMs > soon)
			setRenameDue(job, soon);
	}
}

void Engine::onRecapClipStarted(const QString &file, const QString &memo, int index, int count)
{
	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "file", fileNameOf(toUtf8(file)).c_str());
	obs_data_set_string(data, "memo", memo.toUtf8().constData());
	obs_data_set_int(data, "index", index);
	obs_data_set_int(data, "count", count);
	emit notify(QStringLiteral("RecapClip"), jsonOf(data));
}
