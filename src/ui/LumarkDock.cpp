#include "ui/LumarkDock.h"

#include "engine/Engine.h"
#include "lists/Lists.h"
#include "lists/TextFormat.h"
#include "playback/InstantReplay.h"
#include "playback/Recap.h"
#include "session/Session.h"
#include "ui/DockContent.h"
#include "ui/StatusTexts.h"
#include "ui/UiText.h"
#include "util/Utf8.h"

#include <obs-frontend-api.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kDockWidth = 320;
// The status line's clock counts whole seconds: two refreshes a second never skip one.
constexpr int kStatusIntervalMs = 500;
// A rebuild held back by an open cell editor tries again this soon: quick once the edit ends,
// without polling hard while it lasts.
constexpr int kTableRetryMs = 300;

// Narrow buttons in a shared row: let the row decide the width, keep a small padding.
void makeSqueezable(QPushButton *button)
{
	button->setMinimumWidth(0);
	button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	button->setStyleSheet(QStringLiteral("padding-left: 3px; padding-right: 3px;"));
}

QLabel *makeWrappingLabel(const QString &text, QWidget *parent)
{
	auto *label = new QLabel(text, parent);
	label->setWordWrap(true);
	return label;
}

// A refresh runs twice a second; a text is only set when it changed.
template <typename Widget> void setTextIfChanged(Widget *widget, const QString &text)
{
	if (widget->text() != text)
		widget->setText(text);
}

} // namespace

QSize DockContent::sizeHint() const
{
	QSize hint = QWidget::sizeHint();
	hint.setWidth(kDockWidth);
	return hint;
}

LumarkDock::LumarkDock(Engine &engine, std::function<void()> openSettings, QWidget *parent)
    : QWidget(parent), engine(engine), openSettings(std::move(openSettings))
{
	buildLayout();
	connectActions();

	connect(&engine, &Engine::sessionChanged, this, &LumarkDock::scheduleTableRebuild);
	connect(&engine, &Engine::sessionChanged, this, &LumarkDock::refreshMemoTarget);
	connect(&engine, &Engine::sessionListChanged, this, &LumarkDock::rebuildSessionCombo);
	connect(&engine, &Engine::sessionListChanged, this, &LumarkDock::refreshMemoTarget);
	connect(&engine, &Engine::statusChanged, this, &LumarkDock::refreshStatus);

	statusTimer = new QTimer(this);
	statusTimer->setInterval(kStatusIntervalMs);
	connect(statusTimer, &QTimer::timeout, this, &LumarkDock::refreshStatus);
	tableRetryTimer = new QTimer(this);
	tableRetryTimer->setSingleShot(true);
	tableRetryTimer->setInterval(kTableRetryMs);
	connect(tableRetryTimer, &QTimer::timeout, this, &LumarkDock::rebuildTable);
	tableThrottleTimer = new QTimer(this);
	tableThrottleTimer->setSingleShot(true);
	connect(tableThrottleTimer, &QTimer::timeout, this, &LumarkDock::rebuildTable);
	statusTimer->start();

	rebuildSessionCombo();
	rebuildTable();
	refreshStatus();
}

LumarkDock::~LumarkDock()
{
	statusTimer->stop();
	tableRetryTimer->stop();
	tableThrottleTimer->stop();
	memoEdit->removeEventFilter(this);
}

QSize LumarkDock::sizeHint() const
{
	QSize hint = QWidget::sizeHint();
	hint.setWidth(kDockWidth);
	return hint;
}

void LumarkDock::buildLayout()
{
	auto *outer = new QVBoxLayout(this);
	outer->setContentsMargins(0, 0, 0, 0);
	auto *scroll = new QScrollArea(this);
	scroll->setWidgetResizable(true);
	scroll->setFrameShape(QFrame::NoFrame);
	scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
	outer->addWidget(scroll);

	content = new DockContent;
	auto *layout = new QVBoxLayout(content);
	layout->setContentsMargins(6, 6, 6, 6);
	layout->setSpacing(6);

	addPressControls(layout);
	addStatusLines(layout);
	addSessionRow(layout);
	addEntryTable(layout);
	addEditControls(layout);
	addActionButtons(layout);

	// Long texts wrap instead of widening the dock.
	for (QLabel *label : {memoLabel, statusLabel, bufferLabel, messageLabel, recapLabel, checkLabel}) {
		QSizePolicy policy = label->sizePolicy();
		policy.setHorizontalPolicy(QSizePolicy::Ignored);
		label->setSizePolicy(policy);
	}

	scroll->setWidget(content);
}

