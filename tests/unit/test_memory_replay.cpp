// The replay from memory: the packet ring over refcounted packets as libobs makes them, and the
// Matroska mux of packets that libavcodec really encoded, read back by the clip probe.
#include "playback/MemoryReplay.h"
#include "playback/PacketRing.h"
#include "playback/ReplayMux.h"
#include "util/PrivateFiles.h"

#include "EncodedClip.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

// A packet of `usec` in a microsecond timebase.
encoder_packet makePacket(obs_encoder_type type, int64_t usec, bool key)
{
	return refcountedPacket(type, nullptr, 16, usec, usec, 1000000, key);
}

// 30 fps video with a keyframe every 2 s and audio every 21 ms, from `fromUsec` for `seconds`.
void pushStream(PacketRing &ring, int64_t fromUsec, int seconds)
{
	for (int64_t t = fromUsec; t < fromUsec + seconds * 1000000LL; t += 1000) {
		if (t % 33000 == 0) {
			encoder_packet v = makePacket(OBS_ENCODER_VIDEO, t, (t / 33000) % 60 == 0);
			ring.push(&v);
			obs_encoder_packet_release(&v);
		}
		if (t % 21000 == 0) {
			encoder_packet a = makePacket(OBS_ENCODER_AUDIO, t, true);
			ring.push(&a);
			obs_encoder_packet_release(&a);
		}
	}
}

bool startsWithKeyframe(const PacketSnapshot &snap)
{
	auto video = std::find_if(snap.packets.begin(), snap.packets.end(),
				  [](const encoder_packet &p) { return p.type == OBS_ENCODER_VIDEO; });
	return video != snap.packets.end() && video->keyframe && video->dts_usec == snap.firstUsec;
}

} // namespace

TEST(MemoryRing, KeepsWholeGopsBehindTheNewestPacketAndRestartsEmpty)
{
	PacketRing ring;
	ring.setKeepUsec(5 * 1000000LL);
	encoder_packet early = makePacket(OBS_ENCODER_AUDIO, 0, true);
	ring.push(&early); // before any keyframe: nothing to play it with
	obs_encoder_packet_release(&early);
	EXPECT_EQ(ring.size(), 0u);

	pushStream(ring, 33000, 30);
	// Trimmed to the keyframe at or before newest - 5 s: between 5 and 7 s held, never less.
	EXPECT_GE(ring.heldUsec(), 5 * 1000000LL);
	EXPECT_LT(ring.heldUsec(), 7 * 1000000LL);
	const size_t bytes = ring.heldBytes();
	EXPECT_LT(bytes, 16u * 7 * (30 + 48));

	// The last 3 s start at the keyframe at or before newest - 3 s, with the sound of 100 ms before it.
	PacketSnapshot snap = ring.snapshot(3 * 1000000LL);
	ASSERT_TRUE(startsWithKeyframe(snap));
	EXPECT_GE(snap.spanUsec(), 3 * 1000000LL);
	EXPECT_LT(snap.spanUsec(), 5 * 1000000LL);
	EXPECT_EQ(snap.packets.front().type, OBS_ENCODER_AUDIO);
	for (const encoder_packet &p : snap.packets)
		EXPECT_GE(p.dts_usec, snap.firstUsec - 100000);
	// More than is held gives what is held, with the sound before its oldest keyframe too.
	EXPECT_EQ(ring.snapshot(60 * 1000000LL).firstUsec, ring.snapshot(6 * 1000000LL).firstUsec);
	EXPECT_EQ(ring.snapshot(60 * 1000000LL).packets.front().type, OBS_ENCODER_AUDIO);

	ring.clear();
	EXPECT_EQ(ring.size(), 0u);
	EXPECT_EQ(ring.heldUsec(), 0);
	EXPECT_TRUE(ring.snapshot(1000000).empty());
	// The snapshot taken before still holds its own references.
	EXPECT_EQ(snap.packets.back().size, 16u);
	pushStream(ring, 100 * 1000000LL, 3);
	EXPECT_GE(ring.snapshot(1000000).firstUsec, 100 * 1000000LL);
}

TEST(MemoryRing, SnapshotsWhileEncoderThreadsAddAreWholeAndOrdered)
{
	PacketRing ring;
	ring.setKeepUsec(2 * 1000000LL);
	std::atomic<bool> done{false};
	std::atomic<int> taken{0};
	// The encoder goes on until enough snapshots were taken while it was adding.
	std::thread encoder([&] {
		for (int round = 0; taken < 50 && round < 100000; ++round)
			pushStream(ring, round * 4 * 1000000LL, 4);
		done = true;
	});
	while (!done) {
		PacketSnapshot snap = ring.snapshot(1000000);
		if (snap.empty())
			continue;
		++taken;
		ASSERT_TRUE(startsWithKeyframe(snap));
		int64_t lastVideo = -1;
		for (const encoder_packet &p : snap.packets) {
			if (p.type != OBS_ENCODER_VIDEO)
				continue;
			ASSERT_GT(p.dts_usec, lastVideo);
			lastVideo = p.dts_usec;
		}
	}
	encoder.join();
	EXPECT_GE(taken, 50);
}

