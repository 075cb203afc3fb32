#include "engine/SessionExports.h"

#include "config/Settings.h"
#include "engine/EngineSupport.h"
#include "lists/HighlightPlan.h"
#include "lists/Lists.h"
#include "playback/HighlightCopy.h"
#include "util/AtomicFile.h"
#include "util/ModuleCore.h"
#include "util/ObsMedia.h"

#include <obs.hpp>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

namespace {
struct WrittenVideo {
	std::string path;
	int stretches = 0;
	int64_t durationMs = 0;
};

// What the worker did; read on the UI thread once it has been joined.
struct HighlightsOutcome {
	std::vector<WrittenVideo> videos;
	std::vector<std::string> leftOut; // file names
	std::string error;
	bool cancelled = false;
};

const char *skipText(HighlightSkip why)
{
	switch (why) {
	case HighlightSkip::Missing:
		return "missing";
	case HighlightSkip::Unreadable:
		return "unreadable";
	case HighlightSkip::NotInClip:
		return "the mark lies outside the clip";
	case HighlightSkip::AlreadyShown:
		return "shown already";
	}
	return "";
}

bool takenName(const QString &path)
{
	const QFileInfo info(path);
	return info.exists() || info.isSymLink();
}

// Gives the finished file the first free name "<base>.<ext>", "<base> (2).<ext>", ... whose text
// file is free too; never replaces a file. The path, or empty.
QString placeVideo(const QString &temp, const QDir &dir, const QString &base, const QString &ext, QString &textPath)
{
	for (int n = 1; n < 1000; ++n) {
		const QString name = n == 1 ? base : QStringLiteral("%1 (%2)").arg(base).arg(n);
		const QString video = dir.filePath(name + ext);
		textPath = dir.filePath(name + QStringLiteral(".txt"));
		if (takenName(video) || takenName(textPath))
			continue;
		if (moveFileNoReplace(temp, video))
			return video;
		if (!takenName(video))
			break;
	}
	return QString();
}
} // namespace

struct SessionExports::HighlightsJob {
	QString sessionId;
	std::vector<QString> clips; // held against renames while the job reads them
	std::atomic<bool> cancel{false};
	std::atomic<bool> finished{false}; // the worker no longer reads the clips
	std::thread thread;
	uint64_t seq = 0;
	HighlightsOutcome outcome;

	~HighlightsJob()
	{
		cancel = true;
		if (thread.joinable())
			thread.join();
	}
};

namespace {
void runHighlights(const std::atomic<bool> &cancel, HighlightsOutcome &job, std::vector<HighlightClip> clips,
		   int64_t highlightMs, const QString &folder, const QString &base,
		   const std::function<void(int, int)> &progress)
{
	for (HighlightClip &clip : clips) {
		clip.exists = QFileInfo::exists(fromUtf8(clip.path));
		if (!clip.exists)
			continue;
		const HighlightProbe probe = probeHighlightClip(clip.path);
		clip.durationMs = probe.durationMs;
		clip.codec = probe.ok ? probe.signature : std::string();
	}
	HighlightPlan plan = planHighlights(std::move(clips), highlightMs);
	for (const HighlightLeftOut &out : plan.leftOut) {
		pluginLog(LOG_WARNING, "highlights: clip of mark %lld left out (%s): %s", (long long)out.entryId,
			  skipText(out.why), out.path.c_str());
		if (out.why == HighlightSkip::Missing || out.why == HighlightSkip::Unreadable)
			job.leftOut.push_back(fileNameOf(out.path));
	}
	int total = 0, done = 0;
	for (const HighlightGroup &group : plan.groups)
		total += int(group.stretches.size());
	const QDir dir(folder);
	for (const HighlightGroup &group : plan.groups) {
		std::vector<HighlightPiece> pieces;
		for (const HighlightStretch &s : group.stretches)
			pieces.push_back({s.path, s.startMs, s.endMs, s.title});
		const int before = done;
		HighlightCopyResult r =
		    copyHighlights(pieces, toUtf8(folder), cancel, [&](int n, int) { progress(before + n, total); });
		done += int(pieces.size());
		if (r.cancelled || cancel) {
			job.cancelled = true;
			QFile::remove(fromUtf8(r.tempPath));
			return;
		}
		if (!r.ok) {
			job.error = r.error;
			pluginLog(LOG_WARNING, "highlights: video not written: %s", r.error.c_str());
			continue;
		}
		QString textPath;
		const QString video = placeVideo(fromUtf8(r.tempPath), dir, base, fromUtf8(r.extension), textPath);
		if (video.isEmpty()) {
			QFile::remove(fromUtf8(r.tempPath));
			job.error = "no free file name";
			pluginLog(LOG_WARNING, "highlights: no free name for the video in %s", toUtf8(folder).c_str());
			continue;
		}
		std::vector<std::string> titles;
		for (const HighlightPiece &p : pieces)
			titles.push_back(p.title);
		std::vector<ChapterIssue> issues;
		const std::string text = highlightTimestampsText(r.chapterStartsMs, titles, r.durationMs, &issues);
		if (!writeFileAtomically(toUtf8(textPath), text, KeepBackup::No))
			pluginLog(LOG_WARNING, "highlights: chapter list not written: %s", toUtf8(textPath).c_str());
		if (!issues.empty())
			pluginLog(LOG_INFO, "highlights: %zu chapter findings remain (fewer than three chapters?)",
				  issues.size());
		pluginLog(LOG_INFO, "highlights: %s written (%zu stretches, %lld ms)", toUtf8(video).c_str(),
			  pieces.size(), (long long)r.durationMs);
		job.videos.push_back({toUtf8(video), int(pieces.size()), r.durationMs});
	}
}
} // namespace