void LumarkDock::addPressControls(QVBoxLayout *layout)
{
	pressButton = new QPushButton(uiText(UiText::Press), content);
	pressButton->setToolTip(uiText(UiText::PressTip));
	pressButton->setMinimumHeight(44);
	QFont pressFont = pressButton->font();
	if (pressFont.pointSizeF() > 0)
		pressFont.setPointSizeF(pressFont.pointSizeF() * 1.35);
	pressFont.setBold(true);
	pressButton->setFont(pressFont);
	layout->addWidget(pressButton);

	memoLabel = makeWrappingLabel(uiText(UiText::MemoNone), content);
	layout->addWidget(memoLabel);

	memoEdit = new QLineEdit(content);
	memoEdit->setPlaceholderText(uiText(UiText::MemoPlaceholder));
	memoEdit->setAccessibleName(uiText(UiText::Memo));
	memoEdit->setObjectName(QStringLiteral("lumarkMemo"));
	memoEdit->setMinimumWidth(0);
	memoEdit->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	memoEdit->installEventFilter(this);
	memoLabel->setBuddy(memoEdit);
	layout->addWidget(memoEdit);

	auto *pressRow = new QHBoxLayout;
	pressRow->setSpacing(4);
	markOnlyButton = new QPushButton(uiText(UiText::MarkOnly), content);
	markOnlyButton->setToolTip(uiText(UiText::MarkOnlyTip));
	replayButton = new QPushButton(uiText(UiText::Replay), content);
	replayButton->setToolTip(uiText(UiText::ReplayTip));
	stopReplayButton = new QPushButton(uiText(UiText::StopReplay), content);
	for (QPushButton *button : {markOnlyButton, replayButton, stopReplayButton}) {
		makeSqueezable(button);
		pressRow->addWidget(button, 1);
	}
	layout->addLayout(pressRow);
}

void LumarkDock::addStatusLines(QVBoxLayout *layout)
{
	freeSessionButton = new QPushButton(uiText(UiText::StartFreeSession), content);
	layout->addWidget(freeSessionButton);

	statusLabel = makeWrappingLabel(QString(), content);
	layout->addWidget(statusLabel);

	auto *bufferRow = new QHBoxLayout;
	bufferLabel = makeWrappingLabel(QString(), content);
	bufferRow->addWidget(bufferLabel, 1);
	startBufferButton = new QPushButton(uiText(UiText::StartBuffer), content);
	bufferRow->addWidget(startBufferButton);
	layout->addLayout(bufferRow);

	messageLabel = makeWrappingLabel(QString(), content);
	messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
	messageLabel->hide();
	layout->addWidget(messageLabel);

	recapLabel = makeWrappingLabel(QString(), content);
	recapLabel->setTextFormat(Qt::PlainText);
	recapLabel->setObjectName(QStringLiteral("lumarkRecapStatus"));
	recapLabel->hide();
	layout->addWidget(recapLabel);
}

void LumarkDock::addSessionRow(QVBoxLayout *layout)
{
	auto *sessionRow = new QHBoxLayout;
	sessionCombo = new QComboBox(content);
	sessionCombo->setAccessibleName(uiText(UiText::Sessions));
	sessionCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
	sessionCombo->setMinimumContentsLength(0);
	sessionCombo->setMinimumWidth(0);
	sessionCombo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	sessionRow->addWidget(sessionCombo, 1);
	removeSessionButton = new QPushButton(uiText(UiText::RemoveSession), content);
	removeSessionButton->setToolTip(uiText(UiText::RemoveSessionTip));
	removeSessionButton->setAccessibleName(uiText(UiText::RemoveSessionTitle));
	sessionRow->addWidget(removeSessionButton);
	layout->addLayout(sessionRow);
}

