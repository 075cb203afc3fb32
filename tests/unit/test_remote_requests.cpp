// The vendor requests, called the way obs-websocket calls them: from a thread of the stand-in while
// this (UI) thread runs its event loop.

#include "test_remote_common.h"
#include "test_engine_fixture.h"

#include "FrontendDouble.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "engine/Engine.h"
#include "session/SessionStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <set>
#include <thread>

namespace {

using namespace remote_test;

using RemoteRequests = RemoteEngineFixture;

TEST_F(RemoteRequests, PressModesAreExactAndCaseSensitive)
{
	FrontendDouble::state().replayBufferActive = true;
	settings().press_clip = true;
	settings().press_replay = false;

	OBSData mark = call("Press", R"({"mode":"mark","label":"  hi  "})");
	ASSERT_TRUE(ok(mark));
	const long long markId = obs_data_get_int(mark, "entry_id");
	ASSERT_NE(entry(markId), nullptr);
	EXPECT_EQ(entry(markId)->clip.state, ClipState::None);
	EXPECT_EQ(entry(markId)->label, "hi");
	EXPECT_EQ(engine->currentSession()->source, SessionSource::Free); // a press starts a free session

	// "Mark" is not "mark": a default press, which asks for a clip but (press_replay off) no replay.
	OBSData capital = call("Press", R"({"mode":"Mark"})");
	ASSERT_TRUE(ok(capital));
	const Entry *def = entry(obs_data_get_int(capital, "entry_id"));
	ASSERT_NE(def, nullptr);
	EXPECT_EQ(def->clip.state, ClipState::Waiting);
	EXPECT_FALSE(def->clip.want_replay);

	OBSData replay = call("Press", R"({"mode":"replay"})");
	const Entry *rep = entry(obs_data_get_int(replay, "entry_id"));
	ASSERT_NE(rep, nullptr);
	EXPECT_TRUE(rep->clip.want_replay);

	OBSData none = call("Press");
	EXPECT_TRUE(ok(none));
	EXPECT_GT(obs_data_get_int(none, "entry_id"), obs_data_get_int(replay, "entry_id"));
}

TEST_F(RemoteRequests, AddMarkKindsAndRefusals)
{
	// Refused without a running session, in a free session and for a blank label.
	OBSData noSession = call("AddMark", R"({"label":"x","kind":"song"})");
	EXPECT_FALSE(ok(noSession));
	EXPECT_EQ(obs_data_get_int(noSession, "entry_id"), 0);
	EXPECT_TRUE(obs_data_has_user_value(noSession, "entry_id"));
	EXPECT_EQ(error(noSession), "not streaming or recording, or no label");

	ASSERT_TRUE(ok(call("StartFreeSession")));
	OBSData free = call("AddMark", R"({"label":"x","kind":"song"})");
	EXPECT_FALSE(ok(free));
	EXPECT_EQ(error(free), "not streaming or recording, or no label");
	ASSERT_TRUE(ok(call("EndFreeSession")));

	startStream();
	OBSData blank = call("AddMark", R"({"label":" \t ","kind":"song"})");
	EXPECT_FALSE(ok(blank));
	EXPECT_EQ(error(blank), "not streaming or recording, or no label");

	OBSData song = call("AddMark", R"({"label":"Blue Bird","kind":"SONG"})");
	ASSERT_TRUE(ok(song));
	EXPECT_FALSE(obs_data_has_user_value(song, "error"));
	ASSERT_NE(entry(obs_data_get_int(song, "entry_id")), nullptr);
	EXPECT_EQ(entry(obs_data_get_int(song, "entry_id"))->kind, EntryKind::Song);

	OBSData topic = call("AddMark", R"({"label":"Q&A","kind":"Topic"})");
	EXPECT_EQ(entry(obs_data_get_int(topic, "entry_id"))->kind, EntryKind::Topic);

	OBSData other = call("AddMark", R"({"label":"raid","kind":"raid"})");
	EXPECT_EQ(entry(obs_data_get_int(other, "entry_id"))->kind, EntryKind::External);

	settings().marks_topic = false;
	OBSData off = call("AddMark", R"({"label":"later","kind":"topic"})");
	EXPECT_FALSE(ok(off));
	EXPECT_EQ(obs_data_get_int(off, "entry_id"), 0);
}

TEST_F(RemoteRequests, AddMarkBackdatesByAgoMs)
{
	EngineTest::setClocks(
	    *engine, [this] { return fakeNs; }, nullptr);
	startStream();
	fakeNs += 30000LL * 1000000; // 30 s into the stream
	OBSData reply = call("AddMark", R"({"label":"song","kind":"song","ago_ms":5000})");
	ASSERT_TRUE(ok(reply));
	EXPECT_EQ(entry(obs_data_get_int(reply, "entry_id"))->t_ms, 25000);
	// The look-back is capped, the offset floored at zero.
	OBSData far = call("AddMark", R"({"label":"other","kind":"song","ago_ms":90000})");
	EXPECT_EQ(entry(obs_data_get_int(far, "entry_id"))->t_ms, 0);
}

TEST_F(RemoteRequests, OverlongTextsAreRefusedAndChangeNothing)
{
	startStream();
	const std::string atLimit(4096, 'x');
	std::string overByBytes;
	for (int i = 0; i < 1366; ++i)
		overByBytes += "あ"; // 1366 characters, 4098 bytes
	auto field = [](const char *key, const std::string &text) {
		return "{\"" + std::string(key) + "\":\"" + text + "\"}";
	};

	OBSData press = call("Press", field("label", overByBytes));
	EXPECT_FALSE(ok(press));
	EXPECT_EQ(error(press), "text too long (at most 4096 bytes)");
	EXPECT_EQ(obs_data_get_int(press, "entry_id"), 0);
	const size_t marks = engine->currentSession()->entries.size();

	OBSData mark = call("AddMark", "{\"kind\":\"song\",\"label\":\"" + overByBytes + "\"}");
	EXPECT_FALSE(ok(mark));
	EXPECT_EQ(obs_data_get_int(mark, "entry_id"), 0);
	EXPECT_EQ(engine->currentSession()->entries.size(), marks);

	OBSData fits = call("AddMark", "{\"kind\":\"song\",\"label\":\"" + atLimit + "\"}");
	ASSERT_TRUE(ok(fits));
	const long long id = obs_data_get_int(fits, "entry_id");
	EXPECT_FALSE(ok(call("SetLabel", "{\"entry_id\":" + std::to_string(id) + ",\"label\":\"" + atLimit + "y\"}")));
	EXPECT_EQ(entry(id)->label, atLimit);
	EXPECT_FALSE(ok(call("SetArchiveUrl", field("url", "https://" + atLimit))));
	EXPECT_EQ(engine->currentSession()->archive_url, "");

	const int seconds = settings().replay_seconds;
	OBSData config = call("SetConfig", "{\"replay_seconds\":" + std::to_string(seconds == 7 ? 8 : 7) +
					       ",\"ignore_scenes\":[{\"name\":\"" + overByBytes + "\"}]}");
	EXPECT_FALSE(ok(config));
	EXPECT_EQ(settings().replay_seconds, seconds);
}

TEST_F(RemoteRequests, FreeSessionStartAndEnd)
{
	ASSERT_TRUE(ok(call("StartFreeSession")));
	OBSData again = call("StartFreeSession");
	EXPECT_FALSE(ok(again));
	EXPECT_EQ(error(again), "今は記録を始められません");
	ASSERT_TRUE(ok(call("EndFreeSession")));
	OBSData none = call("EndFreeSession");
	EXPECT_FALSE(ok(none));
	EXPECT_EQ(error(none), "配信していないときの記録は動いていません");
}

TEST_F(RemoteRequests, GetSessionPicksRunningThenViewedWithoutChangingTheView)
{
	const QString stored = storedSession("2026-01-02_10-00-00", {{1000, "a"}, {700000, "b \"q\" \\ \t 曲 🎵"}});
	engine->viewSession(stored);
	ASSERT_TRUE(ok(call("StartFreeSession")));
	engine->viewSession(stored);
	const QString running = engine->currentSessionId();

	OBSData current = call("GetSession");
	ASSERT_TRUE(ok(current));
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(current, "id")), running);
	EXPECT_TRUE(obs_data_get_bool(current, "active"));
	EXPECT_EQ(engine->viewedSessionId(), stored);

	OBSData byId = call("GetSession", R"({"session_id":"2026-01-02_10-00-00"})");
	ASSERT_TRUE(ok(byId));
	EXPECT_FALSE(obs_data_get_bool(byId, "active"));
	EXPECT_EQ(obs_data_get_int(byId, "format"), 1);
	OBSDataArrayAutoRelease entries = obs_data_get_array(byId, "entries");
	EXPECT_EQ(obs_data_array_count(entries), 2u);
	EXPECT_TRUE(obs_data_has_user_value(byId, "chapter_text"));
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(byId, "export_folder")), exportDir.path());
	OBSDataArrayAutoRelease issues = obs_data_get_array(byId, "issues");
	ASSERT_NE(issues.Get(), nullptr);
	EXPECT_EQ(obs_data_get_bool(byId, "chapters_ok"), obs_data_array_count(issues) == 0);
	EXPECT_GT(obs_data_array_count(issues), 0u); // two chapters are too few for a chapter list
	// Besides those keys, the reply is the session's own object, value for value.
	OBSDataAutoRelease own = sessionToData(*engine->findSession(stored));
	OBSDataAutoRelease sent = obs_data_create();
	obs_data_apply(sent, byId);
	for (const char *extra : {"active", "chapter_text", "export_folder", "issues", "chapters_ok", "ok"})
		obs_data_erase(sent, extra);
	EXPECT_STREQ(obs_data_get_json(sent), obs_data_get_json(own));

	ASSERT_TRUE(ok(call("EndFreeSession")));
	engine->viewSession(stored);
	OBSData viewed = call("GetSession");
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(viewed, "id")), stored);
}

