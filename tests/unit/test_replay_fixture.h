#pragma once
// Shared fixture of the instant replay tests: a replay scene placed in a main scene, a scripted
// media source, and a recorder of the player's signals.
#include "test_playback_fakes.h"

#include "FrontendDouble.h"
#include "TestSupport.h"
#include "playback/InstantReplay.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace replaytest {

// Records the player's signals.
struct Spy {
	QObject context; // disconnects with the spy
	explicit Spy(InstantReplay &p)
	{
		QObject::connect(&p, &InstantReplay::started, &context, [this](const QString &f, long long id) {
			started.push_back({f, id});
		});
		QObject::connect(&p, &InstantReplay::finished, &context, [this](const QString &f, long long id) {
			finished.push_back({f, id});
		});
		QObject::connect(&p, &InstantReplay::stateChanged, &context, [this] { ++changed; });
	}
	std::vector<std::pair<QString, long long>> started, finished;
	int changed = 0;
};

class Replay : public ::testing::Test {
protected:
	void SetUp() override
	{
		fake::registerSources();
		FrontendDouble::reset();
		const int serial = ++counter;
		sceneName = "Replay Scene #" + std::to_string(serial);
		mediaName = "Replay Media #" + std::to_string(serial);
		settings().replay_scene = QString::fromStdString(sceneName);
		settings().replay_media = QString::fromStdString(mediaName);
		settings().replay_seconds = 1;
		settings().replay_speed = 100;
		settings().replay_repeat = 1;
		settings().vantor_start.clear();
		settings().vantor_end.clear();
		replayScene = objects.scene(sceneName.c_str());
		media = objects.source("ffmpeg_source", mediaName.c_str());
		obs_scene_add(replayScene, media);
		const std::string mainName = "Main #" + std::to_string(serial);
		obs_scene_t *main = objects.scene(mainName.c_str());
		FrontendDouble::state().sceneNames.push_back(mainName);
		placement = obs_scene_add(main, obs_scene_get_source(replayScene));
		obs_sceneitem_set_visible(placement, false);
	}
	void TearDown() override
	{
		player.abort();
		fake::clips().clear();
		FrontendDouble::reset();
	}
	QString clip(const char *name, long long durationMs, bool openError = false)
	{
		const QString path = QStringLiteral("/clips/%1").arg(QString::fromUtf8(name));
		fake::clips()[normalizedPathKey(path)] = {durationMs, openError, true};
		return path;
	}
	bool waitState(InstantReplay::State state, int limitMs = 3000)
	{
		return waitUntil([&] { return player.state() == state; }, limitMs);
	}
	fake::Media *fm() { return fake::media(media); }

	fake::SettingsGuard guard;
	fake::Objects objects;
	InstantReplay player;
	std::string sceneName, mediaName;
	obs_scene_t *replayScene = nullptr;
	obs_source_t *media = nullptr;
	obs_sceneitem_t *placement = nullptr;
	static inline int counter = 0;
};

} // namespace replaytest
