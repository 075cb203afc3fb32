// Recap player: playlist choice, playback through a live recap scene, in-place looping and skips.
#include "test_playback_fakes.h"
#include "test_recap_sessions.h"

#include "FrontendDouble.h"
#include "TestSupport.h"
#include "playback/Recap.h"
#include "session/Session.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>
#include <string>

namespace {

std::string be(uint64_t v, int n)
{
	std::string out;
	for (int i = n - 1; i >= 0; --i)
		out.push_back(char((v >> (8 * i)) & 0xFF));
	return out;
}

// A file whose header tells its duration, so the recap can seek as soon as it starts.
QString writeClip(const QTemporaryDir &dir, const char *name, long long ms, bool withHeader = true)
{
	const QString path = dir.filePath(QString::fromUtf8(name));
	std::string body = "junk";
	if (withHeader) {
		std::string mvhd = be(0, 4) + be(0, 4) + be(0, 4) + be(1000, 4) + be(uint64_t(ms), 4);
		mvhd = be(8 + mvhd.size(), 4) + "mvhd" + mvhd;
		body = be(8 + mvhd.size(), 4) + "moov" + mvhd;
	}
	writeFileBytes(path, QByteArray::fromStdString(body));
	fake::clips()[normalizedPathKey(path)] = {ms, false, true};
	return path;
}

class RecapTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		fake::registerSources();
		FrontendDouble::reset();
		const std::string n = " #" + std::to_string(++counter);
		sceneName = "Recap Scene" + n;
		mediaName = "Recap Media" + n;
		textName = "Recap Text" + n;
		settings().recap_scene = QString::fromStdString(sceneName);
		settings().recap_media = QString::fromStdString(mediaName);
		settings().recap_text = QString::fromStdString(textName);
		settings().replay_scene = "Replay";
		settings().replay_media = "Replay Media";
		settings().recap_seconds = 3;
		scene = objects.scene(sceneName.c_str());
		media = objects.source("ffmpeg_source", mediaName.c_str());
		memo = objects.source(recapTextSourceType(), textName.c_str());
		mediaItem = obs_scene_add(scene, media);
		obs_scene_add(scene, memo);
		QObject::connect(&recap, &Recap::clipStarted, &context,
				 [this](const QString &file, const QString &m, int index, int count) {
					 started.push_back({file, m, index, count});
				 });
	}
	void TearDown() override
	{
		obs_set_output_source(0, nullptr);
		recap.reset();
		fake::clips().clear();
	}
	void goLive() { obs_set_output_source(0, obs_scene_get_source(scene)); }
	QString shownText()
	{
		OBSDataAutoRelease s = obs_source_get_settings(memo);
		return QString::fromUtf8(obs_data_get_string(s, "text"));
	}

	struct Started {
		QString file, memo;
		int index, count;
	};

	fake::SettingsGuard guard;
	fake::Objects objects;
	FakeSessions sessions;
	QTemporaryDir dir;
	Recap recap{sessions};
	QObject context;
	std::vector<Started> started;
	std::string sceneName, mediaName, textName;
	obs_scene_t *scene = nullptr;
	obs_source_t *media = nullptr;
	obs_source_t *memo = nullptr;
	obs_sceneitem_t *mediaItem = nullptr;
	static inline int counter = 0;
};

} // namespace

TEST_F(RecapTest, PlaylistComesFromTheLatestFinishedStreamSession)
{
	const QString a = writeClip(dir, "a.mp4", 5000);
	const QString b = writeClip(dir, "b.mp4", 5000);
	const QString c = writeClip(dir, "c.mp4", 5000);
	Session &older = sessions.add("older", SessionSource::Stream, 1000);
	addPress(older, 10, "old", a);
	Session &stream = sessions.add("stream", SessionSource::Stream, 2000);
	addPress(stream, 30, "#01", a);                   // no memo
	Entry &owner = addPress(stream, 20, "memo b", b); // shared file below
	addPress(stream, 40, "also b", QString(), owner.id);
	addPress(stream, 50, "memo c", c);
	addPress(stream, 60, "missing", dir.filePath("gone.mp4"));
	sessions.add("recording", SessionSource::Recording, 3000).entries.clear();
	addPress(sessions.sessions["recording"], 1, "rec", a);
	addPress(sessions.add("running", SessionSource::Stream, 4000), 1, "live", a);
	sessions.running = "running";
	addPress(sessions.add("unended", SessionSource::Stream, 5000, false), 1, "open", a);

	recap.start();
	ASSERT_TRUE(waitUntil([&] { return recap.status().count > 0; }, 2000));
	RecapStatus st = recap.status();
	EXPECT_EQ(st.sessionId, "stream");
	// Memo items first by time, then the rest; the shared file appears once.
	EXPECT_EQ(st.count, 3);
	const auto &items = recap.playlistItems();
	ASSERT_EQ(items.size(), 3u);
	EXPECT_EQ(items[0].path, b);
	EXPECT_EQ(items[0].memo, "memo b");
	EXPECT_EQ(items[1].path, c);
	EXPECT_EQ(items[2].path, a);
	EXPECT_EQ(items[2].memo, "");
	EXPECT_FALSE(st.running);
	EXPECT_EQ(st.index, 0);

	// Without a finished stream session, the recording is used.
	sessions.sessions.erase("stream");
	sessions.sessions.erase("older");
	ASSERT_TRUE(sessions.listChanged);
	sessions.listChanged(); // as the Engine signals a change of the session list
	ASSERT_TRUE(waitUntil([&] { return recap.status().sessionId == "recording"; }, 2000));
	EXPECT_EQ(recap.status().count, 1);
}

