// The rename queue alone: order, retries of held files, and a session's jobs leaving with it.

#include "engine/RenameQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(RenameQueue, TriesDueClipsInQueuedOrderAndRetriesHeldOnesSoonerAfterAReplay)
{
	long long wall = 1000;
	std::vector<long long> tried;
	bool held = true;
	RenameQueue queue([&wall] { return wall; },
			  [&](const EntryRef &ref) {
				  tried.push_back(ref.entryId);
				  return !(held && ref.entryId == 2);
			  });
	queue.schedule({"a", 2}, 100);
	queue.schedule({"b", 3}, 0);
	queue.schedule({"a", 1}, 50);
	queue.schedule({"a", 2}, 0); // keeps its place, takes the new time
	queue.tryDue();
	EXPECT_EQ(tried, (std::vector<long long>{2, 3}));
	ASSERT_EQ(queue.queued().size(), 2u);
	EXPECT_EQ(queue.queued()[0].attempts, 1);
	EXPECT_EQ(queue.queued()[0].dueMs, wall + 5000);

	wall += 60;
	held = false;
	queue.hurryRetries(wall + 300);
	wall += 300;
	tried.clear();
	queue.tryDue();
	EXPECT_EQ(tried, (std::vector<long long>{2, 1}));
	EXPECT_TRUE(queue.idle());

	queue.schedule({"a", 4}, 0);
	queue.schedule({"b", 5}, 0);
	queue.forgetSession("a");
	tried.clear();
	queue.tryDue();
	EXPECT_EQ(tried, std::vector<long long>{5});
	EXPECT_TRUE(queue.running()) << "the owner stops the timer";
}

} // namespace
