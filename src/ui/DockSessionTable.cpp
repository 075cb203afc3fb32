// The session editor half of the dock: session chooser, entry table, shift and chapter check.

#include "ui/LumarkDock.h"

#include <QHeaderView>

#include "engine/Engine.h"
#include "lists/ChapterCheck.h"
#include "lists/Lists.h"
#include "lists/TextFormat.h"
#include "session/Saturating.h"
#include "session/Session.h"
#include "ui/ShowFile.h"
#include "ui/UiText.h"
#include "util/Utf8.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>

namespace {

enum Column { ColChapter = 0, ColTime = 1, ColKind = 2, ColLabel = 3, ColClip = 4 };

QString offsetText(int64_t ms)
{
	return fromUtf8(formatOffset(ms));
}

QTableWidgetItem *makeItem(const QString &text, Qt::ItemFlags flags)
{
	auto *item = new QTableWidgetItem(text);
	item->setFlags(flags);
	return item;
}

} // namespace

QString LumarkDock::sessionDisplayName(const QString &id, bool withSeconds)
{
	if (id.size() <= 18 || id.at(10) != QLatin1Char('_'))
		return id;
	QString text = id.left(10) + QLatin1Char(' ') + id.mid(11, 2) + QLatin1Char(':') + id.mid(14, 2);
	if (withSeconds)
		text += QLatin1Char(':') + id.mid(17, 2);
	return text;
}

std::pair<QString, QString> LumarkDock::clipCellText(const Entry &entry, const Session &session, Engine &engine)
{
	switch (entry.clip.state) {
	case ClipState::Waiting:
		return {uiText(UiText::ClipWaiting), QString()};
	case ClipState::Failed:
		return {uiText(UiText::ClipFailed), uiText(UiText::ClipFailedTip)};
	case ClipState::NoBuffer:
		return {uiText(UiText::ClipNoBuffer), uiText(UiText::ClipNoBufferTip)};
	case ClipState::Saved: {
		if (entry.clip.shared_with != 0) {
			const Entry *owner = session.findEntry(entry.clip.shared_with);
			const QString ownerLabel =
			    owner ? fromUtf8(pressLabel(engine.exports().texts(), owner->number)) : QString();
			return {uiText(UiText::ClipShared).arg(ownerLabel), uiText(UiText::ClipSharedTip)};
		}
		const QString path = fromUtf8(entry.clip.path);
		const QString tip = QDir::toNativeSeparators(path) + QLatin1Char('\n') +
				    uiText(UiText::ClipRangeTip)
					.arg(offsetText(archiveOffset(session, entry.clip.start_ms)),
					     offsetText(archiveOffset(session, entry.clip.end_ms)));
		return {fromUtf8(fileNameOf(entry.clip.path)), tip};
	}
	default:
		return {QString(), QString()};
	}
}

void LumarkDock::rebuildSessionCombo()
{
	const bool wasBlocked = sessionCombo->blockSignals(true);
	sessionCombo->clear();

	const Session *running = engine.currentSession();
	const QString runningId = running ? fromUtf8(running->id) : QString();
	const QStringList ids = engine.sessionIds();
	const QString viewedId = engine.viewedSessionId();

	// Ids started in the same minute only differ in their seconds.
	QHash<QString, int> perMinute;
	for (const QString &id : ids)
		++perMinute[id.left(16)];

	int viewedIndex = -1;
	for (const QString &id : ids) {
		QString text = sessionDisplayName(id, perMinute.value(id.left(16)) > 1);
		if (!runningId.isEmpty() && id == runningId)
			text = uiText(UiText::SessionNow).arg(text);
		if (id == viewedId && viewedIndex < 0)
			viewedIndex = sessionCombo->count();
		sessionCombo->addItem(text, id);
	}
	if (sessionCombo->count() == 0)
		sessionCombo->addItem(uiText(UiText::NoSessions), QString());
	sessionCombo->setCurrentIndex(viewedIndex >= 0 ? viewedIndex : 0);
	sessionCombo->blockSignals(wasBlocked);
}

