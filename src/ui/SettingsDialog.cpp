#include "ui/SettingsDialog.h"

#include "config/Settings.h"
#include "engine/Engine.h"
#include "playback/InstantReplay.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"
#include "ui/UiText.h"

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
#include <cstring>

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

// Names of the sources whose type passes the test, sorted case-sensitively.
QStringList sourceNames(bool (*wanted)(const char *unversionedId))
{
	struct Walk {
		bool (*wanted)(const char *);
		QStringList names;
	} walk{wanted, {}};
	obs_enum_sources(
	    [](void *param, obs_source_t *source) {
		    auto *w = static_cast<Walk *>(param);
		    const char *id = obs_source_get_unversioned_id(source);
		    if (id && w->wanted(id))
			    w->names << QString::fromUtf8(obs_source_get_name(source));
		    return true;
	    },
	    &walk);
	std::sort(walk.names.begin(), walk.names.end());
	return walk.names;
}

bool isMediaSource(const char *id)
{
	return strcmp(id, "ffmpeg_source") == 0;
}

bool companionInstalled()
{
	for (const char *id : {"vantor_source", "vantor_filter"}) {
		const char *name = obs_source_get_display_name(id);
		if (name && *name)
			return true;
	}
	return false;
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
	setWindowTitle(uiText(UiKey::SetTitle));
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

	// Press
	auto *pressGroup = new QGroupBox(uiText(UiKey::SetPressGroup), content);
	auto *press = new QVBoxLayout(pressGroup);
	press->addWidget(makeNote(uiText(UiKey::SetPressNote), pressGroup));
	pressClip = new QCheckBox(uiText(UiKey::SetPressClip), pressGroup);
	press->addWidget(pressClip);
	pressReplay = new QCheckBox(uiText(UiKey::SetPressReplay), pressGroup);
	press->addWidget(pressReplay);
	press->addWidget(makeNote(uiText(UiKey::SetHotkeyNote), pressGroup));
	layout->addWidget(pressGroup);

	// Marks
	auto *marksGroup = new QGroupBox(uiText(UiKey::SetMarksGroup), content);
	auto *marks = new QVBoxLayout(marksGroup);
	marksStart = new QCheckBox(uiText(UiKey::SetMarksStart), marksGroup);
	marks->addWidget(marksStart);
	sceneMarks = new QCheckBox(uiText(UiKey::SetSceneMarks), marksGroup);
	marks->addWidget(sceneMarks);
	recordChapters = new QCheckBox(uiText(UiKey::SetRecordChapters), marksGroup);
	marks->addWidget(recordChapters);
	auto *ignoreLabel = new QLabel(uiText(UiKey::SetIgnoreScenes), marksGroup);
	ignoreLabel->setWordWrap(true);
	marks->addWidget(ignoreLabel);
	ignoreScenes = new QListWidget(marksGroup);
	ignoreScenes->setAccessibleName(uiText(UiKey::SetIgnoreScenes));
	ignoreScenes->setMaximumHeight(120);
	marks->addWidget(ignoreScenes);
	marks->addSpacing(8);
	marks->addWidget(makeHeading(uiText(UiKey::SetExternalMarksHeading), marksGroup));
	marks->addWidget(makeNote(uiText(UiKey::SetExternalMarksNote), marksGroup));
	marksSong = new QCheckBox(uiText(UiKey::SetMarksSong), marksGroup);
	marks->addWidget(marksSong);
	marksTopic = new QCheckBox(uiText(UiKey::SetMarksTopic), marksGroup);
	marks->addWidget(marksTopic);
	marksExternal = new QCheckBox(uiText(UiKey::SetMarksExternal), marksGroup);
	marks->addWidget(marksExternal);
	marks->addWidget(makeNote(uiText(UiKey::SetMarksNote), marksGroup));
	layout->addWidget(marksGroup);

	// Replay buffer and files
	auto *filesGroup = new QGroupBox(uiText(UiKey::SetFilesGroup), content);
	auto *files = new QVBoxLayout(filesGroup);
	autoBuffer = new QCheckBox(uiText(UiKey::SetAutoBuffer), filesGroup);
	files->addWidget(autoBuffer);
	bufferNote = makeNote(QString(), filesGroup);
	files->addWidget(bufferNote);
	renameFiles = new QCheckBox(uiText(UiKey::SetRename), filesGroup);
	files->addWidget(renameFiles);
	files->addWidget(new QLabel(uiText(UiKey::SetExportDir), filesGroup));
	auto *dirRow = new QHBoxLayout;
	exportDir = new QLineEdit(filesGroup);
	exportDir->setPlaceholderText(uiText(UiKey::SetExportDirPlaceholder));
	exportDir->setAccessibleName(uiText(UiKey::SetExportDir));
	dirRow->addWidget(exportDir, 1);
	auto *pick = new QPushButton(uiText(UiKey::SetPick), filesGroup);
	dirRow->addWidget(pick);
	files->addLayout(dirRow);
	layout->addWidget(filesGroup);

	// Replay on stream
	auto *replayGroup = new QGroupBox(uiText(UiKey::SetReplayGroup), content);
	auto *replay = new QVBoxLayout(replayGroup);
	auto *replayForm = new QFormLayout;
	replaySeconds = new QSpinBox(replayGroup);
	replaySeconds->setRange(SettingsRange::ReplaySecondsMin, SettingsRange::ReplaySecondsMax);
	replaySeconds->setSuffix(uiText(UiKey::SetSecondsSuffix));
	replayForm->addRow(uiText(UiKey::SetReplaySeconds), replaySeconds);
	replaySpeed = new QSpinBox(replayGroup);
	replaySpeed->setRange(SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax);
	replaySpeed->setSingleStep(10);
	replaySpeed->setSuffix(QStringLiteral(" %"));
	replayForm->addRow(uiText(UiKey::SetReplaySpeed), replaySpeed);
	replayRepeat = new QSpinBox(replayGroup);
	replayRepeat->setRange(SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax);
	replayRepeat->setAccessibleName(uiText(UiKey::SetReplayRepeat));
	replayForm->addRow(uiText(UiKey::SetReplayRepeat), replayRepeat);
	replayScene = makeNameCombo(nullptr, replayGroup);
	replayForm->addRow(uiText(UiKey::SetReplayScene), replayScene);
	replayMedia = makeNameCombo(nullptr, replayGroup);
	replayForm->addRow(uiText(UiKey::SetReplayMedia), replayMedia);
	replay->addLayout(replayForm);
	replayFromMemory = new QCheckBox(uiText(UiKey::SetReplayFromMemory), replayGroup);
	replay->addWidget(replayFromMemory);
	auto *replayButtons = new QHBoxLayout;
	auto *makeScene = new QPushButton(uiText(UiKey::SetMakeScene), replayGroup);
	auto *addScene = new QPushButton(uiText(UiKey::SetAddToScene), replayGroup);
	replayButtons->addWidget(makeScene);
	replayButtons->addWidget(addScene);
	replayButtons->addStretch();
	replay->addLayout(replayButtons);
	replayResult = new QLabel(replayGroup);
	replayResult->setWordWrap(true);
	replay->addWidget(replayResult);
	replay->addWidget(makeNote(uiText(UiKey::SetReplayNote), replayGroup));
	replay->addSpacing(8);
	replay->addWidget(makeHeading(uiText(UiKey::SetVantorHeading), replayGroup));
	auto *vantorForm = new QFormLayout;
	vantorStart = new QLineEdit(replayGroup);
	vantorStart->setAccessibleName(uiText(UiKey::SetVantorStart));
	vantorForm->addRow(uiText(UiKey::SetVantorStart), vantorStart);
	vantorEnd = new QLineEdit(replayGroup);
	vantorEnd->setAccessibleName(uiText(UiKey::SetVantorEnd));
	vantorForm->addRow(uiText(UiKey::SetVantorEnd), vantorEnd);
	replay->addLayout(vantorForm);
	const bool companion = companionInstalled();
	replay->addWidget(
	    makeNote(uiText(companion ? UiKey::SetVantorNote : UiKey::SetVantorUnavailable), replayGroup));
	vantorStart->setEnabled(companion);
	vantorEnd->setEnabled(companion);
	layout->addWidget(replayGroup);

	// Recap
	auto *recapGroup = new QGroupBox(uiText(UiKey::SetRecapGroup), content);
	auto *recap = new QVBoxLayout(recapGroup);
	auto *recapForm = new QFormLayout;
	recapScene = makeNameCombo(UiKey::SetRecapScene, recapGroup);
	recapForm->addRow(uiText(UiKey::SetRecapScene), recapScene);
	recapMedia = makeNameCombo(UiKey::SetRecapMedia, recapGroup);
	recapForm->addRow(uiText(UiKey::SetRecapMedia), recapMedia);
	recapText = makeNameCombo(UiKey::SetRecapText, recapGroup);
	recapForm->addRow(uiText(UiKey::SetRecapText), recapText);
	recapSeconds = new QSpinBox(recapGroup);
	recapSeconds->setRange(SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax);
	recapSeconds->setSuffix(uiText(UiKey::SetSecondsSuffix));
	recapSeconds->setAccessibleName(uiText(UiKey::SetRecapSeconds));
	recapForm->addRow(uiText(UiKey::SetRecapSeconds), recapSeconds);
	recap->addLayout(recapForm);
	auto *recapButtons = new QHBoxLayout;
	auto *makeRecap = new QPushButton(uiText(UiKey::SetMakeRecapScene), recapGroup);
	auto *addRecap = new QPushButton(uiText(UiKey::SetAddToScene), recapGroup);
	recapButtons->addWidget(makeRecap);
	recapButtons->addWidget(addRecap);
	recapButtons->addStretch();
	recap->addLayout(recapButtons);
	recapResult = new QLabel(recapGroup);
	recapResult->setWordWrap(true);
	recap->addWidget(recapResult);
	recap->addWidget(makeNote(uiText(UiKey::SetRecapNote), recapGroup));
	layout->addWidget(recapGroup);

	layout->addStretch();
	scroll->setWidget(content);

	// A replay needs a clip.
	connect(pressReplay, &QCheckBox::toggled, this, [this](bool on) {
		if (on)
			pressClip->setChecked(true);
	});
	connect(pressClip, &QCheckBox::toggled, this, [this](bool on) {
		if (!on)
			pressReplay->setChecked(false);
	});
	connect(sceneMarks, &QCheckBox::toggled, ignoreScenes, &QWidget::setEnabled);
	connect(pick, &QPushButton::clicked, this, &SettingsDialog::pickExportFolder);
	connect(makeScene, &QPushButton::clicked, this, [this] { setupReplayScene(false); });
	connect(addScene, &QPushButton::clicked, this, [this] { setupReplayScene(true); });
	connect(makeRecap, &QPushButton::clicked, this, [this] { setupRecap(false); });
	connect(addRecap, &QPushButton::clicked, this, [this] { setupRecap(true); });
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
	vantorStart->setText(s.vantor_start);
	vantorEnd->setText(s.vantor_end);
	recapScene->setCurrentText(s.recap_scene);
	recapMedia->setCurrentText(s.recap_media);
	recapText->setCurrentText(s.recap_text);

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

	replayScene->setCurrentText(s.replay_scene);
	replayMedia->setCurrentText(s.replay_media);
	refillLists();

	const BufferStatus buffer = engine.bufferStatus();
	QString line;
	if (buffer.enabled) {
		if (buffer.estimate_mb < 1)
			line = uiText(UiKey::SetBufferNowUnknown).arg(buffer.seconds);
		else
			line = uiText(UiKey::SetBufferNow)
				   .arg(QString::number(buffer.seconds),
					QString::number(buffer.video_kbps + std::max<int64_t>(buffer.audio_kbps, 0)),
					QString::number(buffer.estimate_mb));
	} else {
		line = uiText(UiKey::BufferDisabled);
	}
	bufferNote->setText(line + QLatin1Char('\n') + uiText(UiKey::SetBufferNote));
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
	refill(recapText, sourceNames(isRecapTextSource), s.recap_text);
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
		engine.replayPlayer().clearProblem();
		replayResult->setText(uiText(add ? UiKey::SetupAdded : UiKey::SetupMade));
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
	const bool ok = setupRecapScene(engine.recapPlayer(), add, message);
	saveSettings();
	refillLists();
	recapResult->setText(ok ? uiText(add ? UiKey::RecapSetupAdded : UiKey::RecapSetupMade) : message);
}

void SettingsDialog::pickExportFolder()
{
	const QString folder = QFileDialog::getExistingDirectory(this, uiText(UiKey::SetExportDir), exportDir->text(),
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

	saveSettings();
	engine.applyReplaySettings();
	emit engine.statusChanged();
	QDialog::accept();
}
