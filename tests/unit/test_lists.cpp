#include "FrontendDouble.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "lists/Lists.h"
#include "util/AtomicFile.h"
#include "util/Utf8.h"
#include "ShippedTexts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QStandardPaths>

namespace {

Entry entry(EntryKind kind, int64_t t, const char *label, bool chapter)
{
	Entry e;
	e.kind = kind;
	e.t_ms = t;
	e.label = label;
	e.chapter = chapter;
	return e;
}

Entry &savedClip(Entry &e, const char *path, int64_t start, int64_t end)
{
	e.clip.state = ClipState::Saved;
	e.clip.path = path;
	e.clip.start_ms = start;
	e.clip.end_ms = end;
	return e;
}

// A stream with a start mark before the archive's 0:00, presses sharing one clip, a clip that failed
// and one still waiting, and an archive on the video platform.
Session streamSession()
{
	Session s;
	s.id = "2026-05-01_20-00-00";
	s.prefix = "2026-05-01 20-00";
	s.shift_ms = 10000;
	s.archive_url = "https://www.youtube.com/watch?v=abc123&feature=x";
	s.end_wall_ms = 1;
	s.length_ms = 4000000;
	s.addEntry(entry(EntryKind::Start, 0, "オープニング", true));
	s.addEntry(entry(EntryKind::Scene, 15000, "Game", true));
	Entry first = entry(EntryKind::Press, 75000, "ルマーク01", false);
	const int64_t ownerId = s.addEntry(savedClip(first, "C:\\clips\\Replay 2026.mkv", 55000, 75000)).id;
	Entry shared = entry(EntryKind::Press, 80000, "big, \"win\"", true);
	savedClip(shared, "", 60000, 80000).clip.shared_with = ownerId;
	s.addEntry(shared);
	s.addEntry(entry(EntryKind::Save, 90000, "", false));
	Entry song = entry(EntryKind::Song, 100000, "line1\r\nline2", true);
	song.clip.state = ClipState::Failed;
	s.addEntry(song);
	Entry waiting = entry(EntryKind::Press, 3700000, "", false);
	waiting.clip.state = ClipState::Waiting;
	s.addEntry(waiting);
	return s;
}

TEST(ListsGolden, TimestampsOfAStream)
{
	EXPECT_EQ(chapterText(streamSession(), "\r\n"),
		  "00:00 オープニング\r\n00:05 Game\r\n01:10 big, \"win\"\r\n01:30 line1\r\nline2");
	EXPECT_EQ(chapterText(streamSession(), "\n"),
		  "00:00 オープニング\n00:05 Game\n01:10 big, \"win\"\n01:30 line1\r\nline2");
}

TEST(ListsGolden, CsvOfAStream)
{
	const std::string expected =
	    "番号,種類,アーカイブの時間,切り抜きの始め,切り抜きの終わり,名前・メモ,ファイル,チャプター\r\n"
	    ",配信開始,カットした所,,,オープニング,,入れる\r\n"
	    ",シーン,00:05,,,Game,,入れる\r\n"
	    "1,ルマーク,01:05,00:45,01:05,ルマーク01,Replay 2026.mkv,入れない\r\n"
	    "2,ルマーク,01:10,00:45,01:05,\"big, \"\"win\"\"\",Replay 2026.mkv,入れる\r\n"
	    ",OBS で保存,01:20,,,,,入れない\r\n"
	    ",曲,01:30,,,\"line1\r\nline2\",,入れる\r\n"
	    "3,ルマーク,1:01:30,,,,,入れない\r\n";
	EXPECT_EQ(buildCsvText(streamSession(), shippedTexts("ja-JP")), expected);
}

TEST(ListsGolden, NotesOfAStream)
{
	const std::string expected = "ルマークの一覧（2026-05-01 20-00 の配信）\r\n"
				     "アーカイブ: https://www.youtube.com/watch?v=abc123&feature=x\r\n"
				     "アーカイブの 0:00 は、配信開始から 00:10 の所です。\r\n"
				     "\r\n"
				     "ルマーク01  01:05（切り抜き 00:45〜01:05）\r\n"
				     "  https://youtu.be/abc123?t=45\r\n"
				     "  ファイル: Replay 2026.mkv\r\n"
				     "\r\n"
				     "ルマーク02 big, \"win\"  01:10（切り抜き 00:45〜01:05）\r\n"
				     "  https://youtu.be/abc123?t=45\r\n"
				     "  ファイル: Replay 2026.mkv\r\n"
				     "\r\n"
				     "OBS で保存  01:20\r\n"
				     "  https://youtu.be/abc123?t=80\r\n"
				     "  ファイル: なし\r\n"
				     "\r\n"
				     "曲 line1\r\nline2  01:30\r\n"
				     "  https://youtu.be/abc123?t=90\r\n"
				     "  ファイル: なし\r\n"
				     "\r\n"
				     "ルマーク03  1:01:30\r\n"
				     "  https://youtu.be/abc123?t=3690\r\n"
				     "  ファイル: なし\r\n"
				     "\r\n";
	EXPECT_EQ(buildNotesText(streamSession(), shippedTexts("ja-JP")), expected);
}

TEST(ListsGolden, NegativeShiftAndAnArchiveElsewhere)
{
	Session s;
	s.prefix = "P";
	s.shift_ms = -5000;
	s.archive_url = "https://example.com/v?id=1#top";
	Entry press = entry(EntryKind::Press, 1000, "hi", true);
	s.addEntry(savedClip(press, "/home/u/a.mkv", 0, 1000));
	s.addEntry(entry(EntryKind::Scene, 2000, "Talk", true));
	ExportTexts t = shippedTexts("ja-JP");
	EXPECT_EQ(chapterText(s, "\r\n"), "00:06 hi\r\n00:07 Talk");
	EXPECT_EQ(buildNotesText(s, t), "ルマークの一覧（P の配信）\r\n"
					"アーカイブ: https://example.com/v?id=1#top\r\n"
					"\r\n"
					"ルマーク01 hi  00:06（切り抜き 00:05〜00:06）\r\n"
					"  https://example.com/v?id=1&t=5#top\r\n"
					"  ファイル: a.mkv\r\n"
					"\r\n");
	EXPECT_EQ(buildCsvText(s, t), t.csv_header + "\r\n1,ルマーク,00:06,00:05,00:06,hi,a.mkv,入れる\r\n"
						     ",シーン,00:07,,,Talk,,入れる\r\n");
}

TEST(ListsGolden, EmptySessionAndBlankArchive)
{
	Session s;
	s.prefix = "P";
	s.archive_url = "   ";
	ExportTexts t = shippedTexts("ja-JP");
	EXPECT_EQ(chapterText(s, "\r\n"), "");
	EXPECT_EQ(buildCsvText(s, t), t.csv_header + "\r\n");
	EXPECT_EQ(buildNotesText(s, t), "ルマークの一覧（P の配信）\r\n\r\nルマークはありません。\r\n");
	// A scene without clip is not a notes block; a blank archive gives no link line.
	s.addEntry(entry(EntryKind::Scene, 0, "x", true));
	EXPECT_EQ(buildNotesText(s, t), "ルマークの一覧（P の配信）\r\n\r\nルマークはありません。\r\n");
	s.addEntry(entry(EntryKind::Press, 0, "", true));
	EXPECT_EQ(buildNotesText(s, t),
		  "ルマークの一覧（P の配信）\r\n\r\nルマーク01  00:00\r\n  ファイル: なし\r\n\r\n");
}

TEST(ListsGolden, SharedClipWhoseOwnerWasRemovedShowsNoFile)
{
	Session s = streamSession();
	ASSERT_TRUE(s.removeEntry(3));
	const std::string csv = buildCsvText(s, shippedTexts("ja-JP"));
	EXPECT_NE(csv.find("2,ルマーク,01:10,,,\"big, \"\"win\"\"\",,入れる\r\n"), std::string::npos) << csv;
	EXPECT_EQ(csv.find("Replay 2026.mkv"), std::string::npos);

	// Ids far apart (an edited file) still find their owner.
	Session sparse;
	sparse.next_id = 9000000;
	Entry owner = entry(EntryKind::Press, 0, "", false);
	const int64_t ownerId = sparse.addEntry(savedClip(owner, "/c/far.mkv", 0, 1000)).id;
	Entry sharer = entry(EntryKind::Press, 500, "", false);
	sharer.clip.state = ClipState::Saved;
	sharer.clip.shared_with = ownerId;
	sparse.addEntry(sharer);
	EXPECT_EQ(buildCsvText(sparse, shippedTexts("ja-JP")),
		  shippedTexts("ja-JP").csv_header + "\r\n1,ルマーク,00:00,00:00,00:01,,far.mkv,入れない\r\n"
						     "2,ルマーク,00:00,00:00,00:01,,far.mkv,入れない\r\n");
}

std::vector<std::pair<int64_t, int64_t>> rows(const Session &s)
{
	std::vector<std::pair<int64_t, int64_t>> out;
	for (const Chapter &c : chapterList(s))
		out.emplace_back(c.id, c.offset_ms);
	return out;
}

Session chaptersAt(std::initializer_list<int64_t> archiveMs)
{
	Session s;
	s.shift_ms = 100000;
	for (int64_t a : archiveMs)
		s.addEntry(entry(EntryKind::Scene, a + s.shift_ms, "c", true));
	return s;
}

using Rows = std::vector<std::pair<int64_t, int64_t>>;

TEST(ChapterList, OnlyTheLastChapterBeforeTheArchiveStartSurvives)
{
	EXPECT_EQ(rows(chaptersAt({-30000, -10000, 65000})), (Rows{{2, 0}, {3, 65000}}));
	EXPECT_EQ(rows(chaptersAt({-10000, 400})), (Rows{{2, 400}}));
	EXPECT_EQ(rows(chaptersAt({-10000, 1000})), (Rows{{1, 0}, {2, 1000}}));
	EXPECT_EQ(rows(chaptersAt({-30000, -10000})), (Rows{{2, 0}}));
	EXPECT_EQ(rows(chaptersAt({})), Rows{});
	// Entries without the chapter flag play no part, not even as pending ones.
	Session s = chaptersAt({5000});
	s.addEntry(entry(EntryKind::Scene, 0, "early", false)); // archive -100 s
	EXPECT_EQ(rows(s), (Rows{{1, 5000}}));
}

class ListFilesTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	void SetUp() override
	{
		FrontendDouble::reset();
		settings().export_dir.clear();
	}
	void TearDown() override
	{
		settings().export_dir.clear();
		FrontendDouble::reset();
	}
};