SessionExports::SessionExports(SessionCache &cache, Lookup lookup)
    : cache(cache), lookup(std::move(lookup)), listTexts(exportTextsFromLocale())
{
	exportDelay.setSingleShot(true);
	exportDelay.setInterval(EngineTiming::ExportDelayMs);
	connect(&exportDelay, &QTimer::timeout, this, &SessionExports::flush);
}

void SessionExports::sessionEdited(const Session &session)
{
	if (session.isEnded() && !session.export_dir.empty()) {
		dirtyExports.insert(fromUtf8(session.id));
		exportDelay.start();
	}
}

void SessionExports::flush()
{
	exportDelay.stop();
	std::set<QString> ids;
	ids.swap(dirtyExports);
	for (const QString &id : ids) {
		Session *session = lookup.find(id);
		if (session && session->isEnded())
			writeSessionLists(*session);
	}
}

void SessionExports::forgetSession(const QString &id)
{
	cancelHighlights(id);
	dirtyExports.erase(id);
}

QStringList SessionExports::exportLists()
{
	Session *session = lookup.viewed();
	if (!session)
		return {};
	const QStringList written = writeSessionLists(*session);
	if (!written.isEmpty())
		emit status(engineMessage(EngineText::Exported, toUtf8(QDir(exportFolder(*session)).dirName())));
	else
		emit status(engineMessage(EngineText::ExportFailed));
	return written;
}

QStringList SessionExports::writeSessionLists(Session &session)
{
	const std::string folderBefore = session.export_dir;
	const QStringList written = writeLists(session, listTexts);
	if (session.export_dir != folderBefore)
		cache.markDirty(fromUtf8(session.id));
	exportQuotes();
	return written;
}

QString SessionExports::exportQuotes()
{
	// Every known session once: the stored ones and those only in memory so far.
	QStringList ids = lookup.sessionIds();
	ids += cache.loadedIds();
	std::set<QString> seen;
	std::vector<const Session *> known;
	for (const QString &id : ids)
		if (seen.insert(id).second)
			if (const Session *s = lookup.find(id))
				known.push_back(s);
	return writeQuotesFile(std::move(known), listTexts);
}

void SessionExports::highlightsAfterRenames(const QString &sessionId, bool renamesRunning)
{
	highlightsPending = sessionId;
	if (!renamesRunning)
		startPendingHighlights();
}

void SessionExports::startPendingHighlights()
{
	if (highlightsPending.isEmpty())
		return;
	const QString id = std::exchange(highlightsPending, QString());
	if (Session *session = lookup.find(id))
		startHighlights(*session, false);
}

