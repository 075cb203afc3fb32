#pragma once

#include <QWidget>

// The plug-in's dock panel.
class LumarkDock : public QWidget {
	Q_OBJECT

public:
	explicit LumarkDock(QWidget *parent = nullptr);
	QSize sizeHint() const override;

public slots:
	// One pass after the frontend has laid out its docks.
	void layoutOnce();
};
