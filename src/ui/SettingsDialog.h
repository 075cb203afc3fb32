#pragma once

#include <QDialog>

// Every setting of the plug-in in one modal dialog.
class SettingsDialog : public QDialog {
	Q_OBJECT

public:
	explicit SettingsDialog(QWidget *parent = nullptr);
};
