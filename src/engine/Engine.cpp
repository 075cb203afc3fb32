#include "engine/Engine.h"

#include <util/platform.h>

#include <QDateTime>

#include <mutex>

Engine::Engine(QObject *parent) : QObject(parent) {}

Engine::~Engine() = default;

Engine *Engine::instance()
{
	static std::once_flag once;
	static Engine *engine = nullptr;
	std::call_once(once, [] { engine = new Engine(); });
	return engine;
}

void Engine::setClocks(Clock monotonic, Clock wall)
{
	monotonicClock = std::move(monotonic);
	wallClock = std::move(wall);
}

long long Engine::monotonicNs() const
{
	return monotonicClock ? monotonicClock() : (long long)os_gettime_ns();
}

long long Engine::wallMs() const
{
	return wallClock ? wallClock() : QDateTime::currentMSecsSinceEpoch();
}

Session *Engine::currentSession()
{
	return nullptr;
}
Session *Engine::findSession(const QString &)
{
	return nullptr;
}
Session *Engine::viewedSession()
{
	return nullptr;
}
QStringList Engine::sessionIds()
{
	return {};
}
QStringList Engine::loadedSessionIds() const
{
	return {};
}
void Engine::viewSession(const QString &) {}
bool Engine::removeSession(const QString &)
{
	return false;
}
long long Engine::offsetNow() const
{
	return 0;
}
long long Engine::offsetAt(long long) const
{
	return 0;
}
long long Engine::recordingStartTime(obs_output_t *) const
{
	return monotonicNs();
}
void Engine::startSession(SessionSource, long long) {}
void Engine::endSession() {}
bool Engine::startFreeSession()
{
	return false;
}
bool Engine::endFreeSession()
{
	return false;
}
void Engine::onStreamingStarted() {}
void Engine::onStreamingStopped() {}
void Engine::onRecordingStarted() {}
void Engine::onRecordingStopped() {}
void Engine::onRecordingPaused() {}
void Engine::onRecordingUnpaused() {}
void Engine::onFinishedLoading()
{
	ready = true;
}
void Engine::stopPlayback() {}
void Engine::shutdown()
{
	stopped = true;
}
void Engine::touchSession(Session &) {}
void Engine::markSessionDirty(const QString &) {}
void Engine::flushSaves() {}
void Engine::flushExports() {}
QStringList Engine::exportLists()
{
	return {};
}
QString Engine::exportQuotes()
{
	return {};
}
long long Engine::press(PressMode, const QString &)
{
	return 0;
}
long long Engine::addMark(EntryKind, const QString &, long long, long long)
{
	return 0;
}
void Engine::onSceneChanged() {}
QString Engine::currentSceneName() const
{
	return {};
}
void Engine::addRecordingChapter(const Entry &) {}
void Engine::pumpSaves() {}
void Engine::onSaveTimeout() {}
void Engine::onBufferStopped() {}
void Engine::onReplayBufferSaved() {}
void Engine::clipRange(Entry &, long long) {}
bool Engine::replayEntry(long long)
{
	return false;
}
void Engine::stopReplay() {}
void Engine::scheduleRename(const EntryRef &, long long) {}
void Engine::scheduleRenames(const Session &, long long) {}
void Engine::renameTick() {}
bool Engine::renameClip(RenameJob &)
{
	return true;
}
BufferStatus Engine::bufferStatus() const
{
	return {};
}
void Engine::onBufferStarted() {}
void Engine::setStatus(const QString &text)
{
	status = text;
	emit statusChanged();
}
void Engine::emitEntryEvent(const QString &, const Session &, const Entry &) {}
void Engine::setLabel(long long, const QString &, const QString &) {}
void Engine::setChapter(long long, bool) {}
void Engine::removeEntry(long long) {}
void Engine::setShift(long long) {}
void Engine::setShiftToEntry(long long) {}
void Engine::setArchiveUrl(const QString &) {}
int Engine::dropShortChapters()
{
	return 0;
}
void Engine::onReplayStarted(const QString &, long long) {}
void Engine::onReplayFinished(const QString &, long long) {}
void Engine::onRecapClipStarted(const QString &, const QString &, int, int) {}
void Engine::autoStartBuffer() {}
void Engine::failBatch(const std::vector<EntryRef> &) {}
void Engine::recordObsSave(const QString &, long long) {}
Entry *Engine::lookupEntry(const EntryRef &, Session **)
{
	return nullptr;
}
