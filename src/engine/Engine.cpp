#include "engine/Engine.h"

#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "util/ModuleCore.h"

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
	bool hasOwnLabel(const Entry &entry) override { return ::hasOwnLabel(entry, engine.exportTexts()); }

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
    : QObject(parent), texts(exportTextsFromLocale()), recapSessions(std::make_unique<EngineRecapSessions>(*this)),
      recap(*recapSessions), writer([this] {
	      QMetaObject::invokeMethod(
		  this, [this] { takeWriteOutcomes(); }, Qt::QueuedConnection);
      })
{
	saveTimeout.setSingleShot(true);
	freshTimer.setInterval(EngineTiming::FreshTickMs);
	renameTimer.setInterval(EngineTiming::RenameTickMs);
	saveDelay.setSingleShot(true);
	saveDelay.setInterval(EngineTiming::SaveDelayMs);
	exportDelay.setSingleShot(true);
	exportDelay.setInterval(EngineTiming::ExportDelayMs);
	connect(&saveTimeout, &QTimer::timeout, this, &Engine::onSaveTimeout);
	connect(&freshTimer, &QTimer::timeout, this, &Engine::freshTick);
	connect(&renameTimer, &QTimer::timeout, this, &Engine::renameTick);
	connect(&saveDelay, &QTimer::timeout, this, &Engine::flushSaves);
	connect(&exportDelay, &QTimer::timeout, this, &Engine::flushExports);
	saveRetry.setSingleShot(true);
	connect(&saveRetry, &QTimer::timeout, this, &Engine::flushSaves);
	sessionTrim.setSingleShot(true);
	sessionTrim.setInterval(EngineTiming::SessionCacheTrimMs);
	connect(&sessionTrim, &QTimer::timeout, this, &Engine::trimLoadedSessions);

	connect(&replay, &InstantReplay::stateChanged, this, &Engine::statusChanged);
	connect(&recap, &Recap::stateChanged, this, &Engine::statusChanged);
	connect(&replay, &InstantReplay::started, this, &Engine::onReplayStarted);
	connect(&replay, &InstantReplay::finished, this, &Engine::onReplayFinished);
	connect(&recap, &Recap::clipStarted, this, &Engine::onRecapClipStarted);
	connect(&memory, &MemoryReplay::fileReady, this, &Engine::onMemoryFileReady);
	connect(&memory, &MemoryReplay::fileFailed, this, &Engine::onMemoryFileFailed);
	connect(&memory, &MemoryReplay::fileComplete, this, &Engine::onMemoryFileComplete);
}

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