TEST_F(RemoteRequests, SessionIdsWithPathCharactersNameNoSession)
{
	// A session file outside the sessions folder that a crafted id would reach.
	const QString sessions = QString::fromStdString(sessionsFolder());
	QDir().mkpath(sessions);
	const QString outside = config.path() + "/victim.json";
	ASSERT_TRUE(writeFileBytes(outside, R"({"id":"victim","start_wall_ms":1,"end_wall_ms":2})"));
	const QString stored = storedSession("2026-01-03_10-00-00", {{1000, "a"}});
	engine->viewSession(stored);

	for (const char *bad : {"../victim", "..\\\\victim", "C:victim", "sub/../../victim"}) {
		SCOPED_TRACE(bad);
		const std::string field = std::string(R"({"session_id":")") + bad + R"("})";
		OBSData get = call("GetSession", field);
		EXPECT_FALSE(ok(get));
		EXPECT_EQ(error(get), "no session");
		EXPECT_FALSE(ok(call("ViewSession", field)));
		OBSData removed = call("RemoveSession", field);
		EXPECT_FALSE(ok(removed));
		EXPECT_EQ(error(removed), "no such ended session (a running one cannot be removed)");
		// An entry request for a session that does not exist edits nothing, not even the viewed one.
		std::string label = std::string(R"({"entry_id":1,"label":"edited","session_id":")") + bad + R"("})";
		OBSData edited = call("SetLabel", label);
		EXPECT_FALSE(ok(edited));
		EXPECT_EQ(error(edited), "no session");
		EXPECT_EQ(engine->viewedSessionId(), stored);
	}
	// A well-formed id that names no session is refused the same way.
	OBSData unknown = call("SetLabel", R"({"entry_id":1,"label":"edited","session_id":"2099-01-01_00-00-00"})");
	EXPECT_FALSE(ok(unknown));
	EXPECT_EQ(error(unknown), "no session");
	EXPECT_TRUE(QFile::exists(outside));
	EXPECT_EQ(engine->findSession(stored)->findEntry(1)->label, "a");
	// Without a session id the viewed session is edited, as before.
	EXPECT_TRUE(ok(call("SetLabel", R"({"entry_id":1,"label":"edited"})")));
	EXPECT_EQ(engine->findSession(stored)->findEntry(1)->label, "edited");
}

TEST_F(RemoteRequests, ListViewAndRemoveSessions)
{
	ASSERT_TRUE(engine->viewedSessionId().isEmpty());
	EXPECT_TRUE(ok(call("ViewSession", R"({"session_id":""})"))); // nothing viewed, nothing asked for
	const QString older = storedSession("2026-01-04_10-00-00", {{1000, "a"}});
	const QString newer = storedSession("2026-01-05_10-00-00", {{1000, "b"}});
	ASSERT_TRUE(ok(call("StartFreeSession")));
	const QString running = engine->currentSessionId();
	ASSERT_TRUE(ok(call("ViewSession", R"({"session_id":"2026-01-04_10-00-00"})")));
	EXPECT_EQ(engine->viewedSessionId(), older);
	EXPECT_FALSE(ok(call("ViewSession", R"({"session_id":"1999-01-01_00-00-00"})")));
	EXPECT_EQ(engine->viewedSessionId(), older);

	OBSData list = call("ListSessions");
	ASSERT_TRUE(ok(list));
	OBSDataArrayAutoRelease ids = obs_data_get_array(list, "sessions");
	ASSERT_GE(obs_data_array_count(ids), 3u);
	auto idAt = [&](size_t i) {
		OBSDataAutoRelease item = obs_data_array_item(ids, i);
		return QString::fromUtf8(obs_data_get_string(item, "id"));
	};
	// The running session's file is written at its start; either way it comes first (newest).
	EXPECT_EQ(idAt(0), running);
	EXPECT_EQ(idAt(1), newer);
	EXPECT_EQ(idAt(2), older);
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(list, "current")), running);
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(list, "viewed")), older);

	OBSData removeRunning = call("RemoveSession", "{\"session_id\":\"" + running.toStdString() + "\"}");
	EXPECT_FALSE(ok(removeRunning));
	OBSData removeOld = call("RemoveSession", R"({"session_id":"2026-01-04_10-00-00"})");
	EXPECT_TRUE(ok(removeOld));
	EXPECT_FALSE(QFile::exists(QString::fromStdString(sessionFilePath(older.toStdString()))));

	// A file that cannot be deleted is a failure with its own reason, and the session stays.
	const QString stuck = QString::fromStdString(sessionFilePath(newer.toStdString()));
	ASSERT_NE(engine->findSession(newer), nullptr);
	ASSERT_TRUE(QFile::remove(stuck));
	ASSERT_TRUE(QDir().mkpath(stuck + "/held"));
	OBSData refused = call("RemoveSession", R"({"session_id":"2026-01-05_10-00-00"})");
	EXPECT_FALSE(ok(refused));
	EXPECT_STREQ(obs_data_get_string(refused, "error"), "the session file could not be deleted");
	EXPECT_NE(engine->findSession(newer), nullptr);
}

