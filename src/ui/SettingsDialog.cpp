#include "ui/SettingsDialog.h"

#include "config/Settings.h"
#include "engine/Engine.h"
#include "playback/InstantReplay.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"
#include "ui/StatusTexts.h"
#include "ui/UiText.h"
#include "util/ObsMedia.h"
#include "util/ObsSources.h"

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/util.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel *makeNote(const QString &text, QWidget *parent)
{
	auto *label = new QLabel(text, parent);
	label->setWordWrap(true);
	QPalette palette = label->palette();
	palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
	label->setPalette(palette);
	return label;
}

QLabel *makeHeading(const QString &text, QWidget *parent)
{
	auto *label = new QLabel(text, parent);
	label->setWordWrap(true);
	QFont font = label->font();
	font.setBold(true);
	label->setFont(font);
	return label;
}

QComboBox *makeNameCombo(const char *accessibleKey, QWidget *parent)
{
	auto *combo = new QComboBox(parent);
	combo->setEditable(true);
	if (accessibleKey)
		combo->setAccessibleName(uiText(accessibleKey));
	return combo;
}

QStringList sceneNames()
{
	QStringList names;
	BPtr<char *> list = obs_frontend_get_scene_names();
	if (list) {
		for (char **name = list.Get(); *name; ++name)
			names << QString::fromUtf8(*name);
	}
	return names;
}

// Names of the sources that pass the test, sorted case-sensitively.
QStringList sourceNames(bool (*wanted)(obs_source_t *))
{
	struct Walk {
		bool (*wanted)(obs_source_t *);
		QStringList names;
	} walk{wanted, {}};
	obs_enum_sources(
	    [](void *param, obs_source_t *source) {
		    auto *w = static_cast<Walk *>(param);
		    if (w->wanted(source))
			    w->names << QString::fromUtf8(obs_source_get_name(source));
		    return true;
	    },
	    &walk);
	std::sort(walk.names.begin(), walk.names.end());
	return walk.names;
}

bool isTextSourceForRecap(obs_source_t *source)
{
	return isRecapTextSource(obs_source_get_unversioned_id(source));
}

bool companionInstalled()
{
	for (const char *id : {kCompanionSourceId, kCompanionFilterId}) {
		const char *name = obs_source_get_display_name(id);
		if (name && *name)
			return true;
	}
	return false;
}

QLabel *makeResultLine(QWidget *parent)
{
	auto *label = new QLabel(parent);
	label->setWordWrap(true);
	return label;
}

// The set-up buttons of a group, left-aligned.
QHBoxLayout *makeButtonRow(QPushButton *make, QPushButton *add)
{
	auto *row = new QHBoxLayout;
	row->addWidget(make);
	row->addWidget(add);
	row->addStretch();
	return row;
}

// Refills an editable combo box without losing what the user typed.
void refill(QComboBox *combo, const QStringList &items, const QString &stored)
{
	QString text = combo->currentText();
	if (text.isEmpty())
		text = stored;
	combo->clear();
	combo->addItems(items);
	combo->setCurrentText(text);
}

} // namespace

SettingsDialog::SettingsDialog(Engine &engine, QWidget *parent) : QDialog(parent), engine(engine)
{
	buildLayout();
	loadValues();
}

void SettingsDialog::buildLayout()
{
	setWindowTitle(uiText(UiText::SetTitle));
	resize(520, 680);

	auto *outer = new QVBoxLayout(this);
	auto *scroll = new QScrollArea(this);
	scroll->setWidgetResizable(true);
	scroll->setFrameShape(QFrame::NoFrame);
	outer->addWidget(scroll, 1);
	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
	connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
	connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
	outer->addWidget(buttons);

	auto *content = new QWidget;
	auto *layout = new QVBoxLayout(content);
	layout->addWidget(buildPressGroup(content));
	layout->addWidget(buildMarksGroup(content));
	layout->addWidget(buildFilesGroup(content));
	layout->addWidget(buildReplayGroup(content));
	layout->addWidget(buildRecapGroup(content));
	layout->addStretch();
	scroll->setWidget(content);
}