TEST(MemoryMux, MakesAPlayableClipThatStartsWithAKeyframe)
{
	Encoded enc;
	encode(enc, 60);
	ASSERT_GT(enc.packets.size(), 60u);
	QTemporaryDir dir;
	const std::string path = dir.filePath("replay.mkv").toStdString();
	std::string error;
	{
		// Written as the replay's growing file is: no length, no index.
		MatroskaWriter writer;
		ASSERT_TRUE(
		    writer.open(PrivateFiles::createFile(QString::fromStdString(path), error), enc.header, error) &&
		    writer.append(enc.packets, error) && writer.finish(error))
		    << error;
	}

	AVFormatContext *fmt = nullptr;
	ASSERT_EQ(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr), 0);
	ASSERT_GE(avformat_find_stream_info(fmt, nullptr), 0);
	ASSERT_EQ(fmt->nb_streams, 2u);
	EXPECT_EQ(fmt->start_time, 0);
	// As OBS's media source starts a file of no known length: the first stream's blocks before the time
	// it seeks to are skipped, the first keyframe with them if the sound started after it.
	ASSERT_GE(av_seek_frame(fmt, 0, fmt->start_time, AVSEEK_FLAG_FRAME), 0);
	AVPacket *pkt = av_packet_alloc();
	int videoPackets = 0, audioPackets = 0;
	int64_t lastVideoMs = 0, lastAudioMs = 0;
	bool firstKey = false;
	while (av_read_frame(fmt, pkt) >= 0) {
		const AVStream *stream = fmt->streams[pkt->stream_index];
		const int64_t ms = av_rescale_q(pkt->pts, stream->time_base, AVRational{1, 1000});
		if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
			++audioPackets;
			lastAudioMs = std::max(lastAudioMs, ms);
		} else {
			lastVideoMs = std::max(lastVideoMs, ms);
			if (videoPackets++ == 0)
				firstKey = pkt->flags & AV_PKT_FLAG_KEY;
			if (pkt->pts != AV_NOPTS_VALUE)
				EXPECT_GE(pkt->pts, 0);
		}
		av_packet_unref(pkt);
	}
	av_packet_free(&pkt);
	avformat_close_input(&fmt);
	EXPECT_TRUE(firstKey);
	EXPECT_EQ(videoPackets, 60);
	// The sound runs beside the picture, over the same two seconds (from the sound frame under its first
	// picture, two frames after the first keyframe's decode time).
	EXPECT_EQ(audioPackets, 117);
	EXPECT_NEAR(lastVideoMs, 2000, 70);
	EXPECT_NEAR(lastAudioMs, lastVideoMs, 60);

	// A stream without its header, or a folder that cannot be written, is refused and leaves nothing.
	MuxHeader bare = enc.header;
	bare.video.extraData.clear();
	EXPECT_FALSE(muxMatroska(path + "2", bare, enc.packets, error));
	EXPECT_FALSE(QFile::exists(QString::fromStdString(path + "2")));
	EXPECT_FALSE(muxMatroska(dir.filePath("missing/replay.mkv").toStdString(), enc.header, enc.packets, error));
	EXPECT_FALSE(error.empty());
}

namespace {
// Video packets in a Matroska file.
int videoPacketsIn(const QString &path)
{
	AVFormatContext *fmt = nullptr;
	if (avformat_open_input(&fmt, path.toUtf8().constData(), nullptr, nullptr) != 0)
		return -1;
	AVPacket *pkt = av_packet_alloc();
	int n = 0;
	while (av_read_frame(fmt, pkt) >= 0) {
		n += fmt->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
		av_packet_unref(pkt);
	}
	av_packet_free(&pkt);
	avformat_close_input(&fmt);
	return n;
}

void pushRange(PacketRing &ring, std::vector<encoder_packet> &packets, size_t from, size_t to)
{
	for (size_t i = from; i < to && i < packets.size(); ++i)
		ring.push(&packets[i]);
}
} // namespace

