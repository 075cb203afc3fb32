#include "TestSupport.h"
#include "util/ModuleCore.h"
#include "session/SessionStore.h"
#include "session/SessionWriter.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>

namespace {

class SessionStoreTest : public ::testing::Test {
protected:
	TempConfigDir dir;
	QString folder() const { return dir.path() + "/sessions"; }
	QString file(const QString &name) const { return folder() + "/" + name; }
	void writeSessionFile(const QString &name, const QByteArray &json)
	{
		QDir().mkpath(folder());
		ASSERT_TRUE(writeFileBytes(file(name), json));
	}

	static Session sample()
	{
		Session s;
		s.id = "2026-05-01_20-00-00";
		s.prefix = "2026-05-01 20-00";
		s.source = SessionSource::Recording;
		s.start_wall_ms = 1777000000000LL;
		s.end_wall_ms = 1777000999000LL;
		s.length_ms = 999000;
		s.shift_ms = -4000;
		s.archive_url = "https://example.com/v?x=1";
		s.export_dir = "/videos/out";
		Entry start;
		start.kind = EntryKind::Start;
		start.label = "Start \"quoted\"\\ and\nnewline\t\x01 ルマーク";
		s.addEntry(start);
		Entry press;
		press.t_ms = 5000000000LL; // beyond 32 bits
		press.wall_ms = 1777000005000LL;
		press.chapter = false;
		press.clip.state = ClipState::Saved;
		press.clip.path = "C:\\clips\\a.mkv";
		press.clip.start_ms = -20;
		press.clip.end_ms = 5000000000LL;
		press.clip.saved_wall_ms = 1777000006000LL;
		press.clip.want_replay = true;
		const int64_t ownerId = s.addEntry(press).id;
		Entry shared;
		shared.t_ms = 5000000001LL;
		shared.clip.state = ClipState::Saved;
		shared.clip.shared_with = ownerId;
		s.addEntry(shared);
		return s;
	}
};

void expectSameEntries(const Session &a, const Session &b)
{
	ASSERT_EQ(a.entries.size(), b.entries.size());
	for (size_t i = 0; i < a.entries.size(); ++i) {
		const Entry &x = a.entries[i], &y = b.entries[i];
		EXPECT_EQ(x.id, y.id);
		EXPECT_EQ(x.kind, y.kind);
		EXPECT_EQ(x.t_ms, y.t_ms);
		EXPECT_EQ(x.wall_ms, y.wall_ms);
		EXPECT_EQ(x.label, y.label);
		EXPECT_EQ(x.chapter, y.chapter);
		EXPECT_EQ(x.number, y.number);
		EXPECT_EQ(x.clip.state, y.clip.state);
		EXPECT_EQ(x.clip.path, y.clip.path);
		EXPECT_EQ(x.clip.start_ms, y.clip.start_ms);
		EXPECT_EQ(x.clip.end_ms, y.clip.end_ms);
		EXPECT_EQ(x.clip.saved_wall_ms, y.clip.saved_wall_ms);
		EXPECT_EQ(x.clip.shared_with, y.clip.shared_with);
		EXPECT_EQ(x.clip.want_replay, y.clip.want_replay);
	}
}

void expectSameSession(const Session &a, const Session &b)
{
	EXPECT_EQ(a.id, b.id);
	EXPECT_EQ(a.prefix, b.prefix);
	EXPECT_EQ(a.source, b.source);
	EXPECT_EQ(a.start_wall_ms, b.start_wall_ms);
	EXPECT_EQ(a.end_wall_ms, b.end_wall_ms);
	EXPECT_EQ(a.length_ms, b.length_ms);
	EXPECT_EQ(a.shift_ms, b.shift_ms);
	EXPECT_EQ(a.archive_url, b.archive_url);
	EXPECT_EQ(a.export_dir, b.export_dir);
	EXPECT_EQ(a.next_id, b.next_id);
	EXPECT_EQ(a.next_number, b.next_number);
	expectSameEntries(a, b);
}

TEST_F(SessionStoreTest, SaveAndLoadRoundTripEveryField)
{
	const Session s = sample();
	ASSERT_TRUE(saveSession(s));
	Session back;
	back.entries.resize(7); // dropped by the load
	ASSERT_TRUE(loadSession(s.id, back));
	expectSameSession(back, s);

	// The in-memory object (GetSession) reads back the same way.
	OBSDataAutoRelease data = sessionToData(s);
	expectSameEntries(sessionFromData(data), s);
}

// Every field set, each to its own value that is not the default: the file text is pinned, reads
// back whole, and the remote reply holds the same members with the same values.
TEST(SessionFields, FileReadAndReplyCarryEveryField)
{
	Session s;
	s.id = "2026-06-02_21-30-00";
	s.prefix = "Night run";
	s.source = SessionSource::Free;
	s.start_wall_ms = 1780000000000LL;
	s.end_wall_ms = 1780000900000LL;
	s.length_ms = 900000;
	s.shift_ms = 12000;
	s.archive_url = "https://youtu.be/abc";
	s.export_dir = "/videos/night";
	s.next_id = 3;
	s.next_number = 8;
	Entry scene;
	scene.id = 1;
	scene.kind = EntryKind::Scene;
	scene.t_ms = 1000;
	scene.wall_ms = 1780000001000LL;
	scene.label = "Scene";
	Entry song;
	song.id = 2;
	song.kind = EntryKind::Song;
	song.t_ms = 61000;
	song.wall_ms = 1780000061000LL;
	song.label = "Song \"A\"";
	song.chapter = false;
	song.number = 7;
	song.clip = {ClipState::Failed, "/clips/a.mkv", 50000, 70000, 1780000072000LL, 1, true};
	s.entries = {scene, song};

	const std::string json = sessionToJson(s);
	EXPECT_EQ(json, R"({
    "format": 1,
    "id": "2026-06-02_21-30-00",
    "prefix": "Night run",
    "source": 2,
    "start_wall_ms": 1780000000000,
    "end_wall_ms": 1780000900000,
    "length_ms": 900000,
    "shift_ms": 12000,
    "archive_url": "https://youtu.be/abc",
    "export_dir": "/videos/night",
    "next_id": 3,
    "next_number": 8,
    "entries": [
        {
            "id": 1,
            "kind": 1,
            "t_ms": 1000,
            "wall_ms": 1780000001000,
            "label": "Scene",
            "chapter": true,
            "number": 0
        },
        {
            "id": 2,
            "kind": 5,
            "t_ms": 61000,
            "wall_ms": 1780000061000,
            "label": "Song \"A\"",
            "chapter": false,
            "number": 7,
            "clip": {
                "state": 3,
                "path": "/clips/a.mkv",
                "start_ms": 50000,
                "end_ms": 70000,
                "saved_wall_ms": 1780000072000,
                "shared_with": 1,
                "want_replay": true
            }
        }
    ]
}
)");
	OBSDataAutoRelease file = obs_data_create_from_json(json.c_str());
	ASSERT_TRUE(file);
	expectSameSession(sessionFromData(file), s);

