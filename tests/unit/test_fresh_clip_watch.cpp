// The watch of fresh replay files alone: when a save could take a name, and what it hands back.

#include "engine/FreshClipWatch.h"

#include "test_engine_fixture.h"

#include <gtest/gtest.h>

namespace {

FreshClip clip(const QString &obsPath, const QString &path)
{
	FreshClip fresh;
	fresh.obsPath = obsPath;
	fresh.path = path;
	return fresh;
}

TEST(FreshClipWatch, ASaveBlocksOnlyWhileAFileUnderOBSNameCouldBeTakenAndTheTickSlowsWhenAllAreAside)
{
	QString next = QStringLiteral("/r/Replay 20-00-01.mkv");
	FreshClipWatch watch;
	watch.setSaveNamer([&next] { return next; });
	EXPECT_TRUE(watch.nameClash(QStringLiteral("/r/./Replay 20-00-01.mkv")));
	EXPECT_FALSE(watch.nameClash(QStringLiteral("/r/Replay 20-00-00.mkv")));

	watch.watch(clip(QStringLiteral("/r/Replay 20-00-00.mkv"), QStringLiteral("/r/Replay 20-00-00 (1).mkv")));
	watch.watch(clip(QStringLiteral("/r/Replay 20-00-01.mkv"), QStringLiteral("/r/Replay 20-00-01.mkv")));
	EXPECT_TRUE(watch.blocksSave());
	next = QStringLiteral("/r/Replay 20-00-02.mkv");
	EXPECT_FALSE(watch.blocksSave());
	next.clear(); // a save is being written: its name is unknown
	EXPECT_TRUE(watch.blocksSave());

	const std::vector<FreshClip> taken = watch.take([](const FreshClip &f) { return f.path == f.obsPath; });
	ASSERT_EQ(taken.size(), 1u);
	EXPECT_EQ(taken[0].obsPath, QStringLiteral("/r/Replay 20-00-01.mkv"));
	EXPECT_FALSE(watch.blocksSave()) << "the one left is aside";
	watch.retime();
	EXPECT_EQ(EngineTest::tickTimer(watch).interval(), 100);
}

} // namespace
