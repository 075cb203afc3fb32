// Clip duration probe: containers built byte by byte, and real clips checked against ffprobe.
#include "playback/ClipProbe.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <string>

namespace {

using Bytes = std::string;

Bytes be(uint64_t v, int n)
{
	Bytes out;
	for (int i = n - 1; i >= 0; --i)
		out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
	return out;
}

Bytes box(const char *type, const Bytes &content)
{
	return be(8 + content.size(), 4) + type + content;
}

Bytes box64(const char *type, const Bytes &content)
{
	return be(1, 4) + type + be(16 + content.size(), 8) + content;
}

Bytes mvhd0(uint32_t scale, uint32_t duration)
{
	return box("mvhd", be(0, 4) + be(0, 4) + be(0, 4) + be(scale, 4) + be(duration, 4) + Bytes(80, '\0'));
}

Bytes mvhd1(uint32_t scale, uint64_t duration)
{
	return box("mvhd", be(0x01000000, 4) + be(0, 8) + be(0, 8) + be(scale, 4) + be(duration, 8));
}

ProbeResult iso(const Bytes &b, const char *ext = ".mp4")
{
	return probeClipBytes(reinterpret_cast<const unsigned char *>(b.data()), b.size(), ext);
}

// EBML: id as written, size as a vint of the given length.
Bytes sizeVint(uint64_t size, int length = 8)
{
	uint64_t marked = size | (1ull << (7 * length));
	return be(marked, length);
}

Bytes el(uint64_t id, int idLen, const Bytes &data, int sizeLen = 8)
{
	return be(id, idLen) + sizeVint(data.size(), sizeLen) + data;
}

Bytes ebmlHeader()
{
	return el(0x1A45DFA3, 4, el(0x4282, 2, "matroska", 1));
}

Bytes durationF64(double d)
{
	uint64_t bits;
	std::memcpy(&bits, &d, 8);
	return el(0x4489, 2, be(bits, 8), 1);
}

Bytes durationF32(float d)
{
	uint32_t bits;
	std::memcpy(&bits, &d, 4);
	return el(0x4489, 2, be(bits, 4), 1);
}

Bytes mkvWithInfo(const Bytes &infoChildren)
{
	return ebmlHeader() + el(0x18538067, 4, el(0x114D9B74, 4, Bytes(10, '\0')) + el(0x1549A966, 4, infoChildren));
}

ProbeResult mkv(const Bytes &b)
{
	return probeClipBytes(reinterpret_cast<const unsigned char *>(b.data()), b.size(), ".mkv");
}

} // namespace

TEST(ProbeExtension, FollowsPathRules)
{
	EXPECT_EQ(clipExtension("C:\\clips\\Replay.MKV"), ".mkv");
	EXPECT_EQ(clipExtension("/a.b/c"), "");
	EXPECT_EQ(clipExtension("/x/.mkv"), "");
	EXPECT_EQ(clipExtension("/x/..mkv"), ".mkv");
	EXPECT_EQ(clipExtension(".."), "");
	EXPECT_EQ(clipExtension("/x/clip.mp4:stream"), ".mp4");
	EXPECT_EQ(clipExtension("clip.tar.MoV"), ".mov");
}

TEST(ProbeIso, ReadsMvhdVersionsAndRounds)
{
	EXPECT_EQ(iso(box("ftyp", "isom") + box("moov", mvhd0(1000, 12345))).ms, 12345);
	ProbeResult r = iso(box("moov", mvhd0(90000, 135000)), ".MOV");
	EXPECT_TRUE(r.valid);
	EXPECT_EQ(r.ms, 1500);
	// 1/3 s at a time scale of 3 rounds to 333; 2/3 to 667.
	EXPECT_EQ(iso(box("moov", mvhd0(3, 1))).ms, 333);
	EXPECT_EQ(iso(box("moov", mvhd0(3, 2))).ms, 667);
	EXPECT_EQ(iso(box("moov", mvhd1(1000, 5000000000ull))).ms, 5000000000ll);
	// Below half a millisecond is no duration.
	EXPECT_FALSE(iso(box("moov", mvhd0(1000000, 400))).valid);
	EXPECT_TRUE(iso(box("moov", mvhd0(1000000, 500))).valid);
}