void LumarkDock::onSessionActivated(int index)
{
	const QString id = sessionCombo->itemData(index).toString();
	if (!id.isEmpty())
		engine.viewSession(id);
}

void LumarkDock::scheduleTableRebuild()
{
	if (tableThrottleTimer->isActive())
		return;
	if (lastTableRebuild.isValid() && lastTableRebuild.elapsed() < kTableRebuildGapMs) {
		tableThrottleTimer->start(int(kTableRebuildGapMs - lastTableRebuild.elapsed()));
		return;
	}
	rebuildTable();
}

void LumarkDock::rebuildTable()
{
	tableThrottleTimer->stop();
	// Nothing is looked at once the engine has stopped; OBS is on its way out.
	if (engine.isStopped())
		return;
	// Never pull the rows out from under an open cell editor; try again once it has closed.
	QWidget *focus = QApplication::focusWidget();
	QWidget *viewport = entryTable->viewport();
	if (focus && focus != entryTable && focus != viewport && viewport->isAncestorOf(focus)) {
		tableRetryTimer->start();
		return;
	}

	const int64_t keepId = selectedEntryId();
	tableRebuilding = true;
	lastTableRebuild.restart();

	// Columns that size to their contents would be measured again over every row for each cell
	// set below; hold their widths while filling and measure once at the end.
	QHeaderView *header = entryTable->horizontalHeader();
	const int measured[] = {ColChapter, ColTime, ColKind};
	for (int column : measured)
		header->setSectionResizeMode(column, QHeaderView::Interactive);
	entryTable->setUpdatesEnabled(false);

	const Session *session = engine.viewedSession();
	tableSessionId = session ? fromUtf8(session->id) : QString();
	const int keepRow = fillTableRows(session, keepId);
	if (keepRow >= 0)
		entryTable->selectRow(keepRow);
	else
		entryTable->clearSelection();

	for (int column : measured)
		header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
	entryTable->setUpdatesEnabled(true);

	tableRebuilding = false;
	refreshEditControls();
	refreshChapterCheck();
	followViewedSessionInCombo();
}

int LumarkDock::fillTableRows(const Session *session, int64_t keepId)
{
	if (!session) {
		entryTable->setRowCount(0);
		return -1;
	}
	const QBrush grey(palette().color(QPalette::Disabled, QPalette::Text));
	int keepRow = -1;
	entryTable->setRowCount(int(session->entries.size()));
	for (int row = 0; row < int(session->entries.size()); ++row) {
		const Entry &entry = session->entries[size_t(row)];
		setTableRow(row, entry, *session, grey);
		if (keepId != 0 && entry.id == keepId)
			keepRow = row;
	}
	return keepRow;
}

void LumarkDock::setTableRow(int row, const Entry &entry, const Session &session, const QBrush &grey)
{
	const Qt::ItemFlags plain = Qt::ItemIsSelectable | Qt::ItemIsEnabled;

	auto *chapter = makeItem(QString(), plain | Qt::ItemIsUserCheckable);
	chapter->setCheckState(entry.chapter ? Qt::Checked : Qt::Unchecked);
	chapter->setToolTip(uiText(UiText::ColChapterTip));

	const int64_t archive = archiveOffset(session, entry.t_ms);
	auto *time = makeItem(archive < 0 ? uiText(UiText::TimeBeforeCut) : offsetText(archive), plain);
	time->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(entry.id));
	time->setToolTip(uiText(UiText::TimeStreamTip).arg(offsetText(entry.t_ms)));

	const ExportTexts &texts = engine.exports().texts();
	const std::string kindText =
	    entry.kind == EntryKind::Press ? pressLabel(texts, entry.number) : kindName(texts, entry.kind);
	auto *kind = makeItem(fromUtf8(kindText), plain);

	auto *label = makeItem(fromUtf8(entry.label), plain | Qt::ItemIsEditable);
	label->setToolTip(uiText(UiText::ColLabelTip));

	const auto clipText = clipCellText(entry, session, engine);
	auto *clip = makeItem(clipText.first, plain);
	clip->setToolTip(clipText.second);

	if (!entry.chapter) {
		for (QTableWidgetItem *item : {time, kind, label, clip})
			item->setForeground(grey);
	}
	entryTable->setItem(row, ColChapter, chapter);
	entryTable->setItem(row, ColTime, time);
	entryTable->setItem(row, ColKind, kind);
	entryTable->setItem(row, ColLabel, label);
	entryTable->setItem(row, ColClip, clip);
}