	OBSDataAutoRelease reply = obs_data_create();
	writeSessionData(reply, s);
	EXPECT_STREQ(obs_data_get_json(reply), obs_data_get_json(file));
}

TEST_F(SessionStoreTest, FileKeepsMemberOrderAndWritesClipOnlyWhenNotNone)
{
	Session s = sample();
	ASSERT_TRUE(saveSession(s));
	const QByteArray json = readFileBytes(file(QString::fromStdString(s.id) + ".json"));
	const char *top[] = {"\"format\"",        "\"id\"",          "\"prefix\"",    "\"source\"",
			     "\"start_wall_ms\"", "\"end_wall_ms\"", "\"length_ms\"", "\"shift_ms\"",
			     "\"archive_url\"",   "\"export_dir\"",  "\"next_id\"",   "\"next_number\"",
			     "\"entries\""};
	int last = -1;
	for (const char *key : top) {
		const int at = json.indexOf(key);
		EXPECT_GT(at, last) << key;
		last = at;
	}
	const int firstEntry = json.indexOf("\"entries\"");
	const char *entryKeys[] = {"\"t_ms\"",       "\"wall_ms\"", "\"label\"",         "\"chapter\"",
				   "\"number\"",     "\"clip\"",    "\"state\"",         "\"path\"",
				   "\"start_ms\"",   "\"end_ms\"",  "\"saved_wall_ms\"", "\"shared_with\"",
				   "\"want_replay\""};
	const int secondEntry = json.indexOf("\"kind\"", json.indexOf("\"kind\"") + 1);
	last = secondEntry;
	for (const char *key : entryKeys) {
		const int at = json.indexOf(key, secondEntry);
		EXPECT_GT(at, last) << key;
		last = at;
	}
	// The start entry (first) has no clip object: exactly two clips for three entries.
	EXPECT_GT(firstEntry, 0);
	EXPECT_EQ(json.count("\"clip\""), 2);
	EXPECT_TRUE(json.contains("\"format\": 1"));
	EXPECT_TRUE(json.contains("5000000000"));
}

