#pragma once

#include <QObject>

// Plays a saved clip back on stream inside the replay scene.
class InstantReplay : public QObject {
	Q_OBJECT

public:
	explicit InstantReplay(QObject *parent = nullptr) : QObject(parent) {}
	void stop() {}
};