TEST_F(RemoteRequests, EntryEditsSelectTheirSessionFirst)
{
	const QString a = storedSession("2026-01-06_10-00-00", {{1000, "one"}, {50000, "two"}, {90000, "three"}});
	const QString b = storedSession("2026-01-07_10-00-00", {{2000, "x"}});
	engine->viewSession(b);

	EXPECT_TRUE(ok(call("SetLabel", R"({"session_id":"2026-01-06_10-00-00","entry_id":2,"label":" new "})")));
	EXPECT_EQ(engine->viewedSessionId(), a);
	Session *sa = engine->findSession(a);
	EXPECT_EQ(sa->findEntry(2)->label, "new");

	EXPECT_TRUE(ok(call("SetChapter", R"({"entry_id":3,"chapter":false})")));
	EXPECT_FALSE(sa->findEntry(3)->chapter);

	// Both given: the entry wins over "ms".
	EXPECT_TRUE(ok(call("SetShift", R"({"entry_id":2,"ms":12345})")));
	EXPECT_EQ(sa->shift_ms, 50000);
	EXPECT_TRUE(ok(call("SetShift", R"({"ms":-1500})")));
	EXPECT_EQ(sa->shift_ms, -1500);
	EXPECT_TRUE(ok(call("SetShift", R"({"entry_id":99,"ms":7})"))); // no such entry: nothing
	EXPECT_EQ(sa->shift_ms, -1500);

	EXPECT_TRUE(ok(call("SetArchiveUrl", R"({"url":"  https://youtu.be/abc  "})")));
	EXPECT_EQ(sa->archive_url, "https://youtu.be/abc");

	EXPECT_TRUE(ok(call("RemoveEntry", R"({"entry_id":1})")));
	EXPECT_EQ(sa->findEntry(1), nullptr);
	EXPECT_TRUE(ok(call("RemoveEntry", R"({"entry_id":1})"))); // nothing left to remove, still ok

	OBSData drop = call("DropShortChapters", R"({"session_id":"2026-01-07_10-00-00"})");
	EXPECT_TRUE(ok(drop));
	EXPECT_TRUE(obs_data_has_user_value(drop, "count"));
	EXPECT_EQ(engine->viewedSessionId(), b);
}

TEST_F(RemoteRequests, ExportListsAndQuotes)
{
	storedSession("2026-01-08_10-00-00", {{1000, "one"}, {50000, "two"}});
	OBSData ok3 = call("Export", R"({"session_id":"2026-01-08_10-00-00"})");
	OBSDataArrayAutoRelease files = obs_data_get_array(ok3, "files");
	ASSERT_EQ(obs_data_array_count(files), 3u);
	EXPECT_TRUE(ok(ok3));
	for (size_t i = 0; i < 3; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(files, i);
		EXPECT_TRUE(QFile::exists(QString::fromUtf8(obs_data_get_string(item, "path"))));
	}

	// An export folder that cannot be created: nothing written, "ok" false, still a "files" array.
	const QString blocker = exportDir.path() + "/file";
	ASSERT_TRUE(writeFileBytes(blocker, "x"));
	settings().export_dir = blocker + "/sub";
	Session *s = engine->findSession("2026-01-08_10-00-00");
	s->export_dir.clear();
	OBSData failed = call("Export", R"({"session_id":"2026-01-08_10-00-00"})");
	EXPECT_FALSE(ok(failed));
	OBSDataArrayAutoRelease none = obs_data_get_array(failed, "files");
	ASSERT_NE(none.Get(), nullptr);
	EXPECT_LT(obs_data_array_count(none), 3u);

	settings().export_dir = exportDir.path();
	OBSData quotes = call("ExportQuotes");
	if (ok(quotes)) {
		EXPECT_TRUE(QFile::exists(QString::fromUtf8(obs_data_get_string(quotes, "path"))));
	} else {
		EXPECT_STREQ(obs_data_get_string(quotes, "path"), "");
		EXPECT_EQ(error(quotes), "名言集を書き出せませんでした");
	}
}

TEST_F(RemoteRequests, SetConfigClampsReplacesAndAlwaysSaves)
{
	loadSettings(); // nothing is written before the settings were read
	int statusSignals = 0;
	QMetaObject::Connection counter =
	    QObject::connect(engine, &Engine::statusChanged, [&statusSignals] { ++statusSignals; });
	settings().ignore_scenes = QStringList{QStringLiteral("Old")};
	settings().marks_song = true;
	settings().dock_shown = false;

	EXPECT_TRUE(ok(call("SetConfig", R"({"replay_seconds":1,"replay_speed":500,"ignore_scenes":[]})")));
	EXPECT_EQ(settings().replay_seconds, 3);
	EXPECT_EQ(settings().replay_speed, 200);
	EXPECT_TRUE(settings().ignore_scenes.isEmpty());
	EXPECT_TRUE(settings().marks_song); // absent keys keep their values

	// Clamped before it is narrowed: 2^32 + 3 must not become 3.
	EXPECT_TRUE(ok(call("SetConfig", R"({"replay_seconds":4294967299,"recap_seconds":-5,"replay_repeat":9})")));
	EXPECT_EQ(settings().replay_seconds, 300);
	EXPECT_EQ(settings().recap_seconds, 3);
	EXPECT_EQ(settings().replay_repeat, 3);

	EXPECT_TRUE(
	    ok(call("SetConfig",
		    R"({"marks_song":false,"export_dir":"D:/lists","replay_scene":"リプレイ",)"
		    R"("dock_shown":true,"ignore_scenes":[{"name":"B"},{"name":""},{"name":"A"},{"name":"B"}]})")));
	EXPECT_FALSE(settings().marks_song);
	EXPECT_FALSE(settings().dock_shown); // the dock's own state, not for clients
	EXPECT_EQ(settings().export_dir, "D:/lists");
	EXPECT_EQ(settings().replay_scene, QString::fromUtf8("リプレイ"));
	EXPECT_EQ(settings().ignore_scenes, QStringList({"B", "A", "B"}));

	const int before = statusSignals;
	QFile::remove(QString::fromStdString(config.file("config.json")));
	EXPECT_TRUE(ok(call("SetConfig")));
	EXPECT_EQ(statusSignals, before + 1);
	EXPECT_TRUE(QFile::exists(QString::fromStdString(config.file("config.json"))));

	// A configuration that cannot be written is reported; the values still apply.
	const QString tmp = QString::fromStdString(config.file("config.json")) + ".tmp";
	ASSERT_TRUE(QDir().mkpath(tmp + "/held"));
	OBSData refused = call("SetConfig", R"({"replay_repeat":2})");
	EXPECT_FALSE(ok(refused));
	EXPECT_STREQ(obs_data_get_string(refused, "error"), "applied, but config.json could not be written");
	EXPECT_EQ(settings().replay_repeat, 2);
	QDir(tmp).removeRecursively();
	QObject::disconnect(counter);
}

TEST_F(RemoteRequests, GetStatusReportsTheEngine)
{
	startStream();
	QThread::msleep(20);
	OBSData status = call("GetStatus");
	ASSERT_TRUE(ok(status));
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(status, "session_id")), engine->currentSessionId());
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(status, "viewed_id")), engine->viewedSessionId());
	EXPECT_GE(obs_data_get_int(status, "stream_ms"), 20);
	OBSDataAutoRelease buffer = obs_data_get_obj(status, "buffer");
	ASSERT_NE(buffer.Get(), nullptr);
	for (const char *key : {"enabled", "active", "seconds", "size_limit_mb", "video_kbps", "audio_kbps",
				"estimate_mb", "capped_by_size"})
		EXPECT_TRUE(obs_data_has_user_value(buffer, key)) << key;
	for (const char *key : {"replay_state", "replay_problem", "replay_placed", "replay_visible",
				"replay_latency_ms", "record_chapters_added", "save_pending", "message"})
		EXPECT_TRUE(obs_data_has_user_value(status, key)) << key;
	EXPECT_FALSE(obs_data_get_bool(status, "save_pending"));

	FrontendDouble::state().replayBufferActive = true;
	ASSERT_TRUE(ok(call("Press", R"({"mode":"replay"})")));
	OBSData pending = call("GetStatus");
	EXPECT_TRUE(obs_data_get_bool(pending, "save_pending"));
	EXPECT_EQ(QString::fromUtf8(obs_data_get_string(pending, "message")), engine->statusText());
}

