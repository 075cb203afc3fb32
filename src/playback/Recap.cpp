#include "playback/Recap.h"

struct Recap::Hook {};

Recap::Recap(QObject *parent) : QObject(parent) {}
Recap::~Recap() = default;

void Recap::setSessions(RecapSessions *s)
{
	sessions = s;
}

void Recap::start() {}
void Recap::reset() {}

RecapStatus Recap::status() const
{
	return {};
}

bool Recap::isLoaded(const QString &) const
{
	return false;
}

bool Recap::validateRecapNames(QString *)
{
	return false;
}

QString Recap::fileKey(const QString &path)
{
	return path;
}