void LumarkDock::followViewedSessionInCombo()
{
	const QString viewedId = engine.viewedSessionId();
	const int comboIndex = sessionCombo->findData(viewedId);
	if (comboIndex < 0) {
		if (!viewedId.isEmpty())
			rebuildSessionCombo();
	} else if (comboIndex != sessionCombo->currentIndex()) {
		const QSignalBlocker blocker(sessionCombo);
		sessionCombo->setCurrentIndex(comboIndex);
	}
}

int64_t LumarkDock::selectedEntryId() const
{
	const QList<QTableWidgetItem *> selected = entryTable->selectedItems();
	if (selected.isEmpty())
		return 0;
	const QTableWidgetItem *time = entryTable->item(selected.first()->row(), ColTime);
	return time ? time->data(Qt::UserRole).toLongLong() : 0;
}

void LumarkDock::onItemChanged(QTableWidgetItem *item)
{
	if (tableRebuilding || !item)
		return;
	const QTableWidgetItem *time = entryTable->item(item->row(), ColTime);
	if (!time)
		return;
	const int64_t id = time->data(Qt::UserRole).toLongLong();
	// The row's own session: the viewed one may have changed while the editor was open.
	if (tableSessionId.isEmpty())
		return;
	if (item->column() == ColChapter)
		engine.edits().setChapter(id, item->checkState() == Qt::Checked, tableSessionId);
	else if (item->column() == ColLabel)
		engine.edits().setLabel(id, item->text(), tableSessionId);
}

void LumarkDock::applyShiftText()
{
	if (shiftSessionId.isEmpty())
		return;
	const QString text = shiftEdit->text().trimmed();
	int64_t ms = 0;
	if (!text.isEmpty() && !parseTimeText(text.toUtf8().toStdString(), ms)) {
		showMessage(uiText(UiText::MsgBadTime));
		return;
	}
	engine.edits().setShift(ms, shiftSessionId);
	shiftEdit->setModified(false);
}

void LumarkDock::refreshEditControls()
{
	const Session *session = engine.viewedSession();
	const bool viewed = session != nullptr;
	for (QWidget *w : std::initializer_list<QWidget *>{shiftEdit, urlEdit, copyButton, exportButton, folderButton,
							   dropShortButton, copyClipsButton})
		w->setEnabled(viewed);
	shiftToSelectedButton->setEnabled(viewed && selectedEntryId() != 0);
	removeSessionButton->setEnabled(viewed && session->end_wall_ms != 0);
	if (!viewed)
		return;
	// A field being edited keeps its text and the session it was begun for: a stream starting
	// meanwhile must not receive it.
	if (!shiftEdit->hasFocus() && !shiftEdit->isModified()) {
		shiftSessionId = fromUtf8(session->id);
		const int64_t shift = session->shift_ms;
		const QString text = shift == 0  ? QString()
				     : shift < 0 ? QLatin1Char('-') + offsetText(satSub(0, shift))
						 : offsetText(shift);
		if (shiftEdit->text() != text)
			shiftEdit->setText(text);
	}
	if (!urlEdit->hasFocus() && !urlEdit->isModified()) {
		urlSessionId = fromUtf8(session->id);
		const QString url = fromUtf8(session->archive_url);
		if (urlEdit->text() != url)
			urlEdit->setText(url);
	}
}