QGroupBox *SettingsDialog::buildPressGroup(QWidget *content)
{
	auto *group = new QGroupBox(uiText(UiText::SetPressGroup), content);
	auto *press = new QVBoxLayout(group);
	press->addWidget(makeNote(uiText(UiText::SetPressNote), group));
	pressClip = new QCheckBox(uiText(UiText::SetPressClip), group);
	press->addWidget(pressClip);
	pressReplay = new QCheckBox(uiText(UiText::SetPressReplay), group);
	press->addWidget(pressReplay);
	press->addWidget(makeNote(uiText(UiText::SetHotkeyNote), group));

	// A replay needs a clip.
	connect(pressReplay, &QCheckBox::toggled, this, [this](bool on) {
		if (on)
			pressClip->setChecked(true);
	});
	connect(pressClip, &QCheckBox::toggled, this, [this](bool on) {
		if (!on)
			pressReplay->setChecked(false);
	});
	return group;
}

QGroupBox *SettingsDialog::buildMarksGroup(QWidget *content)
{
	auto *group = new QGroupBox(uiText(UiText::SetMarksGroup), content);
	auto *marks = new QVBoxLayout(group);
	marksStart = new QCheckBox(uiText(UiText::SetMarksStart), group);
	marks->addWidget(marksStart);
	sceneMarks = new QCheckBox(uiText(UiText::SetSceneMarks), group);
	marks->addWidget(sceneMarks);
	recordChapters = new QCheckBox(uiText(UiText::SetRecordChapters), group);
	marks->addWidget(recordChapters);
	auto *ignoreLabel = new QLabel(uiText(UiText::SetIgnoreScenes), group);
	ignoreLabel->setWordWrap(true);
	marks->addWidget(ignoreLabel);
	ignoreScenes = new QListWidget(group);
	ignoreScenes->setAccessibleName(uiText(UiText::SetIgnoreScenes));
	ignoreScenes->setMaximumHeight(120);
	marks->addWidget(ignoreScenes);
	marks->addSpacing(8);
	marks->addWidget(makeHeading(uiText(UiText::SetExternalMarksHeading), group));
	marks->addWidget(makeNote(uiText(UiText::SetExternalMarksNote), group));
	marksSong = new QCheckBox(uiText(UiText::SetMarksSong), group);
	marks->addWidget(marksSong);
	marksTopic = new QCheckBox(uiText(UiText::SetMarksTopic), group);
	marks->addWidget(marksTopic);
	marksExternal = new QCheckBox(uiText(UiText::SetMarksExternal), group);
	marks->addWidget(marksExternal);
	marks->addWidget(makeNote(uiText(UiText::SetMarksNote), group));

	connect(sceneMarks, &QCheckBox::toggled, ignoreScenes, &QWidget::setEnabled);
	return group;
}

QGroupBox *SettingsDialog::buildFilesGroup(QWidget *content)
{
	auto *group = new QGroupBox(uiText(UiText::SetFilesGroup), content);
	auto *files = new QVBoxLayout(group);
	autoBuffer = new QCheckBox(uiText(UiText::SetAutoBuffer), group);
	files->addWidget(autoBuffer);
	bufferNote = makeNote(QString(), group);
	files->addWidget(bufferNote);
	renameFiles = new QCheckBox(uiText(UiText::SetRename), group);
	files->addWidget(renameFiles);
	files->addWidget(new QLabel(uiText(UiText::SetExportDir), group));
	auto *dirRow = new QHBoxLayout;
	exportDir = new QLineEdit(group);
	exportDir->setPlaceholderText(uiText(UiText::SetExportDirPlaceholder));
	exportDir->setAccessibleName(uiText(UiText::SetExportDir));
	dirRow->addWidget(exportDir, 1);
	auto *pick = new QPushButton(uiText(UiText::SetPick), group);
	dirRow->addWidget(pick);
	files->addLayout(dirRow);
	highlightsVideo = new QCheckBox(uiText(UiText::SetHighlightsVideo), group);
	files->addWidget(highlightsVideo);
	auto *highlightForm = new QFormLayout;
	highlightSeconds = new QSpinBox(group);
	highlightSeconds->setRange(SettingsRange::HighlightSecondsMin, SettingsRange::HighlightSecondsMax);
	highlightSeconds->setSuffix(uiText(UiText::SetSecondsSuffix));
	highlightSeconds->setAccessibleName(uiText(UiText::SetHighlightSeconds));
	highlightForm->addRow(uiText(UiText::SetHighlightSeconds), highlightSeconds);
	files->addLayout(highlightForm);

	connect(pick, &QPushButton::clicked, this, &SettingsDialog::pickExportFolder);
	return group;
}

