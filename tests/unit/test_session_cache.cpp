// The session cache alone: what it may unload, and how a failed write is told and forgotten.

#include "TestSupport.h"
#include "engine/SessionCache.h"

#include "test_engine_fixture.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

TEST(SessionCache, UnloadsOnlySavedSessionsAndForgettingEndsTheProblem)
{
	TempConfigDir config;
	long long wall = 0;
	SessionCache cache([&wall] { return wall; });
	const QString ids[] = {"2026-05-01_20-00-01", "2026-05-01_20-00-02", "2026-05-01_20-00-03"};
	for (const QString &id : ids) {
		auto session = std::make_unique<Session>();
		session->id = id.toStdString();
		session->prefix = session->id;
		cache.add(id, std::move(session));
	}
	const std::set<QString> all(std::begin(ids), std::end(ids));
	cache.store(*cache.loaded(ids[1])); // on its way to the disk until taken in
	cache.markDirty(ids[2]);
	cache.unload(all, {});
	EXPECT_EQ(cache.loadedIds(), (QStringList{ids[1], ids[2]}));
	cache.flush();
	cache.waitForWrites();
	cache.unload(all, {ids[2]});
	EXPECT_EQ(cache.loadedIds(), QStringList{ids[2]});

	// A folder where the temporary file goes makes the write fail.
	ASSERT_TRUE(QDir().mkpath(config.path() + "/sessions/" + ids[2] + ".json.tmp"));
	cache.store(*cache.loaded(ids[2]));
	cache.waitForWrites();
	EXPECT_FALSE(cache.problem().isEmpty());
	EXPECT_EQ(EngineTest::retryTimer(cache).interval(), 2000);
	cache.unload(all, {});
	EXPECT_EQ(cache.loadedIds(), QStringList{ids[2]}) << "an unsaved session stays";
	cache.forget(ids[2]);
	EXPECT_TRUE(cache.problem().isEmpty());
	EXPECT_FALSE(EngineTest::retryTimer(cache).isActive());
	EXPECT_TRUE(cache.loadedIds().isEmpty());
}

} // namespace
