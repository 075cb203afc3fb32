#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "util/ModuleCore.h"

#include <obs-frontend-api.h>
#include <util/platform.h>

#include <QDateTime>

#include <algorithm>
#include <mutex>

namespace {
// The recap reads the sessions of the Engine that owns it.
class EngineRecapSessions : public RecapSessions {
public:
	explicit EngineRecapSessions(Engine &engine) : engine(engine) {}
	QStringList sessionIds() override { return engine.sessionIds(); }
	Session *findSession(const QString &id) override { return engine.findSession(id); }
	QString runningSessionId() override { return engine.currentSessionId(); }
	void watch(QObject *receiver, std::function<void()> changed, std::function<void()> listChanged) override
	{
		QObject::connect(&engine, &Engine::sessionChanged, receiver, std::move(changed));
		QObject::connect(&engine, &Engine::sessionListChanged, receiver, std::move(listChanged));
	}
	bool hasOwnLabel(const Entry &entry) override { return ::hasOwnLabel(entry, engine.exports().texts()); }

private:
	Engine &engine;
};
} // namespace

bool refuseLongText(const std::string &text, const char *what)
{
	if (text.size() <= kMaxTextBytes)
		return false;
	pluginLog(LOG_WARNING, "%s refused: %zu bytes is too long", what, text.size());
	return true;
}

QString engineMessage(const char *key, const std::string &first, const std::string &second)
{
	return fromUtf8(fillTemplate(moduleText(key), first, second));
}

Engine::Engine(QObject *parent)
    : QObject(parent), cache([this] { return wallMs(); }),
      renames([this] { return wallMs(); }, [this](const EntryRef &ref) { return renameClip(ref); }),
      editor(editHooks()), playback(
			       std::make_unique<EngineRecapSessions>(*this), [this] { return wallMs(); },
			       [this](int number) { return pressLabel(sessionExports.texts(), number); }),
      sessionExports(cache, {[this](const QString &id) { return findSession(id); }, [this] { return viewedSession(); },
			     [this] { return sessionIds(); }})
{
	saveTimeout.setSingleShot(true);
	connect(&saveTimeout, &QTimer::timeout, this, &Engine::onSaveTimeout);
	connect(&freshWatch, &FreshClipWatch::tick, this, &Engine::freshTick);
	connect(&renames, &RenameQueue::tick, this, &Engine::renameTick);
	connect(&sessionExports, &SessionExports::status, this, [this](const QString &text) { setStatus(text); });
	connect(&sessionExports, &SessionExports::notify, this, &Engine::notify);
	connect(&cache, &SessionCache::problemChanged, this, &Engine::statusChanged);
	connect(&cache, &SessionCache::savedAgain, this,
		[this] { setStatus(engineMessage(EngineText::SessionsSavedAgain)); });
	sessionTrim.setSingleShot(true);
	sessionTrim.setInterval(EngineTiming::SessionCacheTrimMs);
	connect(&sessionTrim, &QTimer::timeout, this, &Engine::trimLoadedSessions);

	connect(&playback.replay(), &InstantReplay::stateChanged, this, &Engine::statusChanged);
	connect(&playback.recap(), &Recap::stateChanged, this, &Engine::statusChanged);
	connect(&playback, &Players::status, this, &Engine::setStatus);
	connect(&playback, &Players::notify, this, &Engine::notify);
	// A clip blocked by the replay gets its name right after.
	connect(&playback.replay(), &InstantReplay::finished, this,
		[this] { renames.hurryRetries(wallMs() + EngineTiming::RenameAfterReplayMs); });
}

Engine::~Engine() = default;

SessionEdits::Hooks Engine::editHooks()
{
	SessionEdits::Hooks hooks;
	hooks.session = [this](const QString &id) { return editedSession(id); };
	hooks.status = [this](const QString &text) { setStatus(text); };
	hooks.rename = [this](const Session &session, long long entryId) {
		if (entryId)
			scheduleRename(EntryRef{fromUtf8(session.id), entryId}, EngineTiming::RenameAfterEditMs);
		else
			scheduleRenames(session, EngineTiming::RenameAfterEditMs);
	};
	hooks.forget = [this](const Session &session, long long entryId) {
		const EntryRef ref{fromUtf8(session.id), entryId};
		waitingPresses.erase(std::remove(waitingPresses.begin(), waitingPresses.end(), ref),
				     waitingPresses.end());
	};
	hooks.changed = [this](Session &session) { touchSession(session); };
	return hooks;
}

Session *Engine::editedSession(const QString &sessionId)
{
	return sessionId.isEmpty() ? viewedSession() : findSession(sessionId);
}

bool Engine::followFrontendEvent(enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_STREAMING_STARTED:
		onStreamingStarted();
		return true;
	case OBS_FRONTEND_EVENT_STREAMING_STOPPED:
		onStreamingStopped();
		return true;
	case OBS_FRONTEND_EVENT_RECORDING_STARTED:
		onRecordingStarted();
		return true;
	case OBS_FRONTEND_EVENT_RECORDING_STOPPED:
		onRecordingStopped();
		return true;
	case OBS_FRONTEND_EVENT_RECORDING_PAUSED:
		onRecordingPaused();
		return true;
	case OBS_FRONTEND_EVENT_RECORDING_UNPAUSED:
		onRecordingUnpaused();
		return true;
	case OBS_FRONTEND_EVENT_SCENE_CHANGED:
		onSceneChanged();
		return true;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED:
		onBufferStarted();
		return true;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPING:
		onBufferStopping();
		return true;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED:
		onBufferStopped();
		return true;
	case OBS_FRONTEND_EVENT_REPLAY_BUFFER_SAVED:
		onReplayBufferSaved();
		return true;
	default:
		return false;
	}
}

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

Entry *Engine::lookupEntry(const EntryRef &ref, Session **sessionOut)
{
	Session *session = findSession(ref.sessionId);
	if (sessionOut)
		*sessionOut = session;
	if (!session)
		return nullptr;
	// Saves, renames and edits mostly concern recent presses, which sit at the end.
	auto &entries = session->entries;
	auto it =
	    std::find_if(entries.rbegin(), entries.rend(), [&ref](const Entry &e) { return e.id == ref.entryId; });
	return it == entries.rend() ? nullptr : &*it;
}

BufferStatus Engine::bufferStatus() const
{
	return ready && !stopped ? buffer.status() : BufferStatus();
}

void Engine::onBufferStarted()
{
	buffer.started(wallMs());
	playback.bufferStarted();
	emit statusChanged();
}

void Engine::onBufferStopping()
{
	playback.bufferStops();
}

void Engine::autoStartBuffer()
{
	const BufferStatus status = bufferStatus();
	if (settings().auto_start_buffer && status.enabled && !status.active) {
		pluginLog(LOG_INFO, "starting the replay buffer with the stream");
		obs_frontend_replay_buffer_start();
	}
}
