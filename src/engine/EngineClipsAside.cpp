// Fresh replay files: kept aside only while OBS could give a new save the same name, then put back
// under OBS's name, which obs-websocket clients, scripts and folder watchers read.

#include "engine/Engine.h"

#include "engine/EngineSupport.h"
#include "lists/TextFormat.h"
#include "session/SessionStore.h"
#include "util/ModuleCore.h"
#include "util/ObsMedia.h"
#include "util/ObsProfile.h"

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/config-file.h>
#include <util/dstr.h>
#include <util/platform.h>
#include <util/util.hpp>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <iterator>

QStringList remuxCopyTails(const QString &suffix)
{
	QStringList tails{QStringLiteral(".remuxed.") + suffix};
	if (suffix.compare(QLatin1String("mp4"), Qt::CaseInsensitive) != 0)
		tails.append(QStringLiteral(".mp4"));
	return tails;
}

namespace {

// OBS's automatic remux of a saved replay (OBSBasic::AutoRemux, OBS 29 to 32) reads the file by the
// name it gave it right after the saved event; true when it will write a copy beside this clip.
bool remuxExpected(const QFileInfo &info)
{
	config_t *profile = obs_frontend_get_profile_config();
	if (!profile || !config_get_bool(profile, "Video", "AutoRemux"))
		return false;
	const char *recType = config_get_string(profile, "AdvOut", "RecType");
	if (profileAdvancedOutput(profile) && recType && astrcmpi(recType, "FFmpeg") == 0)
		return false;
	const QString suffix = info.suffix();
	if (suffix.compare(QLatin1String("avi"), Qt::CaseInsensitive) == 0)
		return false;
	// OBS 30+ remuxes fragmented MP4 and MOV into "name.remuxed.ext", keeping the container.
	const char *format = config_get_string(profile, profileOutputSection(profile), "RecFormat2");
	if (format && strncmp(format, "fragmented", 10) == 0)
		return true;
	for (const char *plain : {"mp4", "mov"})
		if (suffix.compare(QLatin1String(plain), Qt::CaseInsensitive) == 0)
			return false;
	return true;
}

bool remuxStarted(const FreshClip &fresh)
{
	// The remux opens its output only after its input, so a new copy means the input is open. A second
	// of slack for file times coarser than the clock.
	const QFileInfo info(fresh.path);
	for (const QString &tail : remuxCopyTails(info.suffix())) {
		const QFileInfo copy(info.dir().filePath(info.completeBaseName() + tail));
		if (copy.exists() && copy.lastModified().toMSecsSinceEpoch() >= fresh.savedWallMs - 1000)
			return true;
	}
	return false;
}

} // namespace

void Engine::setSaveNamer(SaveNamer namer)
{
	freshWatch.setSaveNamer(std::move(namer));
}

void Engine::moveRemuxCopies(const QFileInfo &from, const QFileInfo &to, long long savedWallMs)
{
	for (const QString &tail : remuxCopyTails(from.suffix())) {
		const QString oldCopy = from.dir().filePath(from.completeBaseName() + tail);
		const QString newCopy = to.dir().filePath(to.completeBaseName() + tail);
		renames.retargetRemuxCopies(oldCopy, newCopy);
		const QFileInfo copy(oldCopy);
		if (!copy.exists() ||
		    copy.lastModified().toMSecsSinceEpoch() < savedWallMs - EngineTiming::RemuxCopyAgeMs ||
		    QFileInfo::exists(newCopy) || renameFile(oldCopy, newCopy))
			continue;
		renames.addRemuxCopy(oldCopy, newCopy);
	}
}

