#pragma once

#include <QObject>
#include <QString>

// Mode of Engine::press; the numbers match the hotkey actions.
enum class PressMode { Default = 0, MarkOnly = 1, Replay = 2 };

class InstantReplay;
class Recap;

// The one object that runs sessions, presses, marks and replay-buffer saves. Lives on the UI thread.
class Engine : public QObject {
	Q_OBJECT

public:
	explicit Engine(QObject *parent = nullptr);
	~Engine() override;

	// The module's single instance, created on first use and never deleted.
	static Engine *instance();

	bool isReady() const { return ready; }
	bool isStopped() const { return stopped; }

	long long press(PressMode mode, const QString &label);
	void stopReplay();

	void onStreamingStarted();
	void onStreamingStopped();
	void onRecordingStarted();
	void onRecordingStopped();
	void onRecordingPaused();
	void onRecordingUnpaused();
	void onSceneChanged();
	void onBufferStarted();
	void onBufferStopped();
	void onReplayBufferSaved();
	void onFinishedLoading();
	void stopPlayback();
	void shutdown();

	Recap &recapPlayer();
	InstantReplay &replayPlayer();

signals:
	void sessionChanged();
	void sessionListChanged();
	void statusChanged();
	void notify(const QString &type, const QString &json);

private:
	bool ready = false;
	bool stopped = false;
};