TEST_F(RecapTest, PlaysClipsInOrderWithTheirMemos)
{
	Session &s = sessions.add("s", SessionSource::Stream, 1000);
	const QString first = writeClip(dir, "first.mp4", 1300);
	const QString second = writeClip(dir, "second.mkv", 1200, false); // duration unknown until it plays
	addPress(s, 20, "#02", second);
	addPress(s, 10, "the first memo", first);
	recap.start();
	goLive();
	ASSERT_TRUE(waitUntil([&] { return started.size() >= 2; }, 6000));
	EXPECT_EQ(started[0].file, first);
	EXPECT_EQ(started[0].memo, "the first memo");
	EXPECT_EQ(started[0].index, 1);
	EXPECT_EQ(started[0].count, 2);
	EXPECT_EQ(started[1].file, second);
	EXPECT_EQ(started[1].memo, "");
	EXPECT_EQ(started[1].index, 2);
	EXPECT_TRUE(recap.isLoaded(second));
	EXPECT_TRUE(recap.status().running);
	EXPECT_EQ(shownText(), "");

	// Leaving the program unloads everything.
	obs_set_output_source(0, nullptr);
	ASSERT_TRUE(waitUntil([&] { return !recap.status().running; }, 2000));
	OBSDataAutoRelease ms = obs_source_get_settings(media);
	EXPECT_STREQ(obs_data_get_string(ms, "local_file"), "");
	EXPECT_FALSE(recap.isLoaded(second));
	EXPECT_TRUE(obs_sceneitem_visible(mediaItem));
}

TEST_F(RecapTest, LongClipStartsFromItsLastSeconds)
{
	Session &s = sessions.add("s", SessionSource::Stream, 1000);
	const QString clip = writeClip(dir, "long.mp4", 10000);
	addPress(s, 10, "long one", clip);
	recap.start();
	goLive();
	ASSERT_TRUE(waitUntil([&] { return !started.empty(); }, 3000));
	fake::Media *fm = fake::media(media);
	ASSERT_FALSE(fm->seeks.empty());
	EXPECT_EQ(fm->seeks[0], 7000); // sought from the media-start hook, before showing
	EXPECT_EQ(shownText(), "long one");
}

TEST_F(RecapTest, SingleClipLoopsInPlace)
{
	Session &s = sessions.add("s", SessionSource::Stream, 1000);
	const QString clip = writeClip(dir, "only.mp4", 1400);
	addPress(s, 10, "only memo", clip);
	recap.start();
	goLive();
	ASSERT_TRUE(waitUntil([&] { return started.size() >= 2; }, 5000));
	EXPECT_EQ(started[1].file, clip);
	EXPECT_EQ(started[1].index, 1);
	EXPECT_EQ(started[1].count, 1);
	fake::Media *fm = fake::media(media);
	EXPECT_EQ(fm->loads.size(), 1u); // sought back, not reloaded
	ASSERT_FALSE(fm->seeks.empty());
	EXPECT_EQ(fm->seeks.back(), 0);
}

TEST_F(RecapTest, BrokenFileIsSkipped)
{
	Session &s = sessions.add("s", SessionSource::Stream, 1000);
	const QString broken = writeClip(dir, "broken.mp4", 1000);
	fake::clips()[normalizedPathKey(broken)].openError = true;
	const QString good = writeClip(dir, "good.mp4", 1200);
	addPress(s, 10, "broken memo", broken);
	addPress(s, 20, "good memo", good);
	recap.start();
	goLive();
	ASSERT_TRUE(waitUntil([&] { return started.size() >= 2; }, 6000));
	for (const Started &st : started) {
		EXPECT_EQ(st.file, good);
		EXPECT_EQ(st.index, 2);
	}
	EXPECT_FALSE(recap.isLoaded(broken));
}

TEST_F(RecapTest, ResetClearsThePlaylist)
{
	Session &s = sessions.add("s", SessionSource::Stream, 1000);
	addPress(s, 10, "m", writeClip(dir, "r.mp4", 3000));
	recap.start();
	ASSERT_TRUE(waitUntil([&] { return recap.status().count == 1; }, 2000));
	recap.reset();
	EXPECT_EQ(recap.status().count, 0);
	EXPECT_TRUE(recap.status().empty);
	EXPECT_EQ(recap.status().sessionId, "");
}
