#include "lists/TextFormat.h"

#include "session/Saturating.h"

#include "util/ModuleCore.h"
#include "util/Utf8.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

namespace ListText {
const char *const FileTimestamps = "File.Timestamps";
const char *const FileList = "File.List";
const char *const FileNotes = "File.Notes";
const char *const FileQuotes = "File.Quotes";
const char *const QuotesHeader = "Quotes.Header";
const char *const FileHighlights = "File.Highlights";
} // namespace ListText

namespace {
struct TextField {
	const char *key;
	std::string ExportTexts::*member;
};

const TextField kListTexts[] = {
    {"Word.Lumark", &ExportTexts::word},
    {"Csv.Header", &ExportTexts::csv_header},
    {"Csv.Yes", &ExportTexts::csv_yes},
    {"Csv.No", &ExportTexts::csv_no},
    {"Notes.Title", &ExportTexts::notes_title},
    {"Notes.Archive", &ExportTexts::notes_archive},
    {"Notes.Shift", &ExportTexts::notes_shift},
    {"Notes.Range", &ExportTexts::notes_range},
    {"Notes.File", &ExportTexts::notes_file},
    {"Notes.NoFile", &ExportTexts::notes_no_file},
    {"Notes.BeforeCut", &ExportTexts::notes_before_cut},
    {"Notes.Empty", &ExportTexts::notes_empty},
};

// By EntryKind.
const char *const kKindNameKeys[] = {"Kind.Start", "Kind.Scene", "Kind.Press", "Kind.External",
				     "Kind.Save",  "Kind.Song",  "Kind.Topic"};
static_assert(std::size(kKindNameKeys) == std::tuple_size_v<decltype(ExportTexts::kind_names)>);

const char *const kShortLinkHost = "youtu.be/";
const char *const kWatchHost = "youtube.com/";
const char *const kShippedWords[] = {"ルマーク", "Lumark"};
// Keeps hours * 3600 * 1000 far inside 64 bits, and no time anyone types comes near it.
const int64_t kFieldLimit = 100000000;
// A mark said to be made some time ago reaches back a minute at most: a client's larger value is more
// likely a mistake than a real delay.
const int64_t kMaxLookBackMs = 60000;

std::string twoDigits(int32_t number)
{
	char buf[16];
	snprintf(buf, sizeof(buf), "%02d", number);
	return buf;
}

bool startsAt(const std::string &s, size_t i, const char *bytes)
{
	const size_t n = std::strlen(bytes);
	return i + n <= s.size() && s.compare(i, n, bytes) == 0;
}

bool isIdChar(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}
} // namespace

ExportTexts exportTextsFromLocale()
{
	ExportTexts t;
	for (const TextField &text : kListTexts)
		t.*text.member = moduleText(text.key);
	for (size_t i = 0; i < t.kind_names.size(); ++i)
		t.kind_names[i] = moduleText(kKindNameKeys[i]);
	return t;
}

int64_t archiveOffset(const Session &session, int64_t offsetMs)
{
	return satSub(offsetMs, session.shift_ms);
}

void appendOffset(std::string &out, int64_t ms)
{
	const long long seconds = std::max<int64_t>(ms, 0) / 1000;
	char buf[32];
	const int n = seconds < 3600 ? snprintf(buf, sizeof(buf), "%02lld:%02lld", seconds / 60, seconds % 60)
				     : snprintf(buf, sizeof(buf), "%lld:%02lld:%02lld", seconds / 3600,
						(seconds / 60) % 60, seconds % 60);
	out.append(buf, size_t(std::clamp(n, 0, int(sizeof(buf)) - 1)));
}

std::string formatOffset(int64_t ms)
{
	std::string out;
	appendOffset(out, ms);
	return out;
}

