#pragma once

// What sessions leave beside the videos: each session's lists, the quotes file of them all, and the
// highlights video, planned and copied on a worker thread one at a time.

#include "engine/EngineEvents.h"
#include "engine/SessionCache.h"
#include "lists/TextFormat.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

class SessionExports : public QObject {
	Q_OBJECT

public:
	// The Engine's look-ups: a stored session is loaded on demand.
	struct Lookup {
		std::function<Session *(const QString &id)> find;
		std::function<Session *()> viewed;
		std::function<QStringList()> sessionIds; // stored ones and those still unwritten
	};

	SessionExports(SessionCache &cache, Lookup lookup);

	const ExportTexts &texts() const { return listTexts; }

	// Lists of the viewed session; status "Msg.Exported" or "Msg.ExportFailed".
	QStringList exportLists();
	// The quotes file of every known session; its path, or empty.
	QString exportQuotes();
	// The session's lists, then the quotes file; a new export folder is saved with the session.
	QStringList writeSessionLists(Session &session);
	// An edited session that has lists gets them again after a delay.
	void sessionEdited(const Session &session);
	// Writes the changed lists now.
	void flush();
	// Its files are deleted: its video is cancelled and its lists are not written again.
	void forgetSession(const QString &id);
	const std::set<QString> &dirtyIds() const { return dirtyExports; }

	// Starts the highlights video of the viewed session; false, with a status message, when one is
	// being written or the session has no saved clip.
	bool exportHighlights();
	bool highlightsRunning() const { return highlights != nullptr; }
	// A session that ended: its video starts once its clips have their final names.
	void highlightsAfterRenames(const QString &sessionId, bool renamesRunning);
	void startPendingHighlights();
	// At shutdown: the running video is cancelled and none starts again.
	void closeHighlights();
	// True while the running video reads the file.
	bool highlightsHold(const QString &path) const;
signals:
	void status(const QString &text);
	void notify(const EngineEvent &event);

private:
	friend class EngineTest;

	struct HighlightsJob;
	// Returns once the running highlights video has ended.
	void waitForHighlights();
	// Cancels the session's video (any video for an empty id) and waits for it: no partial file stays.
	void cancelHighlights(const QString &sessionId);
	bool startHighlights(Session &session, bool byHand);
	void onHighlightsDone(uint64_t seq);

	SessionCache &cache;
	Lookup lookup;
	ExportTexts listTexts;
	std::set<QString> dirtyExports;
	QTimer exportDelay;
	// The highlights video being written: cancelled by shutdown and by its session's removal.
	std::shared_ptr<HighlightsJob> highlights;
	bool highlightsClosed = false;
	QString highlightsPending;
};