TEST_F(SessionStoreTest, InvalidUtf8AndNulInTextsStillGiveAReadableFile)
{
	Session s;
	s.id = "bytes";
	Entry e;
	e.label = std::string("a\xFF"
			      "b\0c\xE3\x81",
			      7) +
		  "\xED\xA0\x80" + "ok";
	s.addEntry(e);
	ASSERT_TRUE(saveSession(s));
	Session back;
	ASSERT_TRUE(loadSession("bytes", back));
	ASSERT_EQ(back.entries.size(), 1u);
	EXPECT_EQ(back.entries[0].label, "a\xEF\xBF\xBD"
					 "bc\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDok");
}

TEST_F(SessionStoreTest, LoadRepairsCountersAndSortsStably)
{
	writeSessionFile("a.json", R"({"next_id":0,"entries":[
		{"id":9,"kind":2,"t_ms":300,"number":7,"label":"x"},
		{"id":4,"kind":1,"t_ms":100,"chapter":true},
		{"id":5,"kind":1,"t_ms":300},
		{"id":6,"kind":1,"t_ms":100}]})");
	Session s;
	ASSERT_TRUE(loadSession("a", s));
	EXPECT_EQ(s.id, "a"); // no stored id
	EXPECT_EQ(s.next_id, 10);
	EXPECT_EQ(s.next_number, 1); // not raised from the numbers
	std::vector<int64_t> order;
	for (const Entry &e : s.entries)
		order.push_back(e.id);
	EXPECT_EQ(order, (std::vector<int64_t>{4, 6, 9, 5}));
	EXPECT_TRUE(s.entries[0].chapter);
	EXPECT_FALSE(s.entries[1].chapter); // missing key reads as off
	EXPECT_EQ(s.entries[2].clip.state, ClipState::None);
}

TEST_F(SessionStoreTest, OutOfRangeCodesStayAsStoredAndNarrowWithSign)
{
	writeSessionFile("b.json", R"({"id":"b","source":-1,"next_number":5,"entries":[
		{"id":1,"kind":42,"number":-3,"clip":{"state":9}}]})");
	Session s;
	ASSERT_TRUE(loadSession("b", s));
	EXPECT_EQ(static_cast<int>(s.source), -1);
	EXPECT_EQ(s.next_number, 5);
	EXPECT_EQ(static_cast<int>(s.entries[0].kind), 42);
	EXPECT_EQ(s.entries[0].number, -3);
	EXPECT_EQ(static_cast<int>(s.entries[0].clip.state), 9);
}

TEST_F(SessionStoreTest, BackupIsUsedWhenTheFileIsBrokenAndNothingWhenBothAre)
{
	Session s = sample();
	ASSERT_TRUE(saveSession(s));
	s.prefix = "second";
	ASSERT_TRUE(saveSession(s));
	s.prefix = "third";
	ASSERT_TRUE(saveSession(s)); // the backup must now hold the second text, not keep the first
	const QString json = file(QString::fromStdString(s.id) + ".json");
	EXPECT_FALSE(QFile::exists(json + ".tmp"));
	writeFileBytes(json, "{ broken");
	writeFileBytes(json + ".tmp", "{ broken too");
	Session back;
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(back.prefix, "second");

	writeSessionFile("c.json", "not json");
	Session untouched;
	untouched.prefix = "keep";
	EXPECT_FALSE(loadSession("c", untouched));
	EXPECT_FALSE(loadSession("missing", untouched));
	EXPECT_EQ(untouched.prefix, "keep");
}

