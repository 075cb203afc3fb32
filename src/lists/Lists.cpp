#include "lists/Lists.h"

#include "config/Settings.h"
#include "util/AtomicFile.h"
#include "util/ModuleCore.h"
#include "util/Utf8.h"

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/util.hpp>

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>

namespace {
const char *const kCrLf = "\r\n";
const char kBom[] = "\xEF\xBB\xBF";

struct ClipView {
	const Entry *owner = nullptr;
	bool saved = false;
};

// Session::clipOwner searches linearly; the lists ask for every entry, so index the ids once.
// Ids are dense (1 up to next_id), so a flat table serves; the first entry of an id wins, as in
// findEntry. Ids outside the table (edited files) fall back to the linear search.
class ClipOwners {
public:
	explicit ClipOwners(const Session &session) : session(session)
	{
		bool shared = false;
		for (const Entry &e : session.entries)
			shared = shared || e.clip.shared_with != 0;
		if (!shared)
			return;
		const size_t limit = session.entries.size() * 4 + 64;
		byId.assign(std::min<size_t>(limit, size_t(std::max<int64_t>(session.next_id, 1))), nullptr);
		for (const Entry &e : session.entries)
			if (e.id > 0 && size_t(e.id) < byId.size() && !byId[size_t(e.id)])
				byId[size_t(e.id)] = &e;
	}

	ClipView of(const Entry &entry) const
	{
		ClipView v;
		const int64_t id = entry.clip.shared_with;
		if (id == 0)
			v.owner = &entry;
		else if (id > 0 && size_t(id) < byId.size())
			v.owner = byId[size_t(id)];
		else
			v.owner = session.findEntry(id);
		v.saved = v.owner && v.owner->clip.state == ClipState::Saved;
		return v;
	}

private:
	const Session &session;
	std::vector<const Entry *> byId;
};

// Room for the labels and paths, so a long list is built without growing its buffer.
size_t textBytes(const Session &session)
{
	size_t n = 0;
	for (const Entry &e : session.entries)
		n += e.label.size() + e.clip.path.size();
	return n;
}

// An archive time as a CSV field; only the before-cut word can need quoting.
void appendCsvTime(std::string &out, const Session &session, int64_t offsetMs, const ExportTexts &texts)
{
	const int64_t archiveMs = archiveOffset(session, offsetMs);
	if (archiveMs < 0)
		appendCsvField(out, texts.notes_before_cut);
	else
		appendOffset(out, archiveMs);
}

QString listFileName(const Session &session, const char *key, const char *ext)
{
	// A prefix read from an edited file must not lead the lists out of the folder.
	const std::string base = sanitizeFileName(session.prefix + " " + moduleText(key));
	return QString::fromUtf8((base + ext).c_str());
}

bool writeListFile(const QString &path, const std::string &bytes)
{
	return writeFileAtomically(toUtf8(path), bytes, KeepBackup::No);
}
} // namespace

namespace {
// Calls fn(entry, archive offset) for every chapter row; chapterList and chapterText share it so
// the text needs no copies of the titles.
template <typename Fn> void forEachChapter(const Session &session, Fn &&fn)
{
	const Entry *pending = nullptr;
	for (const Entry &e : session.entries) {
		if (!e.chapter)
			continue;
		const int64_t archiveMs = archiveOffset(session, e.t_ms);
		if (archiveMs < 0) {
			pending = &e;
			continue;
		}
		if (pending && archiveMs / 1000 > 0)
			fn(*pending, int64_t(0));
		fn(e, archiveMs);
		pending = nullptr;
	}
	if (pending)
		fn(*pending, int64_t(0));
}
} // namespace

std::vector<Chapter> chapterList(const Session &session)
{
	std::vector<Chapter> rows;
	rows.reserve(size_t(
	    std::count_if(session.entries.begin(), session.entries.end(), [](const Entry &e) { return e.chapter; })));
	forEachChapter(session, [&](const Entry &e, int64_t offset) { rows.push_back({e.id, offset, e.label}); });
	return rows;
}

