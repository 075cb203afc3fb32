#pragma once

// Sessions handed to the recap in tests, and marks with saved clips.
#include "playback/RecapPlaylist.h"
#include "session/Session.h"

#include <map>
#include <string>

class FakeSessions : public RecapSessions {
public:
	QStringList sessionIds() override
	{
		QStringList ids;
		for (auto &kv : sessions)
			ids.prepend(kv.first);
		return ids;
	}
	Session *findSession(const QString &id) override
	{
		auto it = sessions.find(id);
		return it == sessions.end() ? nullptr : &it->second;
	}
	QString runningSessionId() override { return running; }
	bool hasOwnLabel(const Entry &entry) override { return !entry.label.empty() && entry.label[0] != '#'; }
	void watch(QObject *, std::function<void()> c, std::function<void()> l) override
	{
		changed = std::move(c);
		listChanged = std::move(l);
	}

	Session &add(const char *id, SessionSource source, long long startWall, bool ended = true)
	{
		Session &s = sessions[QString::fromUtf8(id)];
		s.id = id;
		s.source = source;
		s.start_wall_ms = startWall;
		s.end_wall_ms = ended ? startWall + 1000 : 0;
		return s;
	}

	std::map<QString, Session> sessions;
	QString running;
	std::function<void()> changed, listChanged;
};

inline Entry &addPress(Session &s, long long t, const std::string &label, const QString &path, long long sharedWith = 0)
{
	Entry e;
	e.kind = EntryKind::Press;
	e.t_ms = t;
	e.label = label;
	e.clip.state = ClipState::Saved;
	e.clip.path = path.toStdString();
	e.clip.shared_with = sharedWith;
	return s.addEntry(e);
}