TEST(ProbeIso, RefusesBadMvhd)
{
	EXPECT_FALSE(iso(box("moov", mvhd0(1000, 0xFFFFFFFFu))).valid);
	EXPECT_FALSE(iso(box("moov", mvhd1(1000, ~0ull))).valid);
	EXPECT_FALSE(iso(box("moov", mvhd0(0, 1000))).valid);
	EXPECT_FALSE(iso(box("moov", mvhd0(1000, 0))).valid);
	Bytes v2 = mvhd0(1000, 1000);
	v2[8] = 2;
	EXPECT_FALSE(iso(box("moov", v2)).valid);
	// A version-1 box too short for its fields.
	EXPECT_FALSE(iso(box("moov", box("mvhd", be(0x01000000, 4) + Bytes(20, '\0')))).valid);
	EXPECT_FALSE(iso(box("moov", box("trak", ""))).valid);
	// Only the first moov counts.
	EXPECT_FALSE(iso(box("moov", box("udta", "")) + box("moov", mvhd0(1000, 1000))).valid);
	EXPECT_FALSE(iso(box("free", "") + box("moov", mvhd0(1000, 1000)), ".mp3").valid);
}

TEST(ProbeIso, BoxSizes)
{
	// 64-bit sizes, a size-0 moov running to the end, a size-0 child.
	EXPECT_EQ(iso(box64("ftyp", "isom") + box64("moov", mvhd1(600, 1200))).ms, 2000);
	EXPECT_EQ(iso(box("ftyp", "isom") + be(0, 4) + "moov" + mvhd0(1000, 777)).ms, 777);
	EXPECT_EQ(iso(box("moov", be(0, 4) + "mvhd" + mvhd0(1000, 5).substr(8))).ms, 5);
	// A box claiming more than its parent holds, or less than its own header.
	EXPECT_FALSE(iso(be(4000, 4) + "free" + box("moov", mvhd0(1000, 1000))).valid);
	EXPECT_FALSE(iso(be(7, 4) + "free" + box("moov", mvhd0(1000, 1000))).valid);
	EXPECT_FALSE(iso(be(1, 4) + "free" + be(8, 8) + box("moov", mvhd0(1000, 1000))).valid);
	EXPECT_FALSE(iso(box("moov", mvhd0(1000, 1000)).substr(0, 30)).valid);
	EXPECT_FALSE(iso("").valid);
}

TEST(ProbeIso, HeaderBudget)
{
	Bytes boxes;
	for (int i = 0; i < 65534; ++i)
		boxes += box("free", "");
	// moov and mvhd are headers 65535 and 65536: still within the budget.
	EXPECT_EQ(iso(boxes + box("moov", mvhd0(1000, 1000))).ms, 1000);
	EXPECT_FALSE(iso(boxes + box("free", "") + box("moov", mvhd0(1000, 1000))).valid);
}

TEST(ProbeIso, SkipsLargeMdatWithoutReadingIt)
{
	// A 6 GiB sparse file: moov behind a media-data box far larger than the byte budget.
	QTemporaryDir dir;
	const QString path = dir.filePath("big.mp4");
	QFile f(path);
	ASSERT_TRUE(f.open(QIODevice::WriteOnly));
	const uint64_t mdatSize = 6ull << 30;
	Bytes head = box("ftyp", "isom") + be(1, 4) + "mdat" + be(mdatSize, 8);
	f.write(head.data(), head.size());
	ASSERT_TRUE(f.seek(box("ftyp", "isom").size() + mdatSize));
	Bytes moov = box("moov", mvhd0(1000, 4321));
	f.write(moov.data(), moov.size());
	f.close();
	ProbeResult r = probeClipDuration(path.toStdString());
	EXPECT_TRUE(r.valid);
	EXPECT_EQ(r.ms, 4321);
	// The same file cut short: the mdat now claims more than the file holds.
	ASSERT_TRUE(QFile::resize(path, mdatSize));
	EXPECT_FALSE(probeClipDuration(path.toStdString()).valid);
	EXPECT_FALSE(probeClipDuration(dir.filePath("missing.mp4").toStdString()).valid);
}