// A write cut off at any point leaves a session that is listed, read and put right again.
TEST_F(SessionStoreTest, InterruptedWritesLoseNoSession)
{
	Session s = sample();
	ASSERT_TRUE(saveSession(s));
	s.prefix = "newer";
	ASSERT_TRUE(saveSession(s));
	const QString json = file(QString::fromStdString(s.id) + ".json");
	EXPECT_FALSE(QFile::exists(json + ".tmp"));
	Session old;
	ASSERT_TRUE(writeFileBytes(file("old.json"), readFileBytes(json + ".bak")));
	ASSERT_TRUE(loadSession("old", old));
	EXPECT_EQ(old.prefix, "2026-05-01 20-00 (old)") << "the backup holds the replaced text";

	// Cut off between its two renames (libobs's own safe write): only ".tmp" and ".bak" are left.
	ASSERT_TRUE(QFile::rename(json, json + ".tmp"));
	EXPECT_EQ(listSessionIds(), (std::vector<std::string>{"old", s.id}));
	Session back;
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(back.prefix, "newer") << "the complete new text wins over the backup";
	EXPECT_TRUE(QFile::exists(json)) << "and the file is written again";

	// Only the ".bak" left (a sync tool carried just that one): listed, read and written back too.
	ASSERT_TRUE(QFile::remove(json));
	EXPECT_EQ(listSessionIds(), (std::vector<std::string>{"old", s.id}));
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(back.prefix, "2026-05-01 20-00");
	EXPECT_TRUE(QFile::exists(json));
	back.prefix = "newer";
	ASSERT_TRUE(saveSession(back));

	// A partly written ".tmp" beside the file changes nothing.
	ASSERT_TRUE(writeFileBytes(json + ".tmp", "{\"id\": \"x\", \"pre"));
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(back.prefix, "newer");

	// A broken file is kept aside, not written over the backup.
	ASSERT_TRUE(writeFileBytes(json, "{ broken"));
	QFile::remove(json + ".tmp");
	ASSERT_TRUE(loadSession(s.id, back));
	EXPECT_EQ(readFileBytes(json + ".broken"), QByteArray("{ broken"));
	EXPECT_TRUE(loadSession(s.id, back));
	EXPECT_FALSE(QFile::exists(json + ".tmp"));

	// A folder in the place of a companion is not read as one: the backup is.
	ASSERT_TRUE(QFile::remove(json));
	ASSERT_TRUE(QDir().mkpath(json + ".tmp"));
	EXPECT_TRUE(loadSession(s.id, back));
	ASSERT_TRUE(QDir().rmdir(json + ".tmp"));
	EXPECT_TRUE(removeSessionFiles(s));
}

TEST_F(SessionStoreTest, StoredPathLikeIdIsReplacedByTheRequestedOne)
{
	writeSessionFile("d.json", R"({"id":"../config","prefix":"p"})");
	Session s;
	ASSERT_TRUE(loadSession("d", s));
	EXPECT_EQ(s.id, "d");
	ASSERT_TRUE(saveSession(s));
	EXPECT_FALSE(QFile::exists(dir.path() + "/config.json"));
}

TEST_F(SessionStoreTest, ListsPlainJsonFilesNewestFirst)
{
	writeSessionFile("2026-01-02_09-00-00.json", "{}");
	writeSessionFile("2026-01-10_08-00-00.json", "{}");
	writeSessionFile("2026-01-10_08-00-00_2.json", "{}");
	writeSessionFile("2026-01-10_08-00-00.json.bak", "{}");
	writeSessionFile("2026-01-10_08-00-00.json.tmp", "{}");
	writeSessionFile("notes.txt", "x");
	writeSessionFile("UPPER.JSON", "{}");
	QDir().mkpath(file("folder.json"));
	const std::vector<std::string> expected{"2026-01-10_08-00-00_2", "2026-01-10_08-00-00", "2026-01-02_09-00-00"};
	EXPECT_EQ(listSessionIds(), expected);
}

TEST_F(SessionStoreTest, NoFolderMeansNothingIsSavedOrListed)
{
	setModuleConfigDirForTesting(std::string());
	Session s = sample();
	EXPECT_EQ(sessionsFolder(), "");
	EXPECT_FALSE(saveSession(s));
	EXPECT_TRUE(listSessionIds().empty());
	setModuleConfigDirForTesting(dir.path().toStdString());
	s.id.clear();
	EXPECT_FALSE(saveSession(s));
	EXPECT_FALSE(QDir(folder()).exists());
}

