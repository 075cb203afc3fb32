#include "session/Session.h"

#include <gtest/gtest.h>

namespace {

Entry makeEntry(EntryKind kind, int64_t t, const char *label = "")
{
	Entry e;
	e.kind = kind;
	e.t_ms = t;
	e.label = label;
	return e;
}

std::vector<int64_t> ids(const Session &s)
{
	std::vector<int64_t> out;
	for (const Entry &e : s.entries)
		out.push_back(e.id);
	return out;
}

TEST(SessionModel, NewRecordsHaveDocumentedDefaults)
{
	Session s;
	EXPECT_EQ(s.next_id, 1);
	EXPECT_EQ(s.next_number, 1);
	EXPECT_EQ(s.source, SessionSource::Stream);
	EXPECT_FALSE(s.isEnded());
	Entry e;
	EXPECT_EQ(e.kind, EntryKind::Press);
	EXPECT_TRUE(e.chapter);
	EXPECT_EQ(e.clip.state, ClipState::None);
	s.end_wall_ms = 1;
	EXPECT_TRUE(s.isEnded());
	EXPECT_STREQ(sessionSourceText(SessionSource::Recording), "recording");
	EXPECT_STREQ(sessionSourceText(static_cast<SessionSource>(9)), "");
}

TEST(SessionModel, AddEntryNumbersPressesOnly)
{
	Session s;
	s.next_number = 3;
	Entry &press = s.addEntry(makeEntry(EntryKind::Press, 10));
	EXPECT_EQ(press.number, 3);
	EXPECT_EQ(press.id, 1);
	EXPECT_EQ(s.next_number, 4);
	Entry &scene = s.addEntry(makeEntry(EntryKind::Scene, 20));
	EXPECT_EQ(scene.number, 0);
	EXPECT_EQ(s.next_number, 4);
	Entry numbered = makeEntry(EntryKind::Press, 30);
	numbered.number = 17;
	EXPECT_EQ(s.addEntry(numbered).number, 17);
	EXPECT_EQ(s.next_number, 4);
	EXPECT_EQ(s.next_id, 4);
}

TEST(SessionModel, AddEntryKeepsTimeOrderAndInsertionOrderOfEqualTimes)
{
	Session s;
	s.addEntry(makeEntry(EntryKind::Scene, 500)); // id 1
	s.addEntry(makeEntry(EntryKind::Scene, 100)); // id 2
	s.addEntry(makeEntry(EntryKind::Scene, 500)); // id 3
	s.addEntry(makeEntry(EntryKind::Scene, 500)); // id 4, after both equal ones
	s.addEntry(makeEntry(EntryKind::Scene, 0));   // id 5
	EXPECT_EQ(ids(s), (std::vector<int64_t>{5, 2, 1, 3, 4}));
}

TEST(SessionModel, RemovedIdsAreNeverReused)
{
	Session s;
	s.addEntry(makeEntry(EntryKind::Press, 1));
	const int64_t last = s.addEntry(makeEntry(EntryKind::Press, 2)).id;
	EXPECT_TRUE(s.removeEntry(last));
	EXPECT_FALSE(s.removeEntry(last));
	EXPECT_EQ(s.findEntry(last), nullptr);
	Entry &again = s.addEntry(makeEntry(EntryKind::Press, 3));
	EXPECT_GT(again.id, last);
	EXPECT_EQ(again.number, 3);
}

TEST(SessionModel, ClipOwnerFollowsSharedWithAndVanishesWithTheOwner)
{
	Session s;
	const int64_t ownerId = s.addEntry(makeEntry(EntryKind::Press, 1)).id;
	Entry sharing = makeEntry(EntryKind::Press, 2);
	sharing.clip.state = ClipState::Saved;
	sharing.clip.shared_with = ownerId;
	const int64_t sharingId = s.addEntry(sharing).id;

	const Session &cs = s;
	const Entry *ownerOfSharing = cs.clipOwner(*cs.findEntry(sharingId));
	ASSERT_NE(ownerOfSharing, nullptr);
	EXPECT_EQ(ownerOfSharing->id, ownerId);
	EXPECT_EQ(cs.clipOwner(*cs.findEntry(ownerId)), cs.findEntry(ownerId));

	s.removeEntry(ownerId);
	EXPECT_EQ(s.clipOwner(*s.findEntry(sharingId)), nullptr);
}

} // namespace