void LumarkDock::addEntryTable(QVBoxLayout *layout)
{
	entryTable = new QTableWidget(0, 5, content);
	entryTable->setHorizontalHeaderLabels({uiText(UiText::ColChapter), uiText(UiText::ColTime),
					       uiText(UiText::ColKind), uiText(UiText::ColLabel),
					       uiText(UiText::ColClip)});
	entryTable->horizontalHeaderItem(0)->setToolTip(uiText(UiText::ColChapterTip));
	entryTable->horizontalHeaderItem(1)->setToolTip(uiText(UiText::ColTimeTip));
	entryTable->verticalHeader()->hide();
	entryTable->setSelectionBehavior(QAbstractItemView::SelectRows);
	entryTable->setSelectionMode(QAbstractItemView::SingleSelection);
	entryTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
				    QAbstractItemView::EditKeyPressed);
	entryTable->setContextMenuPolicy(Qt::CustomContextMenu);
	QHeaderView *header = entryTable->horizontalHeader();
	header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
	header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
	header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
	header->setSectionResizeMode(3, QHeaderView::Stretch);
	header->setSectionResizeMode(4, QHeaderView::Interactive);
	header->resizeSection(4, 96);
	entryTable->setMinimumHeight(160);
	layout->addWidget(entryTable, 1);
}

void LumarkDock::addEditControls(QVBoxLayout *layout)
{
	auto *shiftRow = new QHBoxLayout;
	auto *shiftLabel = new QLabel(uiText(UiText::Shift), content);
	shiftEdit = new QLineEdit(content);
	shiftEdit->setPlaceholderText(QStringLiteral("0:00"));
	shiftEdit->setToolTip(uiText(UiText::ShiftTip));
	shiftEdit->setAccessibleName(uiText(UiText::Shift));
	shiftEdit->setMinimumWidth(0);
	shiftEdit->setMaximumWidth(90);
	shiftLabel->setBuddy(shiftEdit);
	shiftRow->addWidget(shiftLabel);
	shiftRow->addWidget(shiftEdit);
	shiftRow->addStretch();
	layout->addLayout(shiftRow);

	shiftToSelectedButton = new QPushButton(uiText(UiText::ShiftToSelected), content);
	shiftToSelectedButton->setToolTip(uiText(UiText::ShiftToSelectedTip));
	layout->addWidget(shiftToSelectedButton);

	urlEdit = new QLineEdit(content);
	urlEdit->setPlaceholderText(uiText(UiText::UrlPlaceholder));
	urlEdit->setToolTip(uiText(UiText::UrlTip));
	urlEdit->setAccessibleName(uiText(UiText::UrlPlaceholder));
	layout->addWidget(urlEdit);

	checkLabel = makeWrappingLabel(QString(), content);
	layout->addWidget(checkLabel);

	dropShortButton = new QPushButton(uiText(UiText::DropShort), content);
	dropShortButton->setToolTip(uiText(UiText::DropShortTip));
	layout->addWidget(dropShortButton);
}

void LumarkDock::addActionButtons(QVBoxLayout *layout)
{
	auto *grid = new QGridLayout;
	copyButton = new QPushButton(uiText(UiText::Copy), content);
	grid->addWidget(copyButton, 0, 0, 1, 3);
	copyClipsButton = new QPushButton(uiText(UiText::CopyClips), content);
	copyClipsButton->setObjectName(QStringLiteral("lumarkCopyClips"));
	grid->addWidget(copyClipsButton, 1, 0, 1, 3);
	exportButton = new QPushButton(uiText(UiText::Export), content);
	exportButton->setToolTip(uiText(UiText::ExportTip));
	grid->addWidget(exportButton, 2, 0);
	highlightsButton = new QPushButton(uiText(UiText::Highlights), content);
	highlightsButton->setObjectName(QStringLiteral("lumarkHighlights"));
	highlightsButton->setToolTip(uiText(UiText::HighlightsTip));
	grid->addWidget(highlightsButton, 2, 1);
	folderButton = new QPushButton(uiText(UiText::Folder), content);
	grid->addWidget(folderButton, 2, 2);
	settingsButton = new QPushButton(uiText(UiText::Settings), content);
	settingsButton->setAccessibleName(uiText(UiText::SettingsAccessible));
	grid->addWidget(settingsButton, 3, 0, 1, 3);
	layout->addLayout(grid);
}