TEST_F(SessionStoreTest, RemoveDeletesCompanionsAndReportsTheJsonFile)
{
	Session s = sample();
	ASSERT_TRUE(saveSession(s));
	ASSERT_TRUE(saveSession(s));
	const QString json = file(QString::fromStdString(s.id) + ".json");
	writeFileBytes(json + ".tmp", "x");
	EXPECT_TRUE(removeSessionFiles(s));
	EXPECT_FALSE(QFile::exists(json));
	EXPECT_FALSE(QFile::exists(json + ".bak"));
	EXPECT_FALSE(QFile::exists(json + ".tmp"));
	EXPECT_FALSE(removeSessionFiles(s));
}

using SessionWriterTest = SessionStoreTest;

// Writes land in the order given, the newest text last; a dropped one never lands after the drop;
// a failure comes back with its reason.
TEST_F(SessionWriterTest, InOrderNewestLastDroppedNeverLands)
{
	std::atomic<int> readyCalls{0};
	SessionWriter writer([&readyCalls] { ++readyCalls; });
	const std::string a = file("a.json").toStdString();
	uint64_t last = 0;
	for (int i = 0; i < 50; ++i)
		last = writer.submit("a", a, "{\"n\": " + std::to_string(i) + "}");
	writer.wait();
	EXPECT_EQ(readFileBytes(QString::fromStdString(a)), QByteArray("{\"n\": 49}"));
	const std::vector<SessionWriteOutcome> done = writer.takeOutcomes();
	ASSERT_FALSE(done.empty());
	EXPECT_TRUE(done.back().saved && done.back().ticket == last);
	EXPECT_TRUE(std::is_sorted(done.begin(), done.end(), [](const auto &x, const auto &y) {
		return x.ticket <= y.ticket;
	})) << "no write overtakes an earlier one";
	EXPECT_GE(readyCalls.load(), 1);

	const QString b = file("b.json");
	writer.submit("b", b.toStdString(), "{}");
	const bool dropped = writer.drop("b");
	EXPECT_NE(dropped, QFile::exists(b)) << "either dropped or done before the drop returned";
	writer.submit("c", a + "/under-a-file.json", "{}");
	writer.wait();
	const std::vector<SessionWriteOutcome> failed = writer.takeOutcomes();
	ASSERT_FALSE(failed.empty());
	EXPECT_TRUE(!failed.back().saved && failed.back().error != 0);
}

TEST(SessionIdSafety, PlainIdsOnly)
{
	for (const char *ok : {"2026-05-01_20-00-00", "2026-05-01_20-00-00_2", "a", ".hidden", "名前", "a..b"})
		EXPECT_TRUE(isPlainSessionId(ok)) << ok;
	for (const char *bad : {"", ".", "..", "../config", "a/b", "a\\b", "/abs", "C:x", "C:\\x", "a\tb", "a\x7f",
				"con", "NUL.txt", "com1", "LPT9"})
		EXPECT_FALSE(isPlainSessionId(bad)) << bad;
	EXPECT_FALSE(isPlainSessionId(std::string("a\0b", 3)));
}

TEST_F(SessionStoreTest, PathLikeIdsTouchNoFileOutsideTheFolder)
{
	// The plug-in's own settings file sits one level above the sessions folder.
	const QString config = dir.path() + "/config.json";
	ASSERT_TRUE(writeFileBytes(config, R"({"id":"x","prefix":"settings"})"));
	writeSessionFile("real.json", "{}");

	for (const std::string &id :
	     std::vector<std::string>{"../config", "..\\config", "..", ".", "", "sub/../../config", "C:config",
				      std::string("real\0", 5), "real\n"}) {
		Session s;
		s.id = id;
		Session out;
		out.prefix = "untouched";
		EXPECT_FALSE(loadSession(id, out)) << id;
		EXPECT_EQ(out.prefix, "untouched");
		EXPECT_FALSE(saveSession(s)) << id;
		EXPECT_FALSE(removeSessionFiles(s)) << id;
		EXPECT_EQ(sessionFilePath(id), "") << id;
	}
	EXPECT_EQ(readFileBytes(config), QByteArray(R"({"id":"x","prefix":"settings"})"));
	EXPECT_TRUE(QFile::exists(file("real.json")));
	EXPECT_FALSE(QFile::exists(dir.path() + "/config.json.bak"));
}

} // namespace