TEST_F(RemoteRequests, PlaybackRequestsAnswerWithTheirKeys)
{
	OBSData replay = call("ReplayEntry", R"({"entry_id":424242})");
	EXPECT_FALSE(ok(replay));
	EXPECT_TRUE(ok(call("StopReplay")));

	for (const char *name : {"SetupReplayScene", "SetupRecapScene"}) {
		OBSData setup = call(name, R"({"add_to_current":false})");
		EXPECT_TRUE(obs_data_has_user_value(setup, "ok")) << name;
		EXPECT_TRUE(obs_data_has_user_value(setup, "error")) << name; // written even when empty
	}

	OBSData recap = call("GetRecapStatus");
	EXPECT_TRUE(ok(recap));
	for (const char *key : {"running", "session_id", "count", "index", "file", "memo"})
		EXPECT_TRUE(obs_data_has_user_value(recap, key)) << key;
	EXPECT_FALSE(obs_data_get_bool(recap, "running"));
	EXPECT_EQ(obs_data_get_int(recap, "index"), 0);
}

TEST_F(RemoteRequests, EventsKeepTheOrderOfABurstOfPresses)
{
	const int threads = 4, perThread = 15;
	std::atomic<int> finished{0};
	std::vector<std::vector<long long>> ids(threads);
	std::vector<std::thread> callers;
	for (int t = 0; t < threads; ++t) {
		callers.emplace_back([&, t] {
			for (int i = 0; i < perThread; ++i) {
				OBSData reply = WebsocketStandIn::call("Press", R"({"mode":"mark"})");
				ids[t].push_back(obs_data_get_int(reply, "entry_id"));
			}
			++finished;
		});
	}
	ASSERT_TRUE(waitUntil([&] { return finished.load() == threads; }, 10000));
	for (auto &c : callers)
		c.join();

	std::set<long long> answered;
	for (const auto &list : ids) {
		// Each client sees its own presses in the order it made them.
		for (size_t i = 1; i < list.size(); ++i)
			EXPECT_LT(list[i - 1], list[i]);
		answered.insert(list.begin(), list.end());
	}
	ASSERT_EQ(answered.size(), size_t(threads * perThread));
	EXPECT_EQ(answered.count(0), 0u);

	ASSERT_TRUE(
	    waitUntil([&] { return WebsocketStandIn::eventTypes().size() >= size_t(threads * perThread); }, 5000));
	std::vector<long long> marked;
	for (const auto &e : WebsocketStandIn::events()) {
		EXPECT_FALSE(e.onUiThread);
		if (e.type != "Marked")
			continue;
		OBSDataAutoRelease data = obs_data_create_from_json(e.json.c_str());
		marked.push_back(obs_data_get_int(data, "entry_id"));
	}
	ASSERT_EQ(marked.size(), size_t(threads * perThread));
	for (size_t i = 1; i < marked.size(); ++i)
		EXPECT_LT(marked[i - 1], marked[i]) << "event " << i << " out of order";
	EXPECT_EQ(std::set<long long>(marked.begin(), marked.end()), answered);
}

} // namespace