QString Engine::keepFreshClip(FreshClip fresh)
{
	fresh.obsPath = fresh.path;
	// OBS's name goes back to its newest file, which peers were told about; older ones stay aside.
	const std::vector<FreshClip> settled =
	    freshWatch.take([&fresh](const FreshClip &f) { return samePath(f.obsPath, fresh.obsPath); });
	for (const FreshClip &f : settled)
		releaseHeldEvents(f);
	const QFileInfo info(fresh.path);
	if (!info.exists() || !freshWatch.nameClash(fresh.obsPath))
		return fresh.path;
	if (remuxExpected(info))
		fresh.remuxWaitUntilMs = wallMs() + EngineTiming::RemuxStartWaitMs;
	else if (stepFreshClip(fresh, wallMs()))
		return fresh.path;
	freshWatch.watch(fresh);
	return fresh.path;
}

bool Engine::stepFreshClip(FreshClip &fresh, long long now)
{
	Session *session = nullptr;
	Entry *owner = lookupEntry(EntryRef{fresh.sessionId, fresh.entryId}, &session);
	// Removed, failed, renamed or deleted meanwhile: nothing left to guard.
	if (!owner || !ownsSavedClip(*owner) || owner->clip.path != toUtf8(fresh.path) ||
	    !QFileInfo::exists(fresh.path))
		return true;

	if (fresh.path != fresh.obsPath) {
		if (freshWatch.nameClash(fresh.obsPath) || fileHeldByPlayer(fresh.path))
			return false;
		if (fresh.backDueMs == 0)
			fresh.backDueMs = now;
		return moveBack(fresh, *owner) || now - fresh.backDueMs >= EngineTiming::FreshMoveLimitMs;
	}

	if (fresh.remuxWaitUntilMs > 0) {
		if (!remuxStarted(fresh) && now < fresh.remuxWaitUntilMs)
			return false;
		fresh.remuxWaitUntilMs = 0;
	}
	if (!freshWatch.nameClash(fresh.obsPath))
		return true;
	if (moveAside(fresh, *owner))
		return false;
	return now - fresh.savedWallMs >= EngineTiming::FreshMoveLimitMs;
}

bool Engine::moveAside(FreshClip &fresh, Entry &owner)
{
	// OBS's own name with the mark: still readable in the folder, and never a name OBS makes.
	const QFileInfo info(fresh.path);
	const QDir dir = info.dir();
	const QString dotSuffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
	const QString base = QStringLiteral("%1 (%2)").arg(
	    info.completeBaseName(), fromUtf8(sanitizeFileName(pressLabel(sessionExports.texts(), owner.number))));
	QString target = dir.filePath(base + dotSuffix);
	for (int n = 2; n <= 99 && QFileInfo::exists(target); ++n)
		target = dir.filePath(QStringLiteral("%1 %2%3").arg(base).arg(n).arg(dotSuffix));
	if (!renameFile(fresh.path, target))
		return false;

	owner.clip.path = toUtf8(target);
	moveRemuxCopies(info, QFileInfo(target), fresh.savedWallMs);
	pluginLog(LOG_INFO, "replay file kept as %s", fileNameOf(owner.clip.path).c_str());
	fresh.path = target;
	if (Session *session = findSession(fresh.sessionId))
		saveSessionNow(*session);
	return true;
}

bool Engine::moveBack(FreshClip &fresh, Entry &owner)
{
	if (QFileInfo::exists(fresh.obsPath)) {
		// A newer file took the name meanwhile; never written over, this clip keeps its own.
		pluginLog(LOG_INFO, "OBS's name is taken again, the replay file stays %s",
			  fileNameOf(owner.clip.path).c_str());
		return true;
	}
	if (!renameFile(fresh.path, fresh.obsPath))
		return false;
	owner.clip.path = toUtf8(fresh.obsPath);
	moveRemuxCopies(QFileInfo(fresh.path), QFileInfo(fresh.obsPath), fresh.savedWallMs);
	pluginLog(LOG_INFO, "replay file back under OBS's name %s", fileNameOf(owner.clip.path).c_str());
	fresh.path = fresh.obsPath;
	if (Session *session = findSession(fresh.sessionId))
		saveSessionNow(*session);
	return true;
}

