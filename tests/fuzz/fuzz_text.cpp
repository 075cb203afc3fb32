// libFuzzer entry for the text helpers and the list builders. The first byte picks the helper; each
// branch checks what callers rely on, not just that nothing crashed.
#include "lists/ChapterCheck.h"
#include "lists/Lists.h"
#include "lists/TextFormat.h"
#include "ShippedTexts.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

void check(bool ok)
{
	if (!ok)
		__builtin_trap();
}

void fuzzTimeText(FuzzedDataProvider &in)
{
	const std::string text = in.ConsumeRemainingBytesAsString();
	int64_t ms = 12345;
	if (!parseTimeText(text, ms)) {
		check(ms == 12345);
		return;
	}
	check(ms % 1000 == 0);
	// What the dock shows must read back as the same time.
	if (ms >= 0) {
		int64_t again = -1;
		check(parseTimeText(formatOffset(ms), again) && again == ms);
	}
}

void fuzzFileName(FuzzedDataProvider &in)
{
	const std::string text = in.ConsumeRemainingBytesAsString();
	const std::string name = sanitizeFileName(text);
	check(name.size() <= 150);
	for (char ch : name) {
		const unsigned char c = static_cast<unsigned char>(ch);
		// A renamed clip must stay in its folder, whatever bytes the label holds.
		check(c != '/' && c != '\\' && c != ':' && c != '*' && c != '?' && c != '"' && c != '<' && c != '>' &&
		      c != '|');
		check(c >= 32 && c != 127);
	}
	check(name.empty() || (name.back() != ' ' && name.back() != '.'));
	check(sanitizeFileName(name) == name);
	check(fileNameOf(name) == name);
}

void fuzzArchiveLink(FuzzedDataProvider &in)
{
	const int64_t seconds = in.ConsumeIntegral<int64_t>();
	const std::string url = in.ConsumeRemainingBytesAsString();
	const std::string link = archiveLink(url, seconds);
	const ArchiveLinker linker(url);
	std::string appended = "x";
	linker.append(appended, seconds);
	check(appended == "x" + link);
	check(link.empty() == isBlank(url));
	const std::string id = videoIdOf(url);
	if (!id.empty())
		check(link.compare(0, 8, "https://") == 0 && link.find(id) != std::string::npos);
}

void fuzzTemplateAndCsv(FuzzedDataProvider &in)
{
	const std::string first = in.ConsumeRandomLengthString(64);
	const std::string second = in.ConsumeRandomLengthString(64);
	const std::string tmpl = in.ConsumeRemainingBytesAsString();
	const std::string filled = fillTemplate(tmpl, first, second);
	std::string appended;
	appendTemplate(appended, tmpl, first, second);
	check(appended == filled);
	const std::string field = csvField(tmpl);
	std::string appendedField;
	appendCsvField(appendedField, tmpl);
	check(field == appendedField);
	if (tmpl.find_first_of(",\"\r\n") == std::string::npos)
		check(field == tmpl);
	else
		check(field.size() >= tmpl.size() + 2 && field.front() == '"' && field.back() == '"');
}

Session fuzzSession(FuzzedDataProvider &in)
{
	Session s;
	s.id = "fuzz";
	s.prefix = in.ConsumeRandomLengthString(32);
	s.source = static_cast<SessionSource>(in.ConsumeIntegralInRange<int32_t>(-1, 3));
	s.start_wall_ms = in.ConsumeIntegral<int64_t>();
	s.end_wall_ms = in.ConsumeBool() ? in.ConsumeIntegral<int64_t>() : 0;
	s.length_ms = in.ConsumeIntegral<int64_t>();
	s.shift_ms = in.ConsumeBool() ? in.ConsumeIntegral<int64_t>() : in.ConsumeIntegralInRange<int64_t>(-5000, 5000);
	s.archive_url = in.ConsumeRandomLengthString(64);
	const int count = in.ConsumeIntegralInRange(0, 40);
	for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
		Entry e;
		e.kind = static_cast<EntryKind>(in.ConsumeIntegralInRange<int32_t>(-1, 8));
		e.t_ms =
		    in.ConsumeBool() ? in.ConsumeIntegral<int64_t>() : in.ConsumeIntegralInRange<int64_t>(0, 7200000);
		e.wall_ms = in.ConsumeIntegral<int64_t>();
		e.label = in.ConsumeRandomLengthString(48);
		e.chapter = in.ConsumeBool();
		e.number = in.ConsumeIntegral<int32_t>();
		if (in.ConsumeBool()) {
			e.clip.state = static_cast<ClipState>(in.ConsumeIntegralInRange<int32_t>(-1, 5));
			e.clip.path = in.ConsumeRandomLengthString(48);
			e.clip.start_ms = in.ConsumeIntegral<int64_t>();
			e.clip.end_ms = in.ConsumeIntegral<int64_t>();
			e.clip.shared_with = in.ConsumeIntegralInRange<int64_t>(-1, count + 1);
		}
		// Stored files may carry any id; addEntry numbers live marks.
		if (in.ConsumeBool()) {
			e.id = in.ConsumeIntegralInRange<int64_t>(-2, count + 2);
			s.entries.push_back(e);
		} else {
			s.addEntry(e);
		}
	}
	// Every session the lists see comes from addEntry or the loader, both in time order.
	std::stable_sort(s.entries.begin(), s.entries.end(),
			 [](const Entry &a, const Entry &b) { return a.t_ms < b.t_ms; });
	return s;
}

void fuzzLists(FuzzedDataProvider &in)
{
	const Session s = fuzzSession(in);
	static const ExportTexts texts = shippedTexts("ja-JP");
	const std::vector<Chapter> rows = chapterList(s);
	for (size_t i = 0; i < rows.size(); ++i) {
		check(rows[i].offset_ms >= 0);
		if (i > 0)
			check(rows[i].offset_ms >= rows[i - 1].offset_ms);
	}
	const std::string chapters = chapterText(s, "\n");
	size_t lines = chapters.empty() ? 0 : 1;
	for (char c : chapters)
		lines += c == '\n';
	size_t labelLines = 0;
	for (const Chapter &row : rows)
		for (char c : row.title)
			labelLines += c == '\n';
	check(lines == rows.size() + labelLines);

	const std::string csv = buildCsvText(s, texts);
	check(csv.compare(0, texts.csv_header.size(), texts.csv_header) == 0);
	check(csv.size() >= 2 && csv.compare(csv.size() - 2, 2, "\r\n") == 0);
	buildNotesText(s, texts);
	const std::string quotes = buildQuotesText(s, texts);
	check(quotes.empty() || quotes.compare(quotes.size() - 2, 2, "\r\n") == 0);
	const std::vector<ChapterIssue> issues = checkChapters(s);
	for (const ChapterIssue &issue : issues)
		check(issue.index >= 0 && issue.index <= int64_t(rows.size()));
	for (int64_t id : shortChaptersToDrop(s))
		check(s.findEntry(id) != nullptr);
	for (const Entry &e : s.entries) {
		const std::string base = clipBaseName(s, e, texts);
		check(base.find_first_of("/\\:") == std::string::npos && base.size() <= 150);
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzedDataProvider in(data, size);
	switch (in.ConsumeIntegralInRange(0, 4)) {
	case 0:
		fuzzTimeText(in);
		break;
	case 1:
		fuzzFileName(in);
		break;
	case 2:
		fuzzArchiveLink(in);
		break;
	case 3:
		fuzzTemplateAndCsv(in);
		break;
	default:
		fuzzLists(in);
		break;
	}
	return 0;
}