TEST(ProbeMatroska, InfoDurations)
{
	EXPECT_EQ(mkv(mkvWithInfo(durationF64(2500.4))).ms, 2500);
	EXPECT_EQ(mkv(mkvWithInfo(durationF32(1234.5f))).ms, 1235);
	// TimecodeScale of 1 µs, one byte of scale, before or after the duration.
	EXPECT_EQ(mkv(mkvWithInfo(el(0x2AD7B1, 3, be(1000, 3), 1) + durationF64(3000000))).ms, 3000);
	EXPECT_EQ(mkv(mkvWithInfo(durationF64(3) + el(0x2AD7B1, 3, be(1000000000, 4), 1))).ms, 3000);
	// A tiny scale leaves less than half a millisecond.
	EXPECT_FALSE(mkv(mkvWithInfo(durationF64(3000) + el(0x2AD7B1, 3, be(100, 1), 1))).valid);
}

TEST(ProbeMatroska, Refusals)
{
	EXPECT_FALSE(mkv(mkvWithInfo(el(0x4489, 2, be(0, 2), 1))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(el(0x2AD7B1, 3, be(0, 4), 1) + durationF64(1000))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(el(0x2AD7B1, 3, "", 1) + durationF64(1000))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(el(0x7BA9, 2, "title", 1))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(durationF64(NAN))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(durationF64(-5))).valid);
	EXPECT_FALSE(mkv(mkvWithInfo(durationF64(1e30))).valid);
	// Not starting with the EBML header.
	EXPECT_FALSE(mkv(el(0x18538067, 4, el(0x1549A966, 4, durationF64(1000)))).valid);
	// Segment of unknown size (all value bits set).
	Bytes unknown =
	    ebmlHeader() + be(0x18538067, 4) + be(0x01FFFFFFFFFFFFFFull, 8) + el(0x1549A966, 4, durationF64(1000));
	EXPECT_FALSE(mkv(unknown).valid);
	// An element id longer than four bytes.
	EXPECT_FALSE(mkv(ebmlHeader() + be(0x0818538067ull, 5) + sizeVint(0)).valid);
	// Segment without Info, and an Info child overrunning its parent.
	EXPECT_FALSE(mkv(ebmlHeader() + el(0x18538067, 4, el(0x114D9B74, 4, ""))).valid);
	Bytes overrun = ebmlHeader() + el(0x18538067, 4, el(0x1549A966, 4, be(0x4489, 2) + sizeVint(8, 1)));
	EXPECT_FALSE(mkv(overrun).valid);
}

TEST(ProbeMatroska, SkipsOtherTopLevelElementsAndDefaultsScale)
{
	Bytes b = ebmlHeader() + el(0xEC, 1, Bytes(300, '\0')) + el(0x18538067, 4, el(0x1549A966, 4, durationF64(42)));
	ProbeResult r = mkv(b);
	EXPECT_TRUE(r.valid);
	EXPECT_EQ(r.ms, 42);
}

// Real clips made by ffmpeg, compared with what ffprobe reports.
TEST(ProbeFfmpeg, MatchesFfprobe)
{
	const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
	const QString ffprobe = QStandardPaths::findExecutable("ffprobe");
	if (ffmpeg.isEmpty() || ffprobe.isEmpty())
		GTEST_SKIP() << "ffmpeg/ffprobe not installed";
	QTemporaryDir dir;
	struct Case {
		const char *name;
		const char *duration;
	} cases[] = {{"a.mp4", "1.52"}, {"b.mov", "2.2"}, {"c.mkv", "1.36"}, {"D.MKV", "3.04"}};
	for (const Case &c : cases) {
		const QString out = dir.filePath(c.name);
		QProcess make;
		make.start(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i",
				    QString("testsrc=size=64x48:rate=25:duration=%1").arg(c.duration), "-f", "lavfi",
				    "-i", QString("sine=frequency=440:duration=%1").arg(c.duration), "-c:v", "mpeg4",
				    "-c:a", "aac", "-shortest", out});
		ASSERT_TRUE(make.waitForFinished(60000));
		ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();

		QProcess probe;
		probe.start(ffprobe, {"-v", "error", "-show_entries", "format=duration", "-of",
				      "default=noprint_wrappers=1:nokey=1", out});
		ASSERT_TRUE(probe.waitForFinished(30000));
		const double seconds = QString::fromUtf8(probe.readAllStandardOutput()).trimmed().toDouble();
		ASSERT_GT(seconds, 0.5) << c.name;

		ProbeResult r = probeClipDuration(out.toStdString());
		ASSERT_TRUE(r.valid) << c.name;
		EXPECT_LE(std::llabs(r.ms - std::llround(seconds * 1000.0)), 1) << c.name << " ffprobe " << seconds;
	}
}