std::string formatOffsetForFile(int64_t ms)
{
	const long long seconds = std::max<int64_t>(ms, 0) / 1000;
	char buf[32];
	snprintf(buf, sizeof(buf), "%lld-%02lld-%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
	return buf;
}

void appendArchiveTime(std::string &out, const Session &session, int64_t offsetMs, const ExportTexts &texts)
{
	const int64_t archiveMs = archiveOffset(session, offsetMs);
	if (archiveMs < 0)
		out += texts.notes_before_cut;
	else
		appendOffset(out, archiveMs);
}

std::string archiveTimeText(const Session &session, int64_t offsetMs, const ExportTexts &texts)
{
	std::string out;
	appendArchiveTime(out, session, offsetMs, texts);
	return out;
}

namespace {
// Blanks dropped; full-width digits, colon and minus (and the minus sign) made ASCII.
std::string asciiTimeText(const std::string &text)
{
	std::string ascii;
	ascii.reserve(text.size());
	for (size_t i = 0; i < text.size();) {
		const char c = text[i];
		if (c == ' ' || c == '\t') {
			++i;
		} else if (startsAt(text, i, "\xE2\x88\x92") || startsAt(text, i, "\xEF\xBC\x8D")) {
			ascii += '-';
			i += 3;
		} else if (startsAt(text, i, "\xEF\xBC\x9A")) {
			ascii += ':';
			i += 3;
		} else if (i + 3 <= text.size() && startsAt(text, i, "\xEF\xBC") &&
			   static_cast<unsigned char>(text[i + 2]) >= 0x90 &&
			   static_cast<unsigned char>(text[i + 2]) <= 0x99) {
			ascii += char('0' + (static_cast<unsigned char>(text[i + 2]) - 0x90));
			i += 3;
		} else {
			ascii += c;
			++i;
		}
	}
	return ascii;
}

// "S", "M:SS" or "H:MM:SS" from pos to the end, as seconds; false for anything else.
bool parseTimeFields(const std::string &text, size_t pos, int64_t &outSeconds)
{
	int64_t fields[3];
	int count = 0;
	while (true) {
		if (count == 3)
			return false;
		int64_t value = 0;
		size_t digits = 0;
		while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
			value = value * 10 + (text[pos] - '0');
			if (value > kFieldLimit)
				return false;
			++pos;
			++digits;
		}
		if (digits == 0)
			return false;
		fields[count++] = value;
		if (pos == text.size())
			break;
		if (text[pos] != ':')
			return false;
		++pos;
	}
	int64_t total = fields[0];
	for (int i = 1; i < count; ++i) {
		if (fields[i] >= 60)
			return false;
		total = total * 60 + fields[i];
	}
	outSeconds = total;
	return true;
}
} // namespace

bool parseTimeText(const std::string &text, int64_t &outMs)
{
	const std::string ascii = asciiTimeText(text);
	size_t pos = 0;
	bool negative = false;
	if (pos < ascii.size() && (ascii[pos] == '-' || ascii[pos] == '+')) {
		negative = ascii[pos] == '-';
		++pos;
	}
	int64_t seconds = 0;
	if (pos >= ascii.size() || !parseTimeFields(ascii, pos, seconds))
		return false;
	outMs = (negative ? -seconds : seconds) * 1000;
	return true;
}

void appendTemplate(std::string &out, const std::string &tmpl, const std::string &first, const std::string &second)
{
	for (size_t i = 0; i < tmpl.size(); ++i) {
		if (tmpl[i] == '%' && i + 1 < tmpl.size() && (tmpl[i + 1] == '1' || tmpl[i + 1] == '2')) {
			out += tmpl[i + 1] == '1' ? first : second;
			++i;
		} else {
			out += tmpl[i];
		}
	}
}

std::string fillTemplate(const std::string &tmpl, const std::string &first, const std::string &second)
{
	std::string out;
	out.reserve(tmpl.size() + first.size() + second.size());
	appendTemplate(out, tmpl, first, second);
	return out;
}

std::string pressLabel(const ExportTexts &texts, int32_t number)
{
	return texts.word + twoDigits(number);
}

std::string kindName(const ExportTexts &texts, EntryKind kind)
{
	const int32_t k = static_cast<int32_t>(kind);
	return k >= 0 && k < static_cast<int32_t>(texts.kind_names.size()) ? texts.kind_names[size_t(k)]
									   : std::string();
}

EntryKind kindFromText(const std::string &text)
{
	std::string lower = text;
	for (char &c : lower)
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
	if (lower == "song")
		return EntryKind::Song;
	if (lower == "topic")
		return EntryKind::Topic;
	return EntryKind::External;
}

