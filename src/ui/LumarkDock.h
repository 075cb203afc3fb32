#pragma once

#include <QPoint>
#include <QString>
#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <utility>

class Engine;
class DockContent;
class QBrush;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
class QVBoxLayout;
struct Entry;
struct Session;

// The plug-in's dock panel: the press buttons, the memo, the status lines and the session editor.
// Everything it shows is read from the Engine; every action is one Engine call.
class LumarkDock : public QWidget {
	Q_OBJECT

public:
	// openSettings opens the settings dialog; the module root owns it.
	LumarkDock(Engine &engine, std::function<void()> openSettings, QWidget *parent = nullptr);
	~LumarkDock() override;

	QSize sizeHint() const override;

	// The one pass after the frontend has finished loading.
	void layoutOnce() { logWidths(); }

	void refreshStatus();
	void refreshMemoTarget();
	void commitMemo();
	void logWidths();

	void rebuildSessionCombo();
	void rebuildTable();
	// Rebuilds at once after a quiet spell, otherwise at most every kTableRebuildGapMs, so a
	// burst of presses on a long session cannot swamp the UI thread.
	void scheduleTableRebuild();
	int64_t selectedEntryId() const;

	// Shown form of a session id: "2024-05-01 21:07" (or with seconds) for the ids the Engine makes.
	static QString sessionDisplayName(const QString &id, bool withSeconds);
	// Text and tool tip of the clip column.
	static std::pair<QString, QString> clipCellText(const Entry &entry, const Session &session, Engine &engine);

protected:
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	friend struct LumarkDockTestAccess;

	void buildLayout();
	// One builder per group of the dock, top to bottom.
	void addPressControls(QVBoxLayout *layout);
	void addStatusLines(QVBoxLayout *layout);
	void addSessionRow(QVBoxLayout *layout);
	void addEntryTable(QVBoxLayout *layout);
	void addEditControls(QVBoxLayout *layout);
	void addActionButtons(QVBoxLayout *layout);
	void connectActions();
	void confirmRemoveSession();
	// The rows of the session, or none; returns the row of the entry keepId, -1 when it is gone.
	int fillTableRows(const Session *session, int64_t keepId);
	void setTableRow(int row, const Entry &entry, const Session &session, const QBrush &grey);
	// The combo shows the session the table shows.
	void followViewedSessionInCombo();
	void refreshEditControls();
	void refreshChapterCheck();
	void onItemChanged(QTableWidgetItem *item);
	void showEntryMenu(const QPoint &point);
	void applyShiftText();
	void onSessionActivated(int index);
	// A message of the dock's own; it stays until the Engine's message changes.
	void showMessage(const QString &text);
	void setMessageText(const QString &text);
	QString engineMessageText();
	void copyChapters();
	void copyClipNotes();
	void openExportFolder();

	Engine &engine;
	std::function<void()> openSettings;
	DockContent *content = nullptr;

	QPushButton *pressButton = nullptr;
	QPushButton *markOnlyButton = nullptr;
	QPushButton *replayButton = nullptr;
	QPushButton *stopReplayButton = nullptr;
	QLabel *memoLabel = nullptr;
	QLineEdit *memoEdit = nullptr;
	QPushButton *freeSessionButton = nullptr;
	QLabel *statusLabel = nullptr;
	QLabel *bufferLabel = nullptr;
	QPushButton *startBufferButton = nullptr;
	QLabel *messageLabel = nullptr;
	QLabel *recapLabel = nullptr;
	QComboBox *sessionCombo = nullptr;
	QPushButton *removeSessionButton = nullptr;
	QTableWidget *entryTable = nullptr;
	QLineEdit *shiftEdit = nullptr;
	QPushButton *shiftToSelectedButton = nullptr;
	QLineEdit *urlEdit = nullptr;
	QLabel *checkLabel = nullptr;
	QPushButton *dropShortButton = nullptr;
	QPushButton *copyButton = nullptr;
	QPushButton *copyClipsButton = nullptr;
	QPushButton *exportButton = nullptr;
	QPushButton *folderButton = nullptr;
	QPushButton *highlightsButton = nullptr;
	QPushButton *settingsButton = nullptr;
	QTimer *statusTimer = nullptr;
	QTimer *tableRetryTimer = nullptr;
	static constexpr int kTableRebuildGapMs = 250;
	QTimer *tableThrottleTimer = nullptr;
	QElapsedTimer lastTableRebuild;

	QString memoTargetSession;
	QString tableSessionId; // the session whose entries the table shows
	// The sessions whose shift and address the fields show, kept while the user edits them.
	QString shiftSessionId;
	QString urlSessionId;
	QString ownMessageOver; // the Engine's message when the dock showed its own
	bool ownMessageShown = false;
	int64_t memoTargetEntry = 0;
	bool memoDirty = false;
	bool memoUpdating = false;
	bool tableRebuilding = false;
	bool widthsLogged = false;
};