bool SessionExports::exportHighlights()
{
	Session *session = lookup.viewed();
	return session && startHighlights(*session, true);
}
bool SessionExports::startHighlights(Session &session, bool byHand)
{
	if (highlightsClosed)
		return false;
	if (highlights) {
		pluginLog(LOG_INFO, "highlights: session %s refused, another video is being written",
			  session.id.c_str());
		if (byHand)
			emit status(engineMessage(EngineText::HighlightsBusy));
		return false;
	}
	std::vector<HighlightClip> clips;
	auto job = std::make_shared<HighlightsJob>();
	for (const Entry &e : session.entries) {
		const Entry *owner = session.savedClipOwner(e);
		if (!owner)
			continue;
		HighlightClip clip;
		clip.entryId = e.id;
		clip.path = owner->clip.path;
		clip.title = isBlank(e.label) ? pressLabel(listTexts, e.number) : e.label;
		clip.markMs = e.t_ms;
		clip.clipEndMs = owner->clip.end_ms;
		clips.push_back(std::move(clip));
		job->clips.push_back(normalizedPathKey(fromUtf8(owner->clip.path)));
	}
	const QString folder = exportFolder(session);
	if (clips.empty() || folder.isEmpty() || !QDir().mkpath(folder)) {
		if (byHand)
			emit status(engineMessage(
			    clips.empty() ? EngineText::HighlightsNone : EngineText::HighlightsFailed, "folder"));
		return false;
	}
	job->sessionId = fromUtf8(session.id);
	const QString base = fromUtf8(sanitizeFileName(session.prefix + " " + moduleText(ListText::FileHighlights)));
	const int64_t highlightMs = int64_t(settings().highlight_seconds) * 1000;
	static uint64_t jobs = 0;
	job->seq = ++jobs;
	HighlightsJob *raw = job.get();
	const uint64_t seq = job->seq;
	auto progress = [this, seq](int done, int total) {
		QMetaObject::invokeMethod(
		    this,
		    [this, seq, done, total] {
			    if (highlights && highlights->seq == seq)
				    emit status(engineMessage(EngineText::HighlightsProgress, std::to_string(done),
							      std::to_string(total)));
		    },
		    Qt::QueuedConnection);
	};
	highlights = job;
	pluginLog(LOG_INFO, "highlights: session %s, %zu clips", session.id.c_str(), clips.size());
	emit status(engineMessage(EngineText::HighlightsProgress, "0", std::to_string(clips.size())));
	job->thread =
	    std::thread([this, raw, seq, clips = std::move(clips), highlightMs, folder, base, progress]() mutable {
		    runHighlights(raw->cancel, raw->outcome, std::move(clips), highlightMs, folder, base, progress);
		    raw->finished = true;
		    QMetaObject::invokeMethod(
			this, [this, seq] { onHighlightsDone(seq); }, Qt::QueuedConnection);
	    });
	return true;
}

void SessionExports::onHighlightsDone(uint64_t seq)
{
	if (!highlights || highlights->seq != seq)
		return; // cancelled and joined already
	std::shared_ptr<HighlightsJob> job = std::move(highlights);
	if (job->thread.joinable())
		job->thread.join();
	const HighlightsOutcome *done = &job->outcome;
	QStringList names;
	for (const WrittenVideo &v : done->videos) {
		names << QFileInfo(fromUtf8(v.path)).fileName();
		emit notify(HighlightsWrittenEvent{toUtf8(job->sessionId), v.path, v.stretches, v.durationMs});
	}
	QString message = names.isEmpty() ? engineMessage(EngineText::HighlightsFailed, done->error)
					  : engineMessage(EngineText::HighlightsWritten, toUtf8(names.join(", ")));
	if (!done->leftOut.empty()) {
		std::string left;
		for (const std::string &name : done->leftOut)
			left += (left.empty() ? "" : ", ") + name;
		message += QStringLiteral(" ") + engineMessage(EngineText::HighlightsLeftOut, left);
	}
	emit status(message);
}

void SessionExports::closeHighlights()
{
	highlightsClosed = true;
	cancelHighlights(QString());
}

void SessionExports::cancelHighlights(const QString &sessionId)
{
	if (!highlights || (!sessionId.isEmpty() && highlights->sessionId != sessionId))
		return;
	pluginLog(LOG_INFO, "highlights: cancelled");
	highlights.reset(); // joins; the worker removes what it had written
}

void SessionExports::waitForHighlights()
{
	if (highlights && highlights->thread.joinable())
		highlights->thread.join();
	if (highlights)
		onHighlightsDone(highlights->seq);
}

bool SessionExports::highlightsHold(const QString &path) const
{
	if (!highlights || highlights->finished)
		return false;
	const QString key = normalizedPathKey(path);
	return std::find(highlights->clips.begin(), highlights->clips.end(), key) != highlights->clips.end();
}