bool isBlank(const std::string &text)
{
	return std::all_of(text.begin(), text.end(),
			   [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

bool hasOwnLabel(const Entry &entry, const ExportTexts &texts)
{
	if (entry.kind != EntryKind::Press || isBlank(entry.label))
		return false;
	const std::string digits = twoDigits(entry.number);
	if (entry.label == texts.word + digits)
		return false;
	for (const char *word : kShippedWords)
		if (entry.label == word + digits)
			return false;
	return true;
}

void appendCsvField(std::string &out, const std::string &text)
{
	if (text.find_first_of(",\"\r\n") == std::string::npos) {
		out += text;
		return;
	}
	out += '"';
	for (char c : text) {
		if (c == '"')
			out += '"';
		out += c;
	}
	out += '"';
}

std::string csvField(const std::string &text)
{
	std::string out;
	appendCsvField(out, text);
	return out;
}

namespace {
// The full-width form of a character Windows forbids in file names, or null.
const char *fullWidthForm(char c)
{
	switch (c) {
	case '\\':
		return "＼";
	case '/':
		return "／";
	case ':':
		return "：";
	case '*':
		return "＊";
	case '?':
		return "？";
	case '"':
		return "＂";
	case '<':
		return "＜";
	case '>':
		return "＞";
	case '|':
		return "｜";
	default:
		return nullptr;
	}
}
} // namespace

std::string sanitizeFileName(const std::string &text)
{
	// Leaves room for the folder and the extension within the 260 characters of a classic Windows path.
	static const size_t kLimit = 150;
	std::string out;
	out.reserve(std::min(text.size(), kLimit));
	for (size_t i = 0; i < text.size();) {
		const unsigned char lead = static_cast<unsigned char>(text[i]);
		// A character ends at the first byte that cannot continue it: malformed UTF-8 must not
		// carry a "/", "\" or ":" into the name unchanged.
		const size_t len = utf8SequenceAt(text, i).length;
		std::string_view piece(text.data() + i, len);
		if (len == 1 && lead < 0x80) {
			if (const char *wide = fullWidthForm(char(lead)))
				piece = wide;
			else if (lead < 32 || lead == 127)
				piece = " ";
		}
		i += len;
		if (out.size() + piece.size() > kLimit)
			break;
		if (piece == " " && (out.empty() || out.back() == ' '))
			continue;
		out += piece;
	}
	while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
		out.pop_back();
	return out;
}

std::string clipBaseName(const Session &session, const Entry &entry, const ExportTexts &texts)
{
	const std::string def =
	    entry.kind == EntryKind::Press ? pressLabel(texts, entry.number) : kindName(texts, entry.kind);
	const std::string label = entry.label == def ? std::string() : entry.label;
	std::string name = session.prefix + " " + def + " " + formatOffsetForFile(archiveOffset(session, entry.t_ms));
	if (!isBlank(label))
		name += " " + label;
	return sanitizeFileName(name);
}

std::string videoIdOf(const std::string &url)
{
	size_t start = std::string::npos;
	size_t at = url.find(kShortLinkHost);
	if (at != std::string::npos) {
		start = at + std::strlen(kShortLinkHost);
	} else if (url.find(kWatchHost) != std::string::npos) {
		for (const char *marker : {"/live/", "/shorts/", "/embed/", "?v=", "&v="}) {
			at = url.find(marker);
			if (at != std::string::npos) {
				start = at + std::strlen(marker);
				break;
			}
		}
	}
	if (start == std::string::npos)
		return {};
	size_t end = start;
	while (end < url.size() && isIdChar(url[end]))
		++end;
	return url.substr(start, end - start);
}

ArchiveLinker::ArchiveLinker(const std::string &url) : blank(::isBlank(url))
{
	if (blank)
		return;
	const std::string id = videoIdOf(url);
	if (!id.empty()) {
		head = std::string("https://") + kShortLinkHost + id + "?t=";
		return;
	}
	const size_t hash = url.find('#');
	head = url.substr(0, hash);
	head += head.find('?') == std::string::npos ? "?t=" : "&t=";
	if (hash != std::string::npos)
		tail = url.substr(hash);
}

void ArchiveLinker::append(std::string &out, int64_t seconds) const
{
	if (blank)
		return;
	char buf[24];
	const int n = snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(std::max<int64_t>(seconds, 0)));
	out += head;
	out.append(buf, size_t(std::max(n, 0)));
	out += tail;
}

std::string archiveLink(const std::string &url, int64_t seconds)
{
	std::string out;
	ArchiveLinker(url).append(out, seconds);
	return out;
}

int64_t backdatedOffset(int64_t offsetMs, int64_t lookBackMs)
{
	const int64_t lookBack = std::clamp<int64_t>(lookBackMs, 0, kMaxLookBackMs);
	return std::max<int64_t>(std::max<int64_t>(offsetMs, 0) - lookBack, 0);
}
