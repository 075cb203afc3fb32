#include "lists/ChapterCheck.h"

#include <gtest/gtest.h>

namespace {

struct Finding {
	ChapterIssueCode problem;
	int64_t index;
	int64_t sec;
	bool operator==(const Finding &o) const { return problem == o.problem && index == o.index && sec == o.sec; }
};

std::ostream &operator<<(std::ostream &os, const Finding &f)
{
	return os << "{" << int(f.problem) << "," << f.index << "," << f.sec << "}";
}

std::vector<Finding> findings(const Session &s)
{
	std::vector<Finding> out;
	for (const ChapterIssue &i : checkChapters(s))
		out.push_back({i.problem, i.index, i.sec});
	return out;
}

// Chapter entries at the given archive times (ms); ended with the archive ending at endMs when
// endMs is not negative.
Session chapters(std::initializer_list<int64_t> ms, int64_t endMs = -1, const char *title = "t")
{
	Session s;
	s.shift_ms = 2000;
	for (int64_t a : ms) {
		Entry e;
		e.kind = EntryKind::Scene;
		e.t_ms = a + s.shift_ms;
		e.label = title;
		s.addEntry(e);
	}
	if (endMs >= 0) {
		s.end_wall_ms = 1;
		s.length_ms = endMs + s.shift_ms;
	}
	return s;
}

using F = std::vector<Finding>;
using Ids = std::vector<int64_t>;
const auto TooFew = ChapterIssueCode::TooFew;
const auto FirstNotZero = ChapterIssueCode::FirstNotZero;
const auto TooShort = ChapterIssueCode::TooShort;
const auto EmptyLabel = ChapterIssueCode::EmptyLabel;

TEST(ChapterCheck, NoChaptersIsTooFewOnly)
{
	EXPECT_EQ(findings(chapters({})), (F{{TooFew, 0, 0}}));
	EXPECT_TRUE(shortChaptersToDrop(chapters({}, 100000)).empty());
}

TEST(ChapterCheck, ValidListHasNoFindings)
{
	EXPECT_TRUE(checkChapters(chapters({0, 10000, 20000}, 30000)).empty());
	// While running, the last chapter is not measured.
	EXPECT_TRUE(checkChapters(chapters({0, 10000, 20000})).empty());
}

TEST(ChapterCheck, FindingsComeInTheirOrder)
{
	Session s = chapters({2000, 5000, 30000}, 60000);
	s.entries[0].label = " \t";
	EXPECT_EQ(findings(s), (F{{FirstNotZero, 0, 2}, {EmptyLabel, 0, 0}, {TooShort, 0, 3}}));
	Session two = chapters({0, 4000}, 9000, "");
	EXPECT_EQ(findings(two),
		  (F{{TooFew, 0, 2}, {EmptyLabel, 0, 0}, {TooShort, 0, 4}, {EmptyLabel, 1, 0}, {TooShort, 1, 5}}));
}

TEST(ChapterCheck, ShortChapterOfAnEndedSession)
{
	Session s = chapters({0, 5000, 30000}, 60000);
	EXPECT_EQ(findings(s), (F{{TooShort, 0, 5}}));
	EXPECT_EQ(shortChaptersToDrop(s), (Ids{2}));
	s.findEntry(2)->chapter = false;
	EXPECT_EQ(findings(s), (F{{TooFew, 0, 2}}));
}

TEST(ChapterCheck, LaterChapterWinsOverTheOneBeforeIt)
{
	EXPECT_EQ(shortChaptersToDrop(chapters({0, 15000, 20000, 40000})), (Ids{2}));
	EXPECT_EQ(shortChaptersToDrop(chapters({0, 4000})), (Ids{2}));
	EXPECT_EQ(shortChaptersToDrop(chapters({0, 12000, 15000, 18000, 40000})), (Ids{2, 3}));
}

TEST(ChapterCheck, LastChapterIsMeasuredOnceTheSessionEnded)
{
	Session running = chapters({0, 20000, 40000});
	EXPECT_TRUE(checkChapters(running).empty());
	EXPECT_TRUE(shortChaptersToDrop(running).empty());
	Session ended = chapters({0, 20000, 40000}, 45000);
	EXPECT_EQ(findings(ended), (F{{TooShort, 2, 5}}));
	EXPECT_EQ(shortChaptersToDrop(ended), (Ids{3}));
	// Trailing short chapters go, but one always stays.
	EXPECT_EQ(shortChaptersToDrop(chapters({0, 20000, 25000}, 28000)), (Ids{2, 3}));
	EXPECT_EQ(shortChaptersToDrop(chapters({0, 25000, 35000}, 34000)), (Ids{3, 2}));
	EXPECT_EQ(shortChaptersToDrop(chapters({0}, 3000)), Ids{});
	// A last chapter after the archive's end is not reported.
	EXPECT_EQ(findings(chapters({0, 20000, 40000}, 30000)), F{});
}

TEST(ChapterCheck, LengthsAreDifferencesOfWholeSeconds)
{
	EXPECT_TRUE(checkChapters(chapters({0, 500, 10400, 30000}, 60000)).size() == 1); // only 0 -> 0.5
	EXPECT_EQ(findings(chapters({0, 1000, 10900, 30000}, 60000)), (F{{TooShort, 0, 1}, {TooShort, 1, 9}}));
}

TEST(ChapterCheck, FullWidthSpaceIsATitle)
{
	EXPECT_TRUE(checkChapters(chapters({0, 10000, 20000}, 30000, "\xE3\x80\x80")).empty());
}

} // namespace