QGroupBox *SettingsDialog::buildReplayGroup(QWidget *content)
{
	auto *group = new QGroupBox(uiText(UiText::SetReplayGroup), content);
	auto *replay = new QVBoxLayout(group);
	auto *form = new QFormLayout;
	replaySeconds = new QSpinBox(group);
	replaySeconds->setRange(SettingsRange::ReplaySecondsMin, SettingsRange::ReplaySecondsMax);
	replaySeconds->setSuffix(uiText(UiText::SetSecondsSuffix));
	form->addRow(uiText(UiText::SetReplaySeconds), replaySeconds);
	replaySpeed = new QSpinBox(group);
	replaySpeed->setRange(SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax);
	replaySpeed->setSingleStep(10);
	replaySpeed->setSuffix(QStringLiteral(" %"));
	form->addRow(uiText(UiText::SetReplaySpeed), replaySpeed);
	replayRepeat = new QSpinBox(group);
	replayRepeat->setRange(SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax);
	replayRepeat->setAccessibleName(uiText(UiText::SetReplayRepeat));
	form->addRow(uiText(UiText::SetReplayRepeat), replayRepeat);
	replayScene = makeNameCombo(nullptr, group);
	form->addRow(uiText(UiText::SetReplayScene), replayScene);
	replayMedia = makeNameCombo(nullptr, group);
	form->addRow(uiText(UiText::SetReplayMedia), replayMedia);
	replay->addLayout(form);
	replayFromMemory = new QCheckBox(uiText(UiText::SetReplayFromMemory), group);
	replay->addWidget(replayFromMemory);
	auto *makeScene = new QPushButton(uiText(UiText::SetMakeScene), group);
	auto *addScene = new QPushButton(uiText(UiText::SetAddToScene), group);
	replay->addLayout(makeButtonRow(makeScene, addScene));
	replayResult = makeResultLine(group);
	replay->addWidget(replayResult);
	replay->addWidget(makeNote(uiText(UiText::SetReplayNote), group));
	addVantorRows(replay, group);

	connect(makeScene, &QPushButton::clicked, this, [this] { setupReplayScene(false); });
	connect(addScene, &QPushButton::clicked, this, [this] { setupReplayScene(true); });
	return group;
}

void SettingsDialog::addVantorRows(QVBoxLayout *replay, QGroupBox *group)
{
	replay->addSpacing(8);
	replay->addWidget(makeHeading(uiText(UiText::SetVantorHeading), group));
	auto *form = new QFormLayout;
	vantorStart = new QLineEdit(group);
	vantorStart->setAccessibleName(uiText(UiText::SetVantorStart));
	form->addRow(uiText(UiText::SetVantorStart), vantorStart);
	vantorEnd = new QLineEdit(group);
	vantorEnd->setAccessibleName(uiText(UiText::SetVantorEnd));
	form->addRow(uiText(UiText::SetVantorEnd), vantorEnd);
	replay->addLayout(form);
	const bool companion = companionInstalled();
	replay->addWidget(makeNote(uiText(companion ? UiText::SetVantorNote : UiText::SetVantorUnavailable), group));
	vantorStart->setEnabled(companion);
	vantorEnd->setEnabled(companion);
}

