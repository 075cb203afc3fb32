#include "FrontendDouble.h"
#include "TestSupport.h"
#include "test_engine_fixture.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "lists/Lists.h"
#include "session/SessionStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

Entry labelled(int64_t t, int32_t number, const char *label)
{
	Entry e;
	e.t_ms = t;
	e.number = number;
	e.label = label;
	return e;
}

Session endedSession(const char *id, int64_t startWallMs)
{
	Session s;
	s.id = id;
	s.prefix = std::string("P ") + id;
	s.start_wall_ms = startWallMs;
	s.end_wall_ms = startWallMs + 100000;
	s.length_ms = 100000;
	return s;
}

class WriteListsTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	QString out;
	void SetUp() override
	{
		FrontendDouble::reset();
		out = dir.path() + "/videos/lists";
		settings().export_dir = out;
	}
	void TearDown() override
	{
		settings().export_dir.clear();
		FrontendDouble::reset();
	}
	Session *stored(Engine &engine, const Session &s)
	{
		EXPECT_TRUE(saveSession(s));
		return engine.findSession(QString::fromStdString(s.id));
	}
};

TEST_F(WriteListsTest, WritesThreeFilesInOrderAndRemembersTheFolder)
{
	Engine engine;
	Session s = endedSession("2026-05-01_20-00-00", 1777000000000LL);
	s.addEntry(labelled(5000, 1, "first quote"));
	Session *session = stored(engine, s);
	ASSERT_NE(session, nullptr);

	engine.viewSession(QString::fromStdString(s.id));
	const QStringList paths = engine.exports().exportLists();
	ASSERT_EQ(paths.size(), 3);
	EXPECT_EQ(paths[0], out + "/P 2026-05-01_20-00-00 timestamps.txt");
	EXPECT_EQ(paths[1], out + "/P 2026-05-01_20-00-00 list.csv");
	EXPECT_EQ(paths[2], out + "/P 2026-05-01_20-00-00 clip notes.txt");
	const ExportTexts &texts = engine.exports().texts();
	EXPECT_EQ(readFileBytes(paths[0]), QByteArray::fromStdString(chapterText(*session, "\r\n") + "\r\n"));
	EXPECT_EQ(readFileBytes(paths[1]), QByteArray::fromStdString("\xEF\xBB\xBF" + buildCsvText(*session, texts)));
	EXPECT_EQ(readFileBytes(paths[2]), QByteArray::fromStdString(buildNotesText(*session, texts)));
	EXPECT_FALSE(readFileBytes(paths[2]).startsWith("\xEF\xBB\xBF"));

	// The folder is remembered and reaches the file with the next save.
	EXPECT_EQ(session->export_dir, out.toStdString());
	EngineTest::flushSaves(engine);
	EngineTest::waitForWrites(engine);
	Session back;
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(back.export_dir, out.toStdString());

	// The quotes file came along.
	EXPECT_TRUE(readFileBytes(out + "/Lumark quotes.txt").contains("00:05 first quote\r\n"));

	// Later exports stay in the session's folder when the setting changes.
	settings().export_dir = dir.path() + "/elsewhere";
	const QStringList again = engine.exports().exportLists();
	ASSERT_EQ(again.size(), 3);
	EXPECT_TRUE(again[0].startsWith(out + "/"));
}

TEST_F(WriteListsTest, EmptySessionStillGetsAllThreeFiles)
{
	Engine engine;
	Session *session = stored(engine, endedSession("2026-05-02_20-00-00", 1777100000000LL));
	ASSERT_NE(session, nullptr);
	const QStringList paths = writeLists(*session, engine.exports().texts());
	ASSERT_EQ(paths.size(), 3);
	EXPECT_EQ(readFileBytes(paths[0]), QByteArray("\r\n"));
	EXPECT_EQ(readFileBytes(paths[1]),
		  QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(engine.exports().texts().csv_header) + "\r\n");
}

TEST_F(WriteListsTest, AFileThatCannotBeWrittenLeavesTheFolderUnrecorded)
{
	Engine engine;
	Session *session = stored(engine, endedSession("2026-05-03_20-00-00", 1777200000000LL));
	ASSERT_NE(session, nullptr);
	ASSERT_TRUE(QDir().mkpath(out + "/P 2026-05-03_20-00-00 list.csv")); // a folder in the way
	const QStringList paths = writeLists(*session, engine.exports().texts());
	ASSERT_EQ(paths.size(), 2);
	EXPECT_TRUE(paths[0].endsWith("timestamps.txt"));
	EXPECT_TRUE(paths[1].endsWith("clip notes.txt"));
	EXPECT_EQ(session->export_dir, "");
}

TEST_F(WriteListsTest, FolderThatCannotBeMadeWritesNothing)
{
	Engine engine;
	Session *session = stored(engine, endedSession("2026-05-04_20-00-00", 1777300000000LL));
	ASSERT_NE(session, nullptr);
	ASSERT_TRUE(writeFileBytes(dir.path() + "/plainfile", "x"));
	settings().export_dir = dir.path() + "/plainfile/sub";
	EXPECT_TRUE(writeLists(*session, engine.exports().texts()).isEmpty());
	EXPECT_EQ(session->export_dir, "");
	EXPECT_EQ(engine.exports().exportQuotes(), QString());
}

TEST_F(WriteListsTest, QuotesGatherStoredAndLoadedSessions)
{
	Session older = endedSession("2026-01-01_10-00-00", 1767261600000LL);
	older.addEntry(labelled(1000, 1, "old"));
	Session a = endedSession("2026-02-01_10-00-00", 1769940000000LL);
	a.addEntry(labelled(2000, 1, "from a"));
	Session b = endedSession("2026-02-01_10-00-00_2", 1769940000000LL);
	b.addEntry(labelled(3000, 1, "from b"));
	Session silent = endedSession("2026-03-01_10-00-00", 1772359200000LL);
	silent.addEntry(labelled(0, 1, "Lumark01"));
	for (const Session *s : {&older, &a, &b, &silent})
		ASSERT_TRUE(saveSession(*s));

	Engine engine;
	const QString path = engine.exports().exportQuotes();
	ASSERT_EQ(path, out + "/Lumark quotes.txt");
	EXPECT_EQ(readFileBytes(path),
		  QByteArray::fromStdString(buildQuotesFileText({&older, &a, &b, &silent}, engine.exports().texts())));
	EXPECT_TRUE(readFileBytes(path).indexOf("from b") < readFileBytes(path).indexOf("from a"));
	EXPECT_GE(EngineTest::loadedSessionIds(engine).size(), 4);
}

TEST_F(WriteListsTest, NoQuotesAnywhereGivesAnEmptyFile)
{
	Engine engine;
	QDir().mkpath(out);
	ASSERT_TRUE(writeFileBytes(out + "/Lumark quotes.txt", "stale"));
	const QString path = engine.exports().exportQuotes();
	ASSERT_FALSE(path.isEmpty());
	EXPECT_TRUE(QFile::exists(path));
	EXPECT_EQ(readFileBytes(path).size(), 0);
}

} // namespace
