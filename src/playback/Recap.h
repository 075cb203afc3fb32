#pragma once

#include <QObject>

// Plays the clips of the latest finished session while the recap scene is live.
class Recap : public QObject {
	Q_OBJECT

public:
	explicit Recap(QObject *parent = nullptr) : QObject(parent) {}
	void start() {}
};