void Engine::freshTick()
{
	const long long now = wallMs();
	std::vector<FreshClip> play;
	std::vector<FreshClip> settled;
	std::vector<FreshClip> &freshClips = freshWatch.watched();
	for (size_t i = 0; i < freshClips.size();) {
		FreshClip &fresh = freshClips[i];
		const bool done = stepFreshClip(fresh, now);
		// The replay waits only for the remux to open the file, not for the way back.
		if (fresh.playAfter && (done || fresh.remuxWaitUntilMs == 0)) {
			play.push_back(fresh);
			fresh.playAfter = false;
		}
		if (done) {
			settled.push_back(std::move(fresh));
			freshClips.erase(freshClips.begin() + long(i));
			continue;
		}
		// An OBS that never tells its next save's name keeps the file aside for good; its events go out
		// anyway, naming it there. A player's hold ends by itself.
		if (!fresh.heldEvents.empty() && now - fresh.savedWallMs >= EngineTiming::EventHoldLimitMs &&
		    !fileHeldByPlayer(fresh.path)) {
			settled.push_back(fresh);
			fresh.heldEvents.clear();
		}
		++i;
	}
	freshWatch.retime();
	for (const FreshClip &f : settled)
		releaseHeldEvents(f);
	for (const FreshClip &f : play)
		playback.playSaved(f.path, f.entryId, f.names, f.timeText, f.reportedNs);
	pumpSaves();
}

void Engine::settleFreshClips()
{
	// The exit comes while the buffer still runs: a save asked for just before it may still take
	// OBS's name, so a file goes back only when no save can get that name.
	std::vector<FreshClip> watched = freshWatch.take([](const FreshClip &) { return true; });
	freshWatch.stop();
	for (FreshClip &fresh : watched) {
		Entry *owner = lookupEntry(EntryRef{fresh.sessionId, fresh.entryId});
		if (owner && fresh.path != fresh.obsPath && owner->clip.path == toUtf8(fresh.path) &&
		    !freshWatch.nameClash(fresh.obsPath))
			moveBack(fresh, *owner);
		releaseHeldEvents(fresh);
	}
}

void Engine::emitClipEvent(EntryEvent::Type type, const Session &session, const Entry &entry)
{
	// A client acts on the name it is told; a file kept aside for now would be gone by then.
	const long long ownerId = entry.clip.shared_with != 0 ? entry.clip.shared_with : entry.id;
	const QString sessionId = fromUtf8(session.id);
	FreshClip *watched =
	    freshWatch.find([&](const FreshClip &f) { return f.entryId == ownerId && f.sessionId == sessionId; });
	if (!watched)
		emitEntryEvent(type, session, entry);
	else
		watched->heldEvents.emplace_back(type, entry.id);
}

void Engine::releaseHeldEvents(const FreshClip &fresh)
{
	for (const auto &held : fresh.heldEvents) {
		Session *session = nullptr;
		if (const Entry *entry = lookupEntry(EntryRef{fresh.sessionId, held.second}, &session))
			emitEntryEvent(held.first, *session, *entry);
	}
}

void Engine::failOverwritten(const QString &path)
{
	for (const auto &item : cache.all()) {
		Session &session = *item.second;
		for (Entry &owner : session.entries) {
			if (!ownsSavedClip(owner) || !samePath(fromUtf8(owner.clip.path), path))
				continue;
			pluginLog(LOG_WARNING,
				  "a later save wrote over the clip of mark %d before it was kept apart (%s)",
				  int(owner.number), fileNameOf(owner.clip.path).c_str());
			for (Entry &sharer : session.entries) {
				if (sharer.clip.state == ClipState::Saved && sharer.clip.shared_with == owner.id)
					sharer.clip.state = ClipState::Failed;
			}
			owner.clip.state = ClipState::Failed;
			owner.clip.path.clear();
			touchSession(session);
		}
	}
	const std::vector<FreshClip> gone =
	    freshWatch.take([&path](const FreshClip &f) { return samePath(f.path, path); });
	for (const FreshClip &f : gone)
		releaseHeldEvents(f);
}
