#include "lists/TextFormat.h"
#include "util/ModuleCore.h"
#include "ShippedTexts.h"

#include <gtest/gtest.h>

namespace {

TEST(TextFormatTime, OffsetsAsClockTexts)
{
	EXPECT_EQ(formatOffset(-500), "00:00");
	EXPECT_EQ(formatOffset(0), "00:00");
	EXPECT_EQ(formatOffset(999), "00:00");
	EXPECT_EQ(formatOffset(59 * 60000 + 59999), "59:59");
	EXPECT_EQ(formatOffset(3600000), "1:00:00");
	EXPECT_EQ(formatOffset(36000000), "10:00:00");
	EXPECT_EQ(formatOffset((12 * 3600 + 3 * 60 + 9) * 1000LL), "12:03:09");
	EXPECT_EQ(formatOffset(INT64_MAX), "2562047788015:12:55");
	EXPECT_EQ(formatOffset(INT64_MIN), "00:00");

	EXPECT_EQ(formatOffsetForFile(330000), "0-05-30");
	EXPECT_EQ(formatOffsetForFile(3600000), "1-00-00");
	EXPECT_EQ(formatOffsetForFile(-1), "0-00-00");
}

TEST(TextFormatTime, ArchiveTimeSubtractsTheShift)
{
	ExportTexts t = shippedTexts("ja-JP");
	Session s;
	s.shift_ms = 10000;
	EXPECT_EQ(archiveTimeText(s, 75000, t), "01:05");
	EXPECT_EQ(archiveTimeText(s, 10000, t), "00:00");
	EXPECT_EQ(archiveTimeText(s, 9999, t), "カットした所");
	s.shift_ms = -5000;
	EXPECT_EQ(archiveTimeText(s, 0, t), "00:05");
	// Values from an edited file stay in range instead of wrapping around.
	EXPECT_EQ(archiveOffset(s, INT64_MAX), INT64_MAX);
	s.shift_ms = INT64_MAX;
	EXPECT_EQ(archiveOffset(s, -10), INT64_MIN);
	EXPECT_EQ(archiveTimeText(s, -10, t), "カットした所");
}

TEST(TextFormatTime, ParseAcceptsTheDocumentedForms)
{
	const struct {
		const char *text;
		int64_t ms;
	} good[] = {
	    {"90", 90000},
	    {"1:30", 90000},
	    {"1:02:03", 3723000},
	    {"00:00:00", 0},
	    {"+5", 5000},
	    {"- 1:00", -60000},
	    {"\xE2\x88\x92"
	     "0:05",
	     -5000}, // U+2212
	    {"\xEF\xBC\x8D"
	     "7",
	     -7000},                                                     // U+FF0D
	    {"\xEF\xBC\x91\xEF\xBC\x9A\xEF\xBC\x93\xEF\xBC\x90", 90000}, // full-width 1:30
	    {" 1 : 3 0\t", 90000},
	    {"100000000", 100000000000LL},
	    {"100000000:59:59", (100000000LL * 3600 + 3599) * 1000},
	};
	for (const auto &g : good) {
		int64_t ms = 12345;
		EXPECT_TRUE(parseTimeText(g.text, ms)) << g.text;
		EXPECT_EQ(ms, g.ms) << g.text;
	}
}

TEST(TextFormatTime, ParseRefusesEverythingElseAndLeavesTheOutput)
{
	for (const char *bad : {"1:60", "1:2:3:4", "1:", ":30", "1.5", "", "-", "+", " ", "1::2", "100000001",
				"99999999999999999999999", "--1", "1a", "\xEF\xBC",
				"\xE2\x88"
				"5",
				"\xEF\xBC\x9A"}) {
		int64_t ms = 777;
		EXPECT_FALSE(parseTimeText(bad, ms)) << bad;
		EXPECT_EQ(ms, 777);
	}
}

TEST(TextFormatText, FillTemplateReplacesOnlyPercentOneAndTwo)
{
	EXPECT_EQ(fillTemplate("%1-%2-%1", "a", "b"), "a-b-a");
	EXPECT_EQ(fillTemplate("100%", "a", "b"), "100%");
	EXPECT_EQ(fillTemplate("%3 %% %1", "%2", "x"), "%3 %% %2");
	EXPECT_EQ(fillTemplate("", "a", "b"), "");
}

TEST(TextFormatText, PressLabelsKindsAndBlanks)
{
	ExportTexts t = shippedTexts("ja-JP");
	EXPECT_EQ(pressLabel(t, 3), "ルマーク03");
	EXPECT_EQ(pressLabel(t, 123), "ルマーク123");
	EXPECT_EQ(kindName(t, EntryKind::Save), "OBS で保存");
	EXPECT_EQ(kindName(t, static_cast<EntryKind>(7)), "");
	EXPECT_EQ(kindName(t, static_cast<EntryKind>(-1)), "");

	EXPECT_EQ(kindFromText("SONG"), EntryKind::Song);
	EXPECT_EQ(kindFromText("Topic"), EntryKind::Topic);
	EXPECT_EQ(kindFromText(" song"), EntryKind::External);
	EXPECT_EQ(kindFromText(""), EntryKind::External);

	EXPECT_TRUE(isBlank(""));
	EXPECT_TRUE(isBlank(" \t\r\n"));
	EXPECT_FALSE(isBlank("\v"));
	EXPECT_FALSE(isBlank("\f"));
	EXPECT_FALSE(isBlank("\xE3\x80\x80")); // ideographic space
}

TEST(TextFormatText, OwnLabelsIgnoreDefaultsInEveryWord)
{
	ExportTexts t = shippedTexts("ja-JP");
	t.word = "Mark";
	Entry e;
	e.number = 4;
	for (const char *unlabelled : {"", "  ", "Mark04", "ルマーク04", "Lumark04"}) {
		e.label = unlabelled;
		EXPECT_FALSE(hasOwnLabel(e, t)) << unlabelled;
	}
	for (const char *own : {"Mark4", "Lumark05", "nice play", "lumark04"}) {
		e.label = own;
		EXPECT_TRUE(hasOwnLabel(e, t)) << own;
	}
	e.kind = EntryKind::Song;
	e.label = "nice play";
	EXPECT_FALSE(hasOwnLabel(e, t));
}

TEST(TextFormatText, CsvFieldsAndFileNames)
{
	EXPECT_EQ(csvField("plain text"), "plain text");
	EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
	EXPECT_EQ(csvField("a,b"), "\"a,b\"");
	EXPECT_EQ(csvField("a\nb"), "\"a\nb\"");
	EXPECT_EQ(csvField("a\rb"), "\"a\rb\"");

	EXPECT_EQ(fileNameOf("C:\\clips\\a.mkv"), "a.mkv");
	EXPECT_EQ(fileNameOf("/home/u/b c.mp4"), "b c.mp4");
	EXPECT_EQ(fileNameOf("dir/mixed\\x.mkv"), "x.mkv");
	EXPECT_EQ(fileNameOf("name"), "name");
	EXPECT_EQ(fileNameOf("dir/"), "");
}

TEST(TextFormatText, SanitizeFileName)
{
	EXPECT_EQ(sanitizeFileName("  a:b?  c. . "), "a：b？ c");
	EXPECT_EQ(sanitizeFileName("\\/:*?\"<>|"), "＼／：＊？＂＜＞｜");
	EXPECT_EQ(sanitizeFileName("a\t\n\x01\x7f"
				   "b"),
		  "a b");
	EXPECT_EQ(sanitizeFileName(std::string(200, 'x')), std::string(150, 'x'));
	// 49 three-byte characters are 147 bytes; the 50th would pass 150 and is dropped whole.
	std::string kana;
	for (int i = 0; i < 60; ++i)
		kana += "あ";
	EXPECT_EQ(sanitizeFileName(kana), kana.substr(0, 150));
	EXPECT_EQ(sanitizeFileName("xx" + kana), "xx" + kana.substr(0, 147));
	EXPECT_EQ(sanitizeFileName(std::string(148, 'x') + ":"), std::string(148, 'x'));
	// A character cut short at the end is copied as it stands.
	EXPECT_EQ(sanitizeFileName("ab\xE3\x81"), "ab\xE3\x81");
	// A lead byte does not swallow the path characters after it.
	EXPECT_EQ(sanitizeFileName("a\xC0/b\xE3\x81:c\xF0\\d\xF0\x9F\x98/"),
		  "a\xC0／b\xE3\x81：c\xF0＼d\xF0\x9F\x98／");
	EXPECT_EQ(sanitizeFileName("..."), "");
}

TEST(TextFormatText, ClipBaseNames)
{
	ExportTexts t = shippedTexts("ja-JP");
	Session s;
	s.prefix = "2026-05-01 20-00";
	s.shift_ms = 1000;
	Entry press;
	press.number = 3;
	press.t_ms = 3724000;
	press.label = "great: save?";
	EXPECT_EQ(clipBaseName(s, press, t), "2026-05-01 20-00 ルマーク03 1-02-03 great： save？");
	press.label = "ルマーク03";
	EXPECT_EQ(clipBaseName(s, press, t), "2026-05-01 20-00 ルマーク03 1-02-03");
	press.label = "  ";
	EXPECT_EQ(clipBaseName(s, press, t), "2026-05-01 20-00 ルマーク03 1-02-03");
	Entry song;
	song.kind = EntryKind::Song;
	song.t_ms = 0;
	song.label = "曲";
	EXPECT_EQ(clipBaseName(s, song, t), "2026-05-01 20-00 曲 0-00-00");
}

TEST(TextFormatLinks, VideoIds)
{
	EXPECT_EQ(videoIdOf("https://www.youtube.com/watch?v=abc_DEF-12&t=5&list=x"), "abc_DEF-12");
	EXPECT_EQ(videoIdOf("https://youtube.com/watch?feature=share&v=XyZ"), "XyZ");
	EXPECT_EQ(videoIdOf("https://www.youtube.com/shorts/Short1?feature=share"), "Short1");
	EXPECT_EQ(videoIdOf("https://www.youtube.com/live/L1v3?si=q"), "L1v3");
	EXPECT_EQ(videoIdOf("https://www.youtube.com/embed/E1"), "E1");
	EXPECT_EQ(videoIdOf("https://youtu.be/Sh0rt?t=3"), "Sh0rt");
	EXPECT_EQ(videoIdOf("https://example.com/watch?v=abc"), "");
	EXPECT_EQ(videoIdOf("https://www.youtube.com/channel/x"), "");
	EXPECT_EQ(videoIdOf("https://www.youtube.com/live/?v=abc"), "");
}

TEST(TextFormatLinks, ArchiveLinks)
{
	EXPECT_EQ(archiveLink("https://www.youtube.com/watch?v=abc&t=1", 75), "https://youtu.be/abc?t=75");
	EXPECT_EQ(archiveLink("https://youtu.be/abc", -3), "https://youtu.be/abc?t=0");
	EXPECT_EQ(archiveLink("https://example.com/v?id=3#top", 75), "https://example.com/v?id=3&t=75#top");
	EXPECT_EQ(archiveLink("https://example.com/v", 75), "https://example.com/v?t=75");
	EXPECT_EQ(archiveLink("https://example.com/v#a#b", 1), "https://example.com/v?t=1#a#b");
	EXPECT_EQ(archiveLink("   ", 75), "");
	EXPECT_EQ(archiveLink("", 75), "");
}

TEST(TextFormatTime, BackdatedOffsets)
{
	EXPECT_EQ(backdatedOffset(100000, 5000), 95000);
	EXPECT_EQ(backdatedOffset(100000, 120000), 40000);
	EXPECT_EQ(backdatedOffset(100000, -5), 100000);
	EXPECT_EQ(backdatedOffset(3000, 5000), 0);
	EXPECT_EQ(backdatedOffset(-10, 0), 0);
}

TEST(TextFormatLocale, ExportTextsComeFromTheLocale)
{
	const ExportTexts t = exportTextsFromLocale();
	EXPECT_EQ(t.word, moduleText("Word.Lumark"));
	EXPECT_EQ(t.kind_names[6], moduleText("Kind.Topic"));
	EXPECT_EQ(t.csv_header, moduleText("Csv.Header"));
	EXPECT_EQ(t.notes_empty, moduleText("Notes.Empty"));
	EXPECT_EQ(t.notes_before_cut, moduleText("Notes.BeforeCut"));
	EXPECT_NE(t.word, shippedTexts("ja-JP").word); // the running locale is en-US
}

} // namespace
