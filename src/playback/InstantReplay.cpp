#include "playback/InstantReplay.h"

InstantReplay::InstantReplay(QObject *parent) : QObject(parent)
{
	tick.setInterval(40);
}

InstantReplay::~InstantReplay() = default;

bool InstantReplay::play(const QString &, long long)
{
	return false;
}

void InstantReplay::stop() {}
void InstantReplay::abort() {}

bool InstantReplay::isLoaded(const QString &) const
{
	return false;
}

void InstantReplay::clearProblem()
{
	problem_ = NoProblem;
	emit stateChanged();
}

long long InstantReplay::leadFor(const QString &) const
{
	return 700;
}