void LumarkDock::connectActions()
{
	connect(pressButton, &QPushButton::clicked, this, [this] { engine.press(PressMode::Default, QString()); });
	connect(markOnlyButton, &QPushButton::clicked, this, [this] { engine.press(PressMode::MarkOnly, QString()); });
	connect(replayButton, &QPushButton::clicked, this, [this] { engine.press(PressMode::Replay, QString()); });
	connect(stopReplayButton, &QPushButton::clicked, this, [this] { engine.players().stopReplay(); });
	connect(memoEdit, &QLineEdit::textChanged, this, [this] {
		if (!memoUpdating)
			memoDirty = true;
	});
	connect(memoEdit, &QLineEdit::editingFinished, this, &LumarkDock::commitMemo);
	connect(freeSessionButton, &QPushButton::clicked, this, [this] {
		commitMemo();
		const Session *running = engine.currentSession();
		if (running && running->source == SessionSource::Free)
			engine.endFreeSession();
		else
			engine.startFreeSession();
	});
	connect(startBufferButton, &QPushButton::clicked, this, [] { obs_frontend_replay_buffer_start(); });
	connect(sessionCombo, QOverload<int>::of(&QComboBox::activated), this, &LumarkDock::onSessionActivated);
	connect(removeSessionButton, &QPushButton::clicked, this, &LumarkDock::confirmRemoveSession);
	connect(entryTable, &QTableWidget::itemChanged, this, &LumarkDock::onItemChanged);
	connect(entryTable, &QWidget::customContextMenuRequested, this, &LumarkDock::showEntryMenu);
	connect(entryTable, &QTableWidget::itemSelectionChanged, this,
		[this] { shiftToSelectedButton->setEnabled(selectedEntryId() != 0); });
	connect(shiftEdit, &QLineEdit::editingFinished, this, &LumarkDock::applyShiftText);
	connect(shiftToSelectedButton, &QPushButton::clicked, this, [this] {
		const int64_t id = selectedEntryId();
		if (id != 0)
			engine.edits().setShiftToEntry(id, tableSessionId);
	});
	connect(urlEdit, &QLineEdit::editingFinished, this, [this] {
		if (urlSessionId.isEmpty())
			return;
		engine.edits().setArchiveUrl(urlEdit->text(), urlSessionId);
		urlEdit->setModified(false);
	});
	connect(dropShortButton, &QPushButton::clicked, this, [this] { engine.edits().dropShortChapters(); });
	connect(copyButton, &QPushButton::clicked, this, &LumarkDock::copyChapters);
	connect(copyClipsButton, &QPushButton::clicked, this, &LumarkDock::copyClipNotes);
	connect(exportButton, &QPushButton::clicked, this, [this] { engine.exports().exportLists(); });
	connect(highlightsButton, &QPushButton::clicked, this, [this] { engine.exports().exportHighlights(); });
	connect(folderButton, &QPushButton::clicked, this, &LumarkDock::openExportFolder);
	connect(settingsButton, &QPushButton::clicked, this, [this] {
		if (openSettings)
			openSettings();
	});
}

bool LumarkDock::eventFilter(QObject *watched, QEvent *event)
{
	if (watched == memoEdit && event->type() == QEvent::FocusOut)
		commitMemo();
	return QWidget::eventFilter(watched, event);
}

void LumarkDock::setMessageText(const QString &text)
{
	messageLabel->setText(text);
	messageLabel->setVisible(!text.isEmpty());
}

void LumarkDock::showMessage(const QString &text)
{
	// The dock's own message stays until the Engine's message changes.
	setMessageText(text);
	ownMessageOver = engineMessageText();
	ownMessageShown = true;
}

QString LumarkDock::engineMessageText()
{
	InstantReplay &replay = engine.players().replay();
	QString message = engine.statusText();
	switch (replay.problem()) {
	case InstantReplay::Problem::MediaNotFound:
	case InstantReplay::Problem::NotMediaSource:
		message += QLatin1Char('\n') + uiText(UiText::ReplayNoMedia);
		break;
	case InstantReplay::Problem::SceneNotPlaced:
		message += QLatin1Char('\n') + uiText(UiText::ReplayNotPlaced);
		break;
	case InstantReplay::Problem::OpenFailed:
		message += QLatin1Char('\n') + uiText(UiText::ReplayOpenFailed);
		break;
	case InstantReplay::Problem::TooShort:
		message += QLatin1Char('\n') + uiText(UiText::ReplayTooShort);
		break;
	default:
		break;
	}
	if (replay.state() != InstantReplay::State::Idle)
		message += QLatin1Char('\n') + uiText(UiText::ReplayPlaying);
	return message.trimmed();
}

