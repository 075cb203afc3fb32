#pragma once

#include <QDialog>

class Engine;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QVBoxLayout;
struct Settings;

// Every setting of the plug-in in one modal dialog, plus the buttons that make the replay and
// recap scenes. OK writes everything back; Cancel leaves the settings as they were.
class SettingsDialog : public QDialog {
	Q_OBJECT

public:
	explicit SettingsDialog(Engine &engine, QWidget *parent = nullptr);

	void accept() override;

private:
	friend struct SettingsDialogTestAccess;

	void buildLayout();
	// One builder per group, top to bottom.
	QGroupBox *buildPressGroup(QWidget *content);
	QGroupBox *buildMarksGroup(QWidget *content);
	QGroupBox *buildFilesGroup(QWidget *content);
	QGroupBox *buildReplayGroup(QWidget *content);
	void addVantorRows(QVBoxLayout *replay, QGroupBox *group);
	QGroupBox *buildRecapGroup(QWidget *content);
	void loadValues();
	void loadIgnoreScenes(const Settings &s);
	void refillLists();
	void setupReplayScene(bool add);
	void setupRecap(bool add);
	void pickExportFolder();

	Engine &engine;

	QCheckBox *pressClip = nullptr;
	QCheckBox *pressReplay = nullptr;
	QCheckBox *sceneMarks = nullptr;
	QCheckBox *marksStart = nullptr;
	QCheckBox *marksSong = nullptr;
	QCheckBox *marksTopic = nullptr;
	QCheckBox *marksExternal = nullptr;
	QCheckBox *recordChapters = nullptr;
	QListWidget *ignoreScenes = nullptr;
	QCheckBox *autoBuffer = nullptr;
	QLabel *bufferNote = nullptr;
	QCheckBox *renameFiles = nullptr;
	QLineEdit *exportDir = nullptr;
	QSpinBox *replaySeconds = nullptr;
	QSpinBox *replaySpeed = nullptr;
	QSpinBox *replayRepeat = nullptr;
	QCheckBox *replayFromMemory = nullptr;
	QCheckBox *highlightsVideo = nullptr;
	QSpinBox *highlightSeconds = nullptr;
	QLineEdit *vantorStart = nullptr;
	QLineEdit *vantorEnd = nullptr;
	QComboBox *replayScene = nullptr;
	QComboBox *replayMedia = nullptr;
	QLabel *replayResult = nullptr;
	QComboBox *recapScene = nullptr;
	QComboBox *recapMedia = nullptr;
	QComboBox *recapText = nullptr;
	QSpinBox *recapSeconds = nullptr;
	QLabel *recapResult = nullptr;
};