QGroupBox *SettingsDialog::buildRecapGroup(QWidget *content)
{
	auto *group = new QGroupBox(uiText(UiText::SetRecapGroup), content);
	auto *recap = new QVBoxLayout(group);
	auto *form = new QFormLayout;
	recapScene = makeNameCombo(UiText::SetRecapScene, group);
	form->addRow(uiText(UiText::SetRecapScene), recapScene);
	recapMedia = makeNameCombo(UiText::SetRecapMedia, group);
	form->addRow(uiText(UiText::SetRecapMedia), recapMedia);
	recapText = makeNameCombo(UiText::SetRecapText, group);
	form->addRow(uiText(UiText::SetRecapText), recapText);
	recapSeconds = new QSpinBox(group);
	recapSeconds->setRange(SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax);
	recapSeconds->setSuffix(uiText(UiText::SetSecondsSuffix));
	recapSeconds->setAccessibleName(uiText(UiText::SetRecapSeconds));
	form->addRow(uiText(UiText::SetRecapSeconds), recapSeconds);
	recap->addLayout(form);
	auto *makeRecap = new QPushButton(uiText(UiText::SetMakeRecapScene), group);
	auto *addRecap = new QPushButton(uiText(UiText::SetAddToScene), group);
	recap->addLayout(makeButtonRow(makeRecap, addRecap));
	recapResult = makeResultLine(group);
	recap->addWidget(recapResult);
	recap->addWidget(makeNote(uiText(UiText::SetRecapNote), group));

	connect(makeRecap, &QPushButton::clicked, this, [this] { setupRecap(false); });
	connect(addRecap, &QPushButton::clicked, this, [this] { setupRecap(true); });
	return group;
}

void SettingsDialog::loadValues()
{
	const Settings &s = settings();
	const std::pair<QCheckBox *, bool> boxes[] = {
	    {pressClip, s.press_clip},         {pressReplay, s.press_replay},      {sceneMarks, s.scene_marks},
	    {marksStart, s.marks_start},       {marksSong, s.marks_song},          {marksTopic, s.marks_topic},
	    {marksExternal, s.marks_external}, {recordChapters, s.record_chapters}};
	// Set the stored pair as it is, without the coupling rules rewriting it.
	for (const auto &box : boxes) {
		const QSignalBlocker blocker(box.first);
		box.first->setChecked(box.second);
	}
	autoBuffer->setChecked(s.auto_start_buffer);
	renameFiles->setChecked(s.rename_files);
	exportDir->setText(QDir::toNativeSeparators(s.export_dir));
	replaySeconds->setValue(s.replay_seconds);
	replaySpeed->setValue(s.replay_speed);
	replayRepeat->setValue(s.replay_repeat);
	replayFromMemory->setChecked(s.replay_from_memory);
	recapSeconds->setValue(s.recap_seconds);
	highlightsVideo->setChecked(s.highlights_video);
	highlightSeconds->setValue(s.highlight_seconds);
	vantorStart->setText(s.vantor_start);
	vantorEnd->setText(s.vantor_end);
	recapScene->setCurrentText(s.recap_scene);
	recapMedia->setCurrentText(s.recap_media);
	recapText->setCurrentText(s.recap_text);

	loadIgnoreScenes(s);
	replayScene->setCurrentText(s.replay_scene);
	replayMedia->setCurrentText(s.replay_media);
	refillLists();

	bufferNote->setText(bufferSizeText(engine.bufferStatus()) + QLatin1Char('\n') + uiText(UiText::SetBufferNote));
}

void SettingsDialog::loadIgnoreScenes(const Settings &s)
{
	// Scenes of this collection first, then ignored scenes that are gone (still ticked, so they stay).
	QStringList names = sceneNames();
	for (const QString &name : s.ignore_scenes) {
		if (!names.contains(name))
			names << name;
	}
	for (const QString &name : names) {
		if (name == s.replay_scene)
			continue;
		auto *item = new QListWidgetItem(name, ignoreScenes);
		item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
		item->setCheckState(s.ignore_scenes.contains(name) ? Qt::Checked : Qt::Unchecked);
	}
	ignoreScenes->setEnabled(sceneMarks->isChecked());
}

