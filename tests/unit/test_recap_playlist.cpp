// Which session and which clips the recap plays, in what order, apart from the player.
#include "test_recap_sessions.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

QString clipFile(const QTemporaryDir &dir, const char *name)
{
	const QString path = dir.filePath(QString::fromUtf8(name));
	writeFileBytes(path, QByteArray("clip"));
	return path;
}

Entry &addMark(Session &s, EntryKind kind, long long t, const QString &path, ClipState state = ClipState::Saved)
{
	Entry &e = addPress(s, t, "memo", path);
	e.kind = kind;
	e.clip.state = state;
	return e;
}

std::vector<long long> entryIds(const RecapPlaylist &playlist)
{
	std::vector<long long> ids;
	for (const RecapItem &item : playlist.items)
		ids.push_back(item.entryId);
	return ids;
}

} // namespace

TEST(RecapPlaylist, PassesOverSessionsWithoutPlayableClips)
{
	QTemporaryDir dir;
	const QString a = clipFile(dir, "a.mp4"), b = clipFile(dir, "b.mp4");
	FakeSessions sessions;
	Session &older = sessions.add("1 older stream", SessionSource::Stream, 1000);
	const long long save = addMark(older, EntryKind::Save, 20, a).id;
	const long long press = addMark(older, EntryKind::Press, 10, b).id;
	// Newer, but nothing to play: a scene mark, a failed clip, a file gone, an unsaved owner.
	Session &newer = sessions.add("2 newer stream", SessionSource::Stream, 2000);
	addMark(newer, EntryKind::Scene, 5, a);
	addMark(newer, EntryKind::Press, 6, b, ClipState::Failed);
	addMark(newer, EntryKind::Press, 7, dir.filePath("gone.mp4"));
	const long long waiting = addMark(newer, EntryKind::Press, 8, a, ClipState::Waiting).id;
	addPress(newer, 9, "shares an unsaved clip", QString(), waiting);
	// A newer recording does not win over a finished stream.
	addMark(sessions.add("3 recording", SessionSource::Recording, 3000), EntryKind::Press, 1, a);

	const RecapPlaylist playlist = chooseRecapPlaylist(sessions);
	EXPECT_EQ(playlist.sessionId, "1 older stream");
	EXPECT_EQ(entryIds(playlist), (std::vector<long long>{press, save}));
}

TEST(RecapPlaylist, WithoutStreamsTakesTheNewestOtherSessionOrNothing)
{
	QTemporaryDir dir;
	const QString a = clipFile(dir, "a.mp4");
	FakeSessions sessions;
	EXPECT_TRUE(chooseRecapPlaylist(sessions).sessionId.empty());

	addMark(sessions.add("1 free", SessionSource::Free, 1000), EntryKind::Press, 1, a);
	addMark(sessions.add("2 recording", SessionSource::Recording, 2000), EntryKind::Press, 1, a);
	addMark(sessions.add("3 stream running", SessionSource::Stream, 3000), EntryKind::Press, 1, a);
	sessions.running = "3 stream running";
	EXPECT_EQ(chooseRecapPlaylist(sessions).sessionId, "2 recording");

	sessions.sessions.clear();
	addMark(sessions.add("4 open stream", SessionSource::Stream, 4000, false), EntryKind::Press, 1, a);
	const RecapPlaylist none = chooseRecapPlaylist(sessions);
	EXPECT_TRUE(none.sessionId.empty());
	EXPECT_TRUE(none.items.empty());
}

TEST(RecapPlaylist, ItemFollowsItsEntryUntilTheClipIsGone)
{
	QTemporaryDir dir;
	const QString a = clipFile(dir, "a.mp4"), b = clipFile(dir, "b.mp4");
	FakeSessions sessions;
	Session &s = sessions.add("1 stream", SessionSource::Stream, 1000);
	const long long ownerId = addPress(s, 10, "#01", a).id;
	const long long sharerId = addPress(s, 20, "#02", QString(), ownerId).id;
	Entry &owner = *s.findEntry(ownerId);
	Entry &sharer = *s.findEntry(sharerId);

	RecapItem item{sharerId, {}, {}, 0};
	ASSERT_TRUE(refreshRecapItem(sessions, &s, item));
	EXPECT_EQ(item.path, a);
	EXPECT_EQ(item.memo, "");

	// A renamed file and a memo written later are picked up.
	owner.clip.path = b.toStdString();
	sharer.label = "late memo";
	ASSERT_TRUE(refreshRecapItem(sessions, &s, item));
	EXPECT_EQ(item.path, b);
	EXPECT_EQ(item.memo, "late memo");

	owner.clip.state = ClipState::Failed;
	EXPECT_FALSE(refreshRecapItem(sessions, &s, item));
	EXPECT_FALSE(refreshRecapItem(sessions, nullptr, item));
	item.entryId = 999;
	owner.clip.state = ClipState::Saved;
	EXPECT_FALSE(refreshRecapItem(sessions, &s, item));
}
