// Status and settings.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "config/Settings.h"
#include "engine/Engine.h"
#include "playback/InstantReplay.h"
#include "playback/ReplayScene.h"

#include <obs.hpp>

#include <vector>

namespace remote {

namespace {
// The settings a SetConfig names; read on the calling thread, applied on the UI thread.
struct ConfigChange {
	Settings values;
	std::vector<const SettingField *> given;
	bool hasIgnoreScenes = false;
	bool refused = false; // a text over the limit: nothing is applied

	void read(obs_data_t *request)
	{
		if (!request)
			return;
		for (const SettingField &field : settingFields()) {
			if (!field.remote || !readSetting(request, field, values))
				continue;
			given.push_back(&field);
			refused = refused || (field.text && tooLong(values.*field.text));
		}
		if ((hasIgnoreScenes = obs_data_has_user_value(request, SettingsKey::IgnoreScenes))) {
			values.ignore_scenes = readIgnoreScenes(request);
			for (const QString &name : values.ignore_scenes)
				refused = refused || tooLong(name);
		}
	}

	void apply(Settings &s) const
	{
		for (const SettingField *field : given)
			copySetting(*field, values, s);
		if (hasIgnoreScenes)
			s.ignore_scenes = values.ignore_scenes;
	}
};

void writeBufferStatus(obs_data_t *data, const BufferStatus &b)
{
	OBSDataAutoRelease buffer = obs_data_create();
	obs_data_set_bool(buffer, keys::Enabled, b.enabled);
	obs_data_set_bool(buffer, keys::Active, b.active);
	obs_data_set_int(buffer, keys::Seconds, b.seconds);
	obs_data_set_int(buffer, keys::SizeLimitMb, b.size_limit_mb);
	obs_data_set_int(buffer, keys::VideoKbps, b.video_kbps);
	obs_data_set_int(buffer, keys::AudioKbps, b.audio_kbps);
	obs_data_set_int(buffer, keys::EstimateMb, b.estimate_mb);
	obs_data_set_bool(buffer, keys::CappedBySize, b.capped_by_size);
	obs_data_set_obj(data, keys::Buffer, buffer);
}
} // namespace

Result requestGetStatus(obs_data_t *)
{
	return onUiThread([]() {
		Engine &e = engine();
		Result result = Result::success();
		obs_data_t *data = result.data();
		result.setText(keys::SessionId, e.currentSessionId());
		result.setText(keys::ViewedId, e.viewedSessionId());
		obs_data_set_int(data, keys::StreamMs, e.offsetNow());
		writeBufferStatus(data, e.bufferStatus());
		obs_data_set_int(data, keys::ReplayState, static_cast<int>(e.players().replay().state()));
		obs_data_set_int(data, keys::ReplayProblem, static_cast<int>(e.players().replay().problem()));
		obs_data_set_int(data, keys::ReplayPlaced, replayPlacementCount());
		obs_data_set_int(data, keys::ReplayVisible, replayVisibleCount());
		const EngineFigures figures = e.figures();
		obs_data_set_int(data, keys::ReplayLatencyMs, figures.replayLatencyMs);
		obs_data_set_int(data, keys::RecordChaptersAdded, figures.recordingChaptersAdded);
		obs_data_set_bool(data, keys::SavePending, figures.savePending);
		result.setText(keys::Message, e.statusText());
		return result;
	});
}

Result requestSetConfig(obs_data_t *request)
{
	ConfigChange change;
	change.read(request);
	if (change.refused)
		return Result::failure(errors::TooLong);
	return onUiThread([&]() {
		change.apply(settings());
		engine().players().applyReplaySettings();
		const bool saved = saveSettings();
		emit engine().statusChanged();
		return saved ? Result::success() : Result::failure(errors::ConfigNotSaved);
	});
}

} // namespace remote
