#pragma once

#include <QWidget>

// The controls inside the dock's scroll area. Asks for the dock's width so OBS docks it narrow.
class DockContent : public QWidget {
public:
	using QWidget::QWidget;
	QSize sizeHint() const override;
};
