// Status message and the events remote clients get.

#include "engine/Engine.h"

#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"

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
