#include "session/Session.h"

#include <algorithm>

const char *sessionSourceText(SessionSource source)
{
	switch (source) {
	case SessionSource::Stream:
		return "stream";
	case SessionSource::Recording:
		return "recording";
	case SessionSource::Free:
		return "free";
	}
	return "";
}

Entry &Session::addEntry(Entry entry)
{
	entry.id = next_id++;
	if (entry.kind == EntryKind::Press && entry.number == 0)
		entry.number = next_number++;
	auto pos = std::upper_bound(entries.begin(), entries.end(), entry.t_ms,
				    [](int64_t t, const Entry &e) { return t < e.t_ms; });
	return *entries.insert(pos, std::move(entry));
}

Entry *Session::findEntry(int64_t entryId)
{
	for (Entry &e : entries)
		if (e.id == entryId)
			return &e;
	return nullptr;
}

const Entry *Session::findEntry(int64_t entryId) const
{
	return const_cast<Session *>(this)->findEntry(entryId);
}

bool Session::removeEntry(int64_t entryId)
{
	for (auto it = entries.begin(); it != entries.end(); ++it) {
		if (it->id == entryId) {
			entries.erase(it);
			return true;
		}
	}
	return false;
}

Entry *Session::clipOwner(const Entry &entry)
{
	if (entry.clip.shared_with != 0)
		return findEntry(entry.clip.shared_with);
	return const_cast<Entry *>(&entry);
}

const Entry *Session::clipOwner(const Entry &entry) const
{
	return const_cast<Session *>(this)->clipOwner(entry);
}

Entry *Session::savedClipOwner(const Entry &entry)
{
	Entry *owner = clipOwner(entry);
	return owner && ownsSavedClip(*owner) ? owner : nullptr;
}

const Entry *Session::savedClipOwner(const Entry &entry) const
{
	return const_cast<Session *>(this)->savedClipOwner(entry);
}

bool ownsSavedClip(const Entry &entry)
{
	return entry.clip.state == ClipState::Saved && entry.clip.shared_with == 0 && !entry.clip.path.empty();
}