void SettingsDialog::refillLists()
{
	const Settings &s = settings();
	const QStringList scenes = sceneNames();
	const QStringList media = sourceNames(isMediaSource);
	refill(replayScene, scenes, s.replay_scene);
	refill(replayMedia, media, s.replay_media);
	refill(recapScene, scenes, s.recap_scene);
	refill(recapMedia, media, s.recap_media);
	refill(recapText, sourceNames(isTextSourceForRecap), s.recap_text);
}

void SettingsDialog::setupReplayScene(bool add)
{
	Settings &s = settings();
	s.replay_scene = replayScene->currentText().trimmed();
	s.replay_media = replayMedia->currentText().trimmed();
	QString message;
	bool ok = makeReplayScene(message);
	if (ok && add)
		ok = addReplaySceneToCurrent(message);
	saveSettings();
	refillLists();
	if (ok) {
		engine.players().replay().clearProblem();
		replayResult->setText(uiText(add ? UiText::SetupAdded : UiText::SetupMade));
	} else {
		replayResult->setText(message);
	}
}

void SettingsDialog::setupRecap(bool add)
{
	Settings &s = settings();
	s.recap_scene = recapScene->currentText().trimmed();
	s.recap_media = recapMedia->currentText().trimmed();
	s.recap_text = recapText->currentText().trimmed();
	s.recap_seconds = recapSeconds->value();
	QString message;
	const bool ok = setupRecapScene(engine.players().recap(), add, message);
	saveSettings();
	refillLists();
	recapResult->setText(ok ? uiText(add ? UiText::RecapSetupAdded : UiText::RecapSetupMade) : message);
}

void SettingsDialog::pickExportFolder()
{
	const QString folder = QFileDialog::getExistingDirectory(this, uiText(UiText::SetExportDir), exportDir->text(),
								 QFileDialog::ShowDirsOnly);
	if (!folder.isEmpty())
		exportDir->setText(QDir::toNativeSeparators(folder));
}

void SettingsDialog::accept()
{
	Settings &s = settings();
	s.press_clip = pressClip->isChecked();
	s.press_replay = pressReplay->isChecked();
	s.scene_marks = sceneMarks->isChecked();
	s.marks_start = marksStart->isChecked();
	s.marks_song = marksSong->isChecked();
	s.marks_topic = marksTopic->isChecked();
	s.marks_external = marksExternal->isChecked();
	s.record_chapters = recordChapters->isChecked();

	QStringList ignored;
	for (int i = 0; i < ignoreScenes->count(); ++i) {
		const QListWidgetItem *item = ignoreScenes->item(i);
		if (item->checkState() == Qt::Checked)
			ignored << item->text();
	}
	s.ignore_scenes = ignored;

	s.auto_start_buffer = autoBuffer->isChecked();
	s.rename_files = renameFiles->isChecked();
	s.export_dir = QDir::fromNativeSeparators(exportDir->text().trimmed());
	s.replay_seconds = replaySeconds->value();
	s.replay_speed = replaySpeed->value();
	s.replay_repeat = replayRepeat->value();
	s.replay_from_memory = replayFromMemory->isChecked();
	// Disabled while the companion plug-in is missing: keep the names the user set up before.
	if (vantorStart->isEnabled() && vantorEnd->isEnabled()) {
		s.vantor_start = vantorStart->text().trimmed();
		s.vantor_end = vantorEnd->text().trimmed();
	}
	s.replay_scene = replayScene->currentText().trimmed();
	s.replay_media = replayMedia->currentText().trimmed();
	s.recap_scene = recapScene->currentText().trimmed();
	s.recap_media = recapMedia->currentText().trimmed();
	s.recap_text = recapText->currentText().trimmed();
	s.recap_seconds = recapSeconds->value();
	s.highlights_video = highlightsVideo->isChecked();
	s.highlight_seconds = highlightSeconds->value();

	saveSettings();
	engine.players().applyReplaySettings();
	emit engine.statusChanged();
	QDialog::accept();
}
