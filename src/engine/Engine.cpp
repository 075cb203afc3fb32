#include "engine/Engine.h"

#include "engine/EngineInternal.h"
#include "lists/TextFormat.h"
#include "module/ModuleCore.h"

#include <util/platform.h>

#include <QDateTime>

#include <mutex>

namespace {
std::shared_ptr<const ExportTexts> buildExportTexts()
{
	auto texts = std::make_shared<ExportTexts>();
	texts->word = moduleText("Word.Lumark");
	static const char *const kindKeys[] = {"Kind.Start",    "Kind.Scene", "Kind.Press", "Kind.External",
					       "Kind.Save",     "Kind.Song",  "Kind.Topic"};
	for (int i = 0; i < 7; ++i)
		texts->kind_names[i] = moduleText(kindKeys[i]);
	texts->csv_header = moduleText("Csv.Header");
	texts->csv_yes = moduleText("Csv.Yes");
	texts->csv_no = moduleText("Csv.No");
	texts->notes_title = moduleText("Notes.Title");
	texts->notes_archive = moduleText("Notes.Archive");
	texts->notes_shift = moduleText("Notes.Shift");
	texts->notes_range = moduleText("Notes.Range");
	texts->notes_file = moduleText("Notes.File");
	texts->notes_no_file = moduleText("Notes.NoFile");
	texts->notes_before_cut = moduleText("Notes.BeforeCut");
	texts->notes_empty = moduleText("Notes.Empty");
	return texts;
}
} // namespace

QString engineMessage(const char *key, const std::string &first, const std::string &second)
{
	return fromUtf8(fillTemplate(moduleText(key), first, second));
}

Engine::Engine(QObject *parent) : QObject(parent), texts(buildExportTexts())
{
	saveTimeout.setSingleShot(true);
	renameTimer.setInterval(EngineTiming::RenameTickMs);
	saveDelay.setSingleShot(true);
	saveDelay.setInterval(EngineTiming::SaveDelayMs);
	exportDelay.setSingleShot(true);
	exportDelay.setInterval(EngineTiming::ExportDelayMs);
	connect(&saveTimeout, &QTimer::timeout, this, &Engine::onSaveTimeout);
	connect(&renameTimer, &QTimer::timeout, this, &Engine::renameTick);
	connect(&saveDelay, &QTimer::timeout, this, &Engine::flushSaves);
	connect(&exportDelay, &QTimer::timeout, this, &Engine::flushExports);

	connect(&replay, &InstantReplay::stateChanged, this, &Engine::statusChanged);
	connect(&recap, &Recap::stateChanged, this, &Engine::statusChanged);
	connect(&replay, &InstantReplay::started, this, &Engine::onReplayStarted);
	connect(&replay, &InstantReplay::finished, this, &Engine::onReplayFinished);
	connect(&recap, &Recap::clipStarted, this, &Engine::onRecapClipStarted);
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
	return session ? session->findEntry(ref.entryId) : nullptr;
}