void LumarkDock::refreshStatus()
{
	refreshMemoTarget();

	const Session *running = engine.currentSession();
	const bool ready = engine.isReady();

	freeSessionButton->setVisible(ready && !obs_frontend_streaming_active() && !obs_frontend_recording_active());
	setTextIfChanged(freeSessionButton, freeSessionButtonText(running));
	setTextIfChanged(statusLabel, sessionStatusText(running, running ? engine.offsetNow() : 0));

	const BufferStatus buffer = engine.bufferStatus();
	setTextIfChanged(bufferLabel, bufferStatusText(ready, buffer));
	bufferLabel->setToolTip(uiText(UiText::BufferTip));
	startBufferButton->setVisible(ready && buffer.enabled && !buffer.active);

	// The dock's own message stays while the Engine's message is the one it replaced.
	const QString message = engineMessageText();
	if (!ownMessageShown || message != ownMessageOver) {
		ownMessageShown = false;
		if (messageLabel->text() != message)
			setMessageText(message);
	}

	stopReplayButton->setEnabled(engine.players().replay().state() != InstantReplay::State::Idle);

	const RecapStatus recap = engine.players().recap().status();
	const QString recapText = recapStatusText(recap, recap.running ? engine.findSession(recap.sessionId) : nullptr);
	if (recapLabel->text() != recapText) {
		recapLabel->setText(recapText);
		// An empty word-wrapped label still takes a line; the dock is short on height.
		recapLabel->setVisible(!recapText.isEmpty());
	}
}

void LumarkDock::refreshMemoTarget()
{
	if (memoUpdating)
		return;
	QString targetSession;
	int64_t targetEntry = 0;
	int32_t targetNumber = 0;
	if (const Session *running = engine.currentSession()) {
		for (const Entry &entry : running->entries) {
			if (entry.kind == EntryKind::Press && entry.id > targetEntry) {
				targetEntry = entry.id;
				targetNumber = entry.number;
			}
		}
		if (targetEntry != 0)
			targetSession = fromUtf8(running->id);
	}
	const bool hasTarget = targetEntry != 0;
	if (targetSession == memoTargetSession && targetEntry == memoTargetEntry) {
		memoEdit->setEnabled(hasTarget);
		return;
	}
	memoUpdating = true;
	commitMemo();
	memoTargetSession = targetSession;
	memoTargetEntry = targetEntry;
	memoEdit->clear();
	memoDirty = false;
	memoEdit->setEnabled(hasTarget);
	memoLabel->setText(
	    hasTarget ? uiText(UiText::MemoTarget).arg(fromUtf8(pressLabel(engine.exports().texts(), targetNumber)))
		      : uiText(UiText::MemoNone));
	memoUpdating = false;
}

void LumarkDock::commitMemo()
{
	if (!memoDirty || memoTargetEntry == 0 || memoTargetSession.isEmpty())
		return;
	memoDirty = false;
	engine.edits().setLabel(memoTargetEntry, memoEdit->text(), memoTargetSession);
}

void LumarkDock::confirmRemoveSession()
{
	const Session *viewed = engine.viewedSession();
	if (!viewed || viewed->end_wall_ms == 0)
		return;
	// The question runs an event loop; the session may change meanwhile, the id stays.
	const QString id = fromUtf8(viewed->id);
	const auto answer = QMessageBox::question(this, uiText(UiText::RemoveSessionTitle),
						  uiText(UiText::RemoveSessionText).arg(sessionCombo->currentText()),
						  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
	if (answer != QMessageBox::Yes)
		return;
	if (!engine.removeSession(id))
		showMessage(uiText(UiText::MsgSessionNotRemoved));
}

void LumarkDock::copyChapters()
{
	const Session *viewed = engine.viewedSession();
	if (!viewed)
		return;
	QApplication::clipboard()->setText(fromUtf8(chapterText(*viewed, "\n")));
	showMessage(uiText(UiText::MsgCopied));
}

void LumarkDock::copyClipNotes()
{
	const Session *viewed = engine.viewedSession();
	if (!viewed)
		return;
	QApplication::clipboard()->setText(fromUtf8(buildNotesText(*viewed, engine.exports().texts())));
	showMessage(uiText(UiText::MsgClipsCopied));
}

void LumarkDock::openExportFolder()
{
	const Session *viewed = engine.viewedSession();
	if (!viewed)
		return;
	const QString folder = exportFolder(*viewed);
	if (!folder.isEmpty())
		QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void LumarkDock::logWidths()
{
	if (widthsLogged)
		return;
	widthsLogged = true;
	content->ensurePolished();
	if (content->layout())
		content->layout()->activate();
	pluginLog(LOG_INFO, "dock min width %d", content->minimumSizeHint().width());
	pluginLog(LOG_INFO, "dock width %d", width());
}