void LumarkDock::refreshChapterCheck()
{
	const Session *session = engine.viewedSession();
	if (!session) {
		checkLabel->clear();
		checkLabel->setToolTip(QString());
		checkLabel->setStyleSheet(QString());
		dropShortButton->hide();
		return;
	}
	const auto rows = chapterList(*session);
	const std::vector<ChapterIssue> issues = checkChapters(*session);
	QStringList lines;
	bool tooShort = false;
	for (const ChapterIssue &issue : issues) {
		const bool rowKnown = issue.index >= 0 && size_t(issue.index) < rows.size();
		switch (issue.problem) {
		case ChapterIssueCode::TooFew:
			lines << uiText(UiText::CheckTooFew).arg(issue.sec);
			break;
		case ChapterIssueCode::FirstNotZero:
			lines << uiText(UiText::CheckFirstNotZero);
			break;
		case ChapterIssueCode::TooShort:
			tooShort = true;
			if (rowKnown) {
				const auto &row = rows[size_t(issue.index)];
				lines << uiText(UiText::CheckTooShort)
					     .arg(offsetText(row.offset_ms), fromUtf8(row.title),
						  QString::number(issue.sec));
			}
			break;
		case ChapterIssueCode::EmptyLabel:
			if (rowKnown)
				lines << uiText(UiText::CheckEmptyLabel)
					     .arg(offsetText(rows[size_t(issue.index)].offset_ms));
			break;
		}
	}
	if (lines.isEmpty()) {
		checkLabel->setText(uiText(UiText::CheckOk));
		checkLabel->setToolTip(session->end_wall_ms != 0 ? QString() : uiText(UiText::CheckLastLater));
		checkLabel->setStyleSheet(QStringLiteral("color: #2e8b57;"));
	} else {
		checkLabel->setText(lines.size() == 1 ? uiText(UiText::CheckOne).arg(lines.first())
						      : uiText(UiText::CheckMany).arg(lines.size()));
		checkLabel->setToolTip(uiText(UiText::CheckTitle) + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
		checkLabel->setStyleSheet(QStringLiteral("color: #c77700;"));
	}
	dropShortButton->setVisible(tooShort);
}

void LumarkDock::showEntryMenu(const QPoint &point)
{
	QTableWidgetItem *clicked = entryTable->itemAt(point);
	if (!clicked)
		return;
	const int row = clicked->row();
	entryTable->selectRow(row);
	const int64_t id = selectedEntryId();
	const Session *session = engine.viewedSession();
	const Entry *entry = session ? session->findEntry(id) : nullptr;
	if (!entry)
		return;
	const QString sessionId = fromUtf8(session->id);
	const Entry *owner = session->savedClipOwner(*entry);
	const QString path = owner ? fromUtf8(owner->clip.path) : QString();
	const bool hasFile = !path.isEmpty();

	QMenu menu(this);
	QAction *editLabel = menu.addAction(uiText(UiText::MenuEditLabel));
	QAction *shiftHere = menu.addAction(uiText(UiText::MenuShiftHere));
	QAction *replay = menu.addAction(uiText(UiText::MenuReplay));
	replay->setEnabled(hasFile);
	QAction *showFile = menu.addAction(uiText(UiText::MenuShowFile));
	showFile->setEnabled(hasFile);
	menu.addSeparator();
	QAction *remove = menu.addAction(uiText(UiText::MenuRemove));

	QAction *chosen = menu.exec(entryTable->viewport()->mapToGlobal(point));
	// The menu ran an event loop: only the ids and the path taken before it are trusted now.
	if (!chosen)
		return;
	if (chosen == editLabel) {
		if (QTableWidgetItem *label = entryTable->item(row, ColLabel))
			entryTable->editItem(label);
	} else if (chosen == shiftHere) {
		engine.edits().setShiftToEntry(id, sessionId);
	} else if (chosen == replay) {
		if (!engine.players().replayEntry(engine.findSession(sessionId), id))
			showMessage(uiText(UiText::ReplayCouldNot));
	} else if (chosen == showFile) {
		if (QFileInfo::exists(path))
			showFileInFileManager(path);
		else
			showMessage(uiText(UiText::MsgFileGone));
	} else if (chosen == remove) {
		if (QMessageBox::question(this, uiText(UiText::MenuRemoveTitle), uiText(UiText::MenuRemoveText),
					  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
			engine.edits().removeEntry(id, sessionId);
	}
}