TEST_F(ListFilesTest, ExportFolderTakesTheFirstThatIsSet)
{
	Session s;
	EXPECT_EQ(exportFolder(s), QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
	FrontendDouble::state().recordOutputPath = "/rec/path";
	EXPECT_EQ(exportFolder(s), QStringLiteral("/rec/path"));
	settings().export_dir = QStringLiteral("/setting/dir");
	EXPECT_EQ(exportFolder(s), QStringLiteral("/setting/dir"));
	s.export_dir = "/session/dir";
	EXPECT_EQ(exportFolder(s), QStringLiteral("/session/dir"));
}

TEST_F(ListFilesTest, WriteFileAtomicallyReplacesWholeOrNothing)
{
	const std::string path = toUtf8(dir.path()) + "/a.txt";
	ASSERT_TRUE(writeFileAtomically(path, "first", KeepBackup::No));
	ASSERT_TRUE(writeFileAtomically(path, "second\r\n", KeepBackup::No));
	EXPECT_EQ(readFileBytes(fromUtf8(path)), QByteArray("second\r\n"));
	EXPECT_FALSE(QFile::exists(fromUtf8(path + ".tmp")));
	EXPECT_FALSE(QFile::exists(fromUtf8(path + ".bak")));
	ASSERT_TRUE(writeFileAtomically(path, std::string(), KeepBackup::No));
	EXPECT_TRUE(QFile::exists(fromUtf8(path)));
	EXPECT_EQ(readFileBytes(fromUtf8(path)).size(), 0);

	EXPECT_FALSE(writeFileAtomically(toUtf8(dir.path()) + "/missing/b.txt", "x", KeepBackup::No));
	// A folder in the way of the file: refused, the folder stays.
	QDir().mkpath(dir.path() + "/taken.txt");
	EXPECT_FALSE(writeFileAtomically(toUtf8(dir.path()) + "/taken.txt", "x", KeepBackup::No));
	EXPECT_TRUE(QFileInfo(dir.path() + "/taken.txt").isDir());
}

TEST(ListFileNames, PrefixAndLocaleWordWithoutPathCharacters)
{
	Session s;
	s.prefix = "2026-05-01 20-00 (2)";
	EXPECT_EQ(timestampsFileName(s), QStringLiteral("2026-05-01 20-00 (2) timestamps.txt"));
	EXPECT_EQ(csvFileName(s), QStringLiteral("2026-05-01 20-00 (2) list.csv"));
	EXPECT_EQ(notesFileName(s), QStringLiteral("2026-05-01 20-00 (2) clip notes.txt"));
	EXPECT_EQ(quotesFileName(), QStringLiteral("Lumark quotes.txt"));
	s.prefix = "../../evil";
	EXPECT_EQ(timestampsFileName(s), QString::fromUtf8("..／..／evil timestamps.txt"));
}

} // namespace
