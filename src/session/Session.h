#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Codes are stored in session files as numbers; a value read from an edited file may lie outside
// the named ones and is kept as it is.
enum class EntryKind : int32_t { Start = 0, Scene = 1, Press = 2, External = 3, Save = 4, Song = 5, Topic = 6 };

enum class ClipState : int32_t { None = 0, Waiting = 1, Saved = 2, Failed = 3, NoBuffer = 4 };

enum class SessionSource : int32_t { Stream = 0, Recording = 1, Free = 2 };

// "stream", "recording" or "free"; empty for a code outside those.
const char *sessionSourceText(SessionSource source);

// The replay clip of one mark. Offsets count from the session's start; wall times are epoch ms.
struct Clip {
	ClipState state = ClipState::None;
	std::string path; // empty when the file belongs to another entry (shared_with)
	int64_t start_ms = 0;
	int64_t end_ms = 0;
	int64_t saved_wall_ms = 0;
	int64_t shared_with = 0; // id of the entry in the same session that owns the file, or 0
	bool want_replay = false;
};

struct Entry;
// True when this entry's clip is a saved file of its own (not shared, path known): the entry whose
// file is renamed, probed and played.
bool ownsSavedClip(const Entry &entry);

struct Entry {
	int64_t id = 0; // set by Session::addEntry
	EntryKind kind = EntryKind::Press;
	int64_t t_ms = 0;
	int64_t wall_ms = 0;
	std::string label;
	bool chapter = true;
	int32_t number = 0; // press number, 0 for other kinds
	Clip clip;
};

// One stream, recording or free session. Field names are the keys of the session file.
struct Session {
	std::string id;
	std::string prefix;
	SessionSource source = SessionSource::Stream;
	int64_t start_wall_ms = 0;
	int64_t end_wall_ms = 0; // 0 while running
	int64_t length_ms = 0;
	int64_t shift_ms = 0; // session offset that is 0:00 of the archived video
	std::string archive_url;
	std::string export_dir;
	int64_t next_id = 1;
	int32_t next_number = 1;
	std::vector<Entry> entries; // ascending t_ms, equal times in insertion order
	// Set in a copy of another session's file: that session's id. Its clips are the original's.
	std::string copy_of;

	bool isEnded() const { return end_wall_ms != 0; }

	// Gives the entry the next id (and a press without a number the next number) and inserts it
	// after every entry at the same or an earlier time. The reference is valid until the next
	// change of entries.
	Entry &addEntry(Entry entry);

	Entry *findEntry(int64_t id);
	const Entry *findEntry(int64_t id) const;

	// Ids and numbers are never given back.
	bool removeEntry(int64_t id);

	// The entry whose clip file this entry uses: the shared_with entry (null when it was removed),
	// otherwise the entry itself.
	Entry *clipOwner(const Entry &entry);
	const Entry *clipOwner(const Entry &entry) const;

	// The entry whose saved file this entry's clip is: its clip owner when that owns a saved clip
	// (ownsSavedClip), otherwise null. Only such a file is played, probed and followed by renames.
	Entry *savedClipOwner(const Entry &entry);
	const Entry *savedClipOwner(const Entry &entry) const;
};