std::string chapterText(const Session &session, const std::string &separator)
{
	std::string out;
	bool first = true;
	forEachChapter(session, [&](const Entry &e, int64_t offset) {
		if (!first)
			out += separator;
		first = false;
		appendOffset(out, offset);
		out += ' ';
		out += e.label;
	});
	return out;
}

std::string buildCsvText(const Session &session, const ExportTexts &texts)
{
	std::string out;
	out.reserve(texts.csv_header.size() + 2 + textBytes(session) + session.entries.size() * 96);
	out += texts.csv_header;
	out += kCrLf;
	const ClipOwners owners(session);
	for (const Entry &e : session.entries) {
		const ClipView clip = owners.of(e);
		if (e.number > 0)
			out += std::to_string(e.number);
		out += ',';
		appendCsvField(out, kindName(texts, e.kind));
		out += ',';
		appendCsvTime(out, session, e.t_ms, texts);
		out += ',';
		if (clip.saved)
			appendCsvTime(out, session, clip.owner->clip.start_ms, texts);
		out += ',';
		if (clip.saved)
			appendCsvTime(out, session, clip.owner->clip.end_ms, texts);
		out += ',';
		appendCsvField(out, e.label);
		out += ',';
		if (clip.saved)
			appendCsvField(out, fileNameOf(clip.owner->clip.path));
		out += ',';
		appendCsvField(out, e.chapter ? texts.csv_yes : texts.csv_no);
		out += kCrLf;
	}
	return out;
}

namespace {
// The title, the archive's address and where its 0:00 lies, then an empty line.
void appendNotesHeader(std::string &out, const Session &session, const ArchiveLinker &linker, const ExportTexts &texts)
{
	appendTemplate(out, texts.notes_title, session.prefix);
	out += kCrLf;
	if (!linker.isBlank()) {
		appendTemplate(out, texts.notes_archive, session.archive_url);
		out += kCrLf;
	}
	if (session.shift_ms > 0) {
		appendTemplate(out, texts.notes_shift, formatOffset(session.shift_ms));
		out += kCrLf;
	}
	out += kCrLf;
}

// Presses, saves and every entry with a clip get a block in the notes.
bool hasNotesBlock(const Entry &entry)
{
	return entry.kind == EntryKind::Press || entry.kind == EntryKind::Save || entry.clip.state != ClipState::None;
}

// The entry's name, label, time and clip range; its archive link; its file; an empty line.
void appendNotesBlock(std::string &out, const Session &session, const Entry &e, const ClipView &clip,
		      const ArchiveLinker &linker, const ExportTexts &texts)
{
	const std::string name = e.kind == EntryKind::Press ? pressLabel(texts, e.number) : kindName(texts, e.kind);
	out += name;
	if (!isBlank(e.label) && e.label != name) {
		out += ' ';
		out += e.label;
	}
	out += "  ";
	appendArchiveTime(out, session, e.t_ms, texts);
	if (clip.saved) {
		std::string start, end;
		appendArchiveTime(start, session, clip.owner->clip.start_ms, texts);
		appendArchiveTime(end, session, clip.owner->clip.end_ms, texts);
		out += "（";
		appendTemplate(out, texts.notes_range, start, end);
		out += "）";
	}
	out += kCrLf;
	if (!linker.isBlank()) {
		const int64_t at = clip.saved ? clip.owner->clip.start_ms : e.t_ms;
		out += "  ";
		linker.append(out, archiveOffset(session, at) / 1000);
		out += kCrLf;
	}
	out += "  ";
	if (clip.saved)
		appendTemplate(out, texts.notes_file, fileNameOf(clip.owner->clip.path));
	else
		out += texts.notes_no_file;
	out += kCrLf;
	out += kCrLf;
}
} // namespace

std::string buildNotesText(const Session &session, const ExportTexts &texts)
{
	std::string out;
	out.reserve(256 + textBytes(session) + session.entries.size() * 160);
	const ArchiveLinker linker(session.archive_url);
	appendNotesHeader(out, session, linker, texts);
	bool anyBlock = false;
	const ClipOwners owners(session);
	for (const Entry &e : session.entries) {
		if (!hasNotesBlock(e))
			continue;
		anyBlock = true;
		appendNotesBlock(out, session, e, owners.of(e), linker, texts);
	}
	if (!anyBlock) {
		out += texts.notes_empty;
		out += kCrLf;
	}
	return out;
}

