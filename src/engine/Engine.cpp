#include "engine/Engine.h"

#include "playback/InstantReplay.h"
#include "playback/Recap.h"

#include <memory>
#include <mutex>

namespace {
InstantReplay &sharedReplay()
{
	static InstantReplay replay;
	return replay;
}
Recap &sharedRecap()
{
	static Recap recap;
	return recap;
}
} // namespace

Engine::Engine(QObject *parent) : QObject(parent) {}

Engine::~Engine() = default;

Engine *Engine::instance()
{
	static std::once_flag once;
	static Engine *engine = nullptr;
	std::call_once(once, [] { engine = new Engine(); });
	return engine;
}

long long Engine::press(PressMode, const QString &)
{
	return 0;
}

void Engine::stopReplay() {}
void Engine::onStreamingStarted() {}
void Engine::onStreamingStopped() {}
void Engine::onRecordingStarted() {}
void Engine::onRecordingStopped() {}
void Engine::onRecordingPaused() {}
void Engine::onRecordingUnpaused() {}
void Engine::onSceneChanged() {}
void Engine::onBufferStarted() {}
void Engine::onBufferStopped() {}
void Engine::onReplayBufferSaved() {}

void Engine::onFinishedLoading()
{
	ready = true;
}

void Engine::stopPlayback() {}

void Engine::shutdown()
{
	stopped = true;
}

Recap &Engine::recapPlayer()
{
	return sharedRecap();
}

InstantReplay &Engine::replayPlayer()
{
	return sharedReplay();
}
