#include "lists/Lists.h"
#include "util/ModuleCore.h"
#include "ShippedTexts.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace {

Entry press(int64_t t, int32_t number, const char *label)
{
	Entry e;
	e.kind = EntryKind::Press;
	e.t_ms = t;
	e.number = number;
	e.label = label;
	return e;
}

std::string header(const Session &s)
{
	const QString start = QDateTime::fromMSecsSinceEpoch(s.start_wall_ms).toString("yyyy-MM-dd HH-mm");
	return QString::fromUtf8(moduleText("Quotes.Header")).arg(start).toStdString() + "\r\n";
}

TEST(Quotes, OwnLabelsOnlyFlattenedWithArchiveTimes)
{
	ExportTexts t = shippedTexts("ja-JP");
	Session s;
	s.shift_ms = 5000;
	s.addEntry(press(1000, 1, "early words"));
	s.addEntry(press(65000, 2, "ルマーク02"));
	s.addEntry(press(66000, 3, "Lumark03"));
	s.addEntry(press(70000, 4, "two\r\nlines\nand\ra\ttab "));
	s.addEntry(press(71000, 5, "   "));
	Entry song = press(72000, 0, "a song");
	song.kind = EntryKind::Song;
	s.addEntry(song);
	EXPECT_EQ(buildQuotesText(s, t), "カットした所 early words\r\n01:05 two lines and a tab \r\n");
	Session none;
	none.addEntry(press(0, 1, "ルマーク01"));
	EXPECT_EQ(buildQuotesText(none, t), "");
}

TEST(Quotes, NewestSessionFirstTiesByGreaterIdAndNoHeaderWithoutQuotes)
{
	ExportTexts t = shippedTexts("ja-JP");
	Session older, a, b, silent;
	older.id = "2026-01-01_10-00-00";
	older.start_wall_ms = 1767261600000LL;
	older.addEntry(press(1000, 1, "old"));
	a.id = "2026-02-01_10-00-00";
	a.start_wall_ms = 1769940000000LL;
	a.addEntry(press(2000, 1, "from a"));
	b = a;
	b.id = "2026-02-01_10-00-00_2";
	b.entries[0].label = "from b";
	silent.id = "2027-01-01_00-00-00";
	silent.start_wall_ms = 1798761600000LL;
	silent.addEntry(press(0, 1, "ルマーク01"));

	const std::string expected = header(b) + "00:02 from b\r\n\r\n" + header(a) + "00:02 from a\r\n\r\n" +
				     header(older) + "00:01 old\r\n\r\n";
	EXPECT_EQ(buildQuotesFileText({&older, &a, &silent, &b}, t), expected);
	EXPECT_EQ(buildQuotesFileText({&silent}, t), "");
	EXPECT_EQ(buildQuotesFileText({}, t), "");
}

} // namespace