// The file is handed on with what the ring holds at the press, then grows with the packets that
// come after it, up to the first picture captured at or after the press; it never waits longer.
TEST(MemoryTail, RunsUpToThePictureOfThePressAndNeverWaitsForOneThatDoesNotCome)
{
	Encoded enc;
	encode(enc, 60);
	const size_t half = enc.packets.size() / 2;
	const int64_t frameUsec = 1000000 / 30;
	const int64_t lastSys = enc.lastVideoSys();
	QTemporaryDir dir;
	std::string why;
	struct Case {
		int64_t pressUsec, waitUsec;
		bool clearRing;
		int videoPackets;
	} cases[] = {{lastSys - 10 * frameUsec - 5, 3000000, false, 50}, // the press's picture comes
		     {lastSys + 1000000, 300000, false, 60},             // it never does: the wait is capped
		     {lastSys + 1000000, 30000000, true, 30}};           // the buffer stopped: nothing more comes
	for (const Case &c : cases) {
		PacketRing ring;
		pushRange(ring, enc.packets, 0, half);
		const QString path = dir.filePath(QStringLiteral("tail-%1.mkv").arg(&c - cases));
		const int fd = PrivateFiles::createFile(path, why);
		ASSERT_GE(fd, 0) << why;
		int readyVideo = -1;
		std::thread encoder([&] {
			QThread::msleep(100);
			if (c.clearRing)
				ring.clear();
			else
				pushRange(ring, enc.packets, half, enc.packets.size());
		});
		QElapsedTimer clock;
		clock.start();
		const ReplayTail tail =
		    writeReplayUpToPress(fd, enc.header, ring.snapshot(60 * 1000000LL), ring, c.pressUsec, c.waitUsec,
					 [&] { readyVideo = videoPacketsIn(path); });
		encoder.join();
		EXPECT_TRUE(tail.ok) << tail.error;
		EXPECT_EQ(readyVideo, 30) << "handed on before the tail came";
		EXPECT_EQ(videoPacketsIn(path), c.videoPackets);
		EXPECT_EQ(tail.reachedPress, c.videoPackets == 50);
		EXPECT_LT(clock.elapsed(), c.clearRing ? 2000 : c.waitUsec / 1000 + 500);
		if (c.videoPackets == 50)
			EXPECT_GE(tail.lastSysUsec, c.pressUsec);
	}
}

// Another account may own the temporary folder, or plant links under the next names: no file is
// then written through them, and a press still gets a file of its own where that is safe.
TEST(MemoryFiles, NeverWrittenThroughALinkOrInAFolderOfAnotherAccount)
{
	QTemporaryDir runtime;
	const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
	qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
	const QString folder = runtime.filePath(QStringLiteral("lumark-button"));
	ASSERT_TRUE(QDir().mkpath(folder));
	const QString victim = runtime.filePath(QStringLiteral("victim"));
	ASSERT_TRUE(writeFileBytes(victim, QByteArray("mine")));
	const QString pid = QString::number(QCoreApplication::applicationPid());
	for (const char *n : {"1", "2"})
		ASSERT_TRUE(QFile::link(victim, folder + "/replay-" + pid + "-" + n + ".mkv"));
	ASSERT_TRUE(QFile::link(victim, folder + "/replay-999999999-1.mkv")); // of a process long gone

	Encoded enc;
	encode(enc, 60);
	MemoryReplay memory;
	memory.startWithout(enc.header);
	pushRange(memory.ring(), enc.packets, 0, enc.packets.size());
	QSignalSpy complete(&memory, &MemoryReplay::fileComplete);
	std::string why;
	ASSERT_NE(memory.request(3, enc.lastVideoSys() * 1000, why), 0) << why;
	ASSERT_TRUE(complete.wait(5000));
	const QString made = complete.first().at(0).toString();
	EXPECT_EQ(QFileInfo(made).fileName(), "replay-" + pid + "-3.mkv");
	EXPECT_EQ(videoPacketsIn(made), 60);
	MemoryReplay::cleanFolder();
	EXPECT_EQ(readFileBytes(victim), QByteArray("mine"));

	// A folder of another account, or one that others may write into, is not used at all.
	for (int mode : {0, 0777}) {
		ASSERT_EQ(mode ? chmod(QFile::encodeName(folder).constData(), mode)
			       : chown(QFile::encodeName(folder).constData(), 4242, 4242),
			  0);
		why.clear();
		EXPECT_EQ(memory.request(3, enc.lastVideoSys() * 1000, why), 0);
		EXPECT_NE(why.find("private folder"), std::string::npos) << why;
		ASSERT_EQ(chown(QFile::encodeName(folder).constData(), geteuid(), getegid()), 0);
	}
	memory.stop();
	qputenv("XDG_RUNTIME_DIR", savedRuntime);
}