std::string buildQuotesText(const Session &session, const ExportTexts &texts)
{
	std::string out;
	for (const Entry &e : session.entries) {
		if (!hasOwnLabel(e, texts))
			continue;
		std::string flat;
		flat.reserve(e.label.size());
		for (size_t i = 0; i < e.label.size(); ++i) {
			const char c = e.label[i];
			if (c == '\r' && i + 1 < e.label.size() && e.label[i + 1] == '\n') {
				flat += ' ';
				++i;
			} else {
				flat += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
			}
		}
		out += archiveTimeText(session, e.t_ms, texts);
		out += ' ';
		out += flat;
		out += kCrLf;
	}
	return out;
}

std::string buildQuotesFileText(std::vector<const Session *> sessions, const ExportTexts &texts)
{
	std::sort(sessions.begin(), sessions.end(), [](const Session *a, const Session *b) {
		if (a->start_wall_ms != b->start_wall_ms)
			return a->start_wall_ms > b->start_wall_ms;
		return a->id > b->id;
	});
	const QString headerTemplate = moduleQText(ListText::QuotesHeader);
	std::string content;
	for (const Session *s : sessions) {
		const std::string quotes = buildQuotesText(*s, texts);
		if (quotes.empty())
			continue;
		const QString start =
		    QDateTime::fromMSecsSinceEpoch(s->start_wall_ms).toString(QStringLiteral("yyyy-MM-dd HH-mm"));
		content += headerTemplate.arg(start).toUtf8().toStdString();
		content += kCrLf;
		content += quotes;
		content += kCrLf;
	}
	return content;
}

QString exportFolder(const Session &session)
{
	if (!session.export_dir.empty())
		return QString::fromUtf8(session.export_dir.c_str());
	if (!settings().export_dir.isEmpty())
		return settings().export_dir;
	BPtr<char> recordPath = obs_frontend_get_current_record_output_path();
	if (recordPath && *recordPath)
		return QString::fromUtf8(recordPath.Get());
	return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
}

QString timestampsFileName(const Session &session)
{
	return listFileName(session, ListText::FileTimestamps, ".txt");
}

QString csvFileName(const Session &session)
{
	return listFileName(session, ListText::FileList, ".csv");
}

QString notesFileName(const Session &session)
{
	return listFileName(session, ListText::FileNotes, ".txt");
}

QString quotesFileName()
{
	return moduleQText(ListText::FileQuotes) + QStringLiteral(".txt");
}

QStringList writeLists(Session &session, const ExportTexts &texts)
{
	QStringList written;
	const QString folder = exportFolder(session);
	if (folder.isEmpty() || !QDir().mkpath(folder)) {
		pluginLog(LOG_WARNING, "could not make the folder for the lists");
		return written;
	}
	const QDir dir(folder);
	const struct {
		QString name;
		std::string bytes;
	} files[] = {
	    {timestampsFileName(session), chapterText(session, kCrLf) + kCrLf},
	    {csvFileName(session), kBom + buildCsvText(session, texts)},
	    {notesFileName(session), buildNotesText(session, texts)},
	};
	for (const auto &f : files) {
		const QString path = dir.filePath(f.name);
		if (writeListFile(path, f.bytes))
			written << path;
	}
	if (written.size() == 3) {
		session.export_dir = toUtf8(folder);
	} else {
		pluginLog(LOG_WARNING, "could not write all the lists (%d of 3)", int(written.size()));
	}
	return written;
}

QString writeQuotesFile(std::vector<const Session *> sessions, const ExportTexts &texts)
{
	const QString folder = exportFolder(Session());
	if (folder.isEmpty() || !QDir().mkpath(folder)) {
		pluginLog(LOG_WARNING, "名言集のフォルダーを作れませんでした");
		return QString();
	}

	const std::string content = buildQuotesFileText(std::move(sessions), texts);

	const QString path = QDir(folder).filePath(quotesFileName());
	if (!writeListFile(path, content)) {
		pluginLog(LOG_WARNING, "名言集を書き出せませんでした");
		return QString();
	}
	return path;
}
