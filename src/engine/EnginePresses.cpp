// Presses, marks from outside, scene marks and recording chapters.

#include "engine/Engine.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "util/ModuleCore.h"
#include "util/ObsCompat.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

namespace {
bool kindAllowed(EntryKind kind)
{
	switch (kind) {
	case EntryKind::External:
		return settings().marks_external;
	case EntryKind::Song:
		return settings().marks_song;
	case EntryKind::Topic:
		return settings().marks_topic;
	default:
		return true;
	}
}

// What a press asks for besides its mark.
struct PressWants {
	bool clip = false;
	bool replay = false; // of that clip
};

PressWants pressWants(PressMode mode)
{
	PressWants wants;
	switch (mode) {
	case PressMode::Default:
		wants.clip = settings().press_clip || settings().press_replay;
		wants.replay = settings().press_replay;
		break;
	case PressMode::MarkOnly:
		break;
	case PressMode::Replay:
		wants.clip = wants.replay = true;
		break;
	}
	return wants;
}
} // namespace

long long Engine::press(PressMode mode, const QString &label)
{
	if (stopped || !ready)
		return 0;
	const std::string given = toUtf8(label.trimmed());
	if (refuseLongText(given, "press label"))
		return 0;

	const PressWants wants = pressWants(mode);
	if (!currentSession())
		startSession(SessionSource::Free, monotonicNs());
	Session *session = currentSession();
	if (!session)
		return 0;

	Entry fresh;
	fresh.kind = EntryKind::Press;
	fresh.t_ms = offsetNow();
	fresh.wall_ms = wallMs();
	fresh.chapter = true;
	Entry &entry = session->addEntry(std::move(fresh));

	const std::string defaultLabel = pressLabel(sessionExports.texts(), entry.number);
	entry.label = given.empty() ? defaultLabel : given;

	addRecordingChapter(entry);

	const std::string timeText = formatOffset(archiveOffset(*session, entry.t_ms));
	if (!wants.clip) {
		setStatus(engineMessage(EngineText::Marked, defaultLabel, timeText));
	} else if (obs_frontend_replay_buffer_active()) {
		entry.clip.state = ClipState::Waiting;
		entry.clip.want_replay = wants.replay;
		waitingPresses.push_back(EntryRef{currentId, entry.id});
		if (wants.replay)
			playback.startMemoryReplay(waitingPresses.back(), monotonicNs());
		setStatus(engineMessage(EngineText::Saving, defaultLabel, timeText));
	} else {
		entry.clip.state = ClipState::NoBuffer;
		setStatus(engineMessage(EngineText::NoBuffer, defaultLabel, timeText));
	}

	pluginLog(LOG_INFO, "press %d at %lld ms (clip %d, replay %d)", int(entry.number), (long long)entry.t_ms,
		  wants.clip ? 1 : 0, wants.replay ? 1 : 0);
	const long long id = entry.id;
	emitEntryEvent(EntryEvent::Type::Marked, *session, entry);
	touchSession(*session);
	pumpSaves();
	return id;
}

long long Engine::addMark(EntryKind kind, const QString &label, long long atNs, long long agoMs)
{
	Session *session = currentSession();
	const std::string text = toUtf8(label.trimmed());
	if (stopped || !ready || !session || session->source == SessionSource::Free || text.empty())
		return 0;
	if (!kindAllowed(kind) || refuseLongText(text, "mark label"))
		return 0;

	long long askedMs = 0; // session time the mark was asked for
	if (atNs < 1) {
		askedMs = offsetNow();
	} else if (atNs < startNs) {
		pluginLog(LOG_INFO, "mark (kind %d) asked for before this session started, dropped", int(kind));
		return 0;
	} else {
		askedMs = offsetAt(atNs);
	}
	const long long markMs = backdatedOffset(askedMs, agoMs);

	// The same mark sent twice (two scripts, a retry) within two seconds is one mark.
	for (auto it = session->entries.rbegin(); it != session->entries.rend(); ++it) {
		const long long gapMs = markMs - it->t_ms;
		if (gapMs > EngineTiming::DuplicateWindowMs)
			break;
		if (gapMs >= -EngineTiming::DuplicateWindowMs && it->kind == kind && it->label == text)
			return it->id;
	}

	const long long nowNs = monotonicNs();
	long long lateMs = 0;
	if (atNs >= 1)
		lateMs = std::max(0LL, (nowNs - atNs) / 1000000);

	Entry fresh;
	fresh.kind = kind;
	fresh.t_ms = markMs;
	fresh.label = text;
	fresh.chapter = true;
	fresh.wall_ms = wallMs() - lateMs - (askedMs - markMs);
	Entry &entry = session->addEntry(std::move(fresh));

	addRecordingChapter(entry);
	// Over a tenth of a second after it was asked for.
	const bool addedLate = atNs > 0 && nowNs - atNs > 100000000LL;
	pluginLog(LOG_INFO, "mark (kind %d) at %lld ms%s", int(kind), markMs,
		  addedLate ? " (added late, at the time it was asked for)" : "");
	const long long id = entry.id;
	emitEntryEvent(EntryEvent::Type::Marked, *session, entry);
	touchSession(*session);
	return id;
}

QString Engine::currentSceneName() const
{
	OBSSourceAutoRelease scene = obs_frontend_get_current_scene();
	if (!scene)
		return QString();
	const char *name = obs_source_get_name(scene);
	return name ? QString::fromUtf8(name) : QString();
}

void Engine::onSceneChanged()
{
	if (!ready)
		return;
	const QString name = currentSceneName();
	if (name.isEmpty() || name == lastScene)
		return;
	lastScene = name;

	Session *session = currentSession();
	if (stopped || !session || session->source == SessionSource::Free || !settings().scene_marks)
		return;
	const Settings &s = settings();
	if (name == s.replay_scene || s.ignore_scenes.contains(name, Qt::CaseSensitive))
		return;

	Entry fresh;
	fresh.kind = EntryKind::Scene;
	fresh.t_ms = offsetNow();
	fresh.wall_ms = wallMs();
	fresh.label = toUtf8(name);
	fresh.chapter = true;
	Entry &entry = session->addEntry(std::move(fresh));
	addRecordingChapter(entry);
	pluginLog(LOG_INFO, "scene mark at %lld ms", (long long)entry.t_ms);
	emitEntryEvent(EntryEvent::Type::Marked, *session, entry);
	touchSession(*session);
}

void Engine::addRecordingChapter(const Entry &entry)
{
	if (!settings().record_chapters || entry.kind == EntryKind::Start || !obs_frontend_recording_active())
		return;
	if (compatAddRecordingChapter(entry.label.c_str())) {
		++chaptersAdded;
		return;
	}
	if (!chapterWarned) {
		chapterWarned = true;
		pluginLog(LOG_WARNING, "録画にチャプターを入れられませんでした"
				       "（録画の形式がハイブリッド MP4 ではない・一時停止中など）");
	}
}
