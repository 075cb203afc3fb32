// Status and settings.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "config/Settings.h"
#include "engine/Engine.h"
#include "playback/InstantReplay.h"
#include "playback/ReplayScene.h"

#include <obs.hpp>

#include <algorithm>

namespace remote {

namespace {
void setText(obs_data_t *data, const char *key, const QString &text)
{
	obs_data_set_string(data, key, text.toUtf8().constData());
}

// A copy of the fields SetConfig may change; read on the calling thread, applied on the UI thread.
struct ConfigChange {
	struct Flag {
		const char *key;
		bool Settings::*field;
		bool present = false;
		bool value = false;
	};
	struct Number {
		const char *key;
		int Settings::*field;
		int low, high;
		bool present = false;
		int value = 0;
	};
	struct Text {
		const char *key;
		QString Settings::*field;
		bool present = false;
		QString value;
	};

	Flag flags[11] = {
	    {"press_clip", &Settings::press_clip},
	    {"press_replay", &Settings::press_replay},
	    {"scene_marks", &Settings::scene_marks},
	    {"marks_start", &Settings::marks_start},
	    {"marks_song", &Settings::marks_song},
	    {"marks_topic", &Settings::marks_topic},
	    {"marks_external", &Settings::marks_external},
	    {"record_chapters", &Settings::record_chapters},
	    {"auto_start_buffer", &Settings::auto_start_buffer},
	    {"rename_files", &Settings::rename_files},
	    {"replay_from_memory", &Settings::replay_from_memory},
	};
	Number numbers[4] = {
	    {"replay_seconds", &Settings::replay_seconds, SettingsRange::ReplaySecondsMin,
	     SettingsRange::ReplaySecondsMax},
	    {"replay_speed", &Settings::replay_speed, SettingsRange::ReplaySpeedMin, SettingsRange::ReplaySpeedMax},
	    {"replay_repeat", &Settings::replay_repeat, SettingsRange::ReplayRepeatMin, SettingsRange::ReplayRepeatMax},
	    {"recap_seconds", &Settings::recap_seconds, SettingsRange::RecapSecondsMin, SettingsRange::RecapSecondsMax},
	};
	Text texts[8] = {
	    {"export_dir", &Settings::export_dir},     {"replay_scene", &Settings::replay_scene},
	    {"replay_media", &Settings::replay_media}, {"recap_scene", &Settings::recap_scene},
	    {"recap_media", &Settings::recap_media},   {"recap_text", &Settings::recap_text},
	    {"vantor_start", &Settings::vantor_start}, {"vantor_end", &Settings::vantor_end},
	};
	bool hasIgnoreScenes = false;
	QStringList ignoreScenes;
	bool refused = false; // a text over the limit: nothing is applied

	void read(obs_data_t *request)
	{
		if (!request)
			return;
		for (Flag &f : flags)
			if ((f.present = obs_data_has_user_value(request, f.key)))
				f.value = obs_data_get_bool(request, f.key);
		for (Number &n : numbers) {
			if ((n.present = obs_data_has_user_value(request, n.key))) {
				// Clamped as 64-bit: a huge value must not wrap into the range.
				const long long v = obs_data_get_int(request, n.key);
				n.value = static_cast<int>(std::clamp<long long>(v, n.low, n.high));
			}
		}
		for (Text &t : texts) {
			if ((t.present = obs_data_has_user_value(request, t.key))) {
				t.value = QString::fromUtf8(obs_data_get_string(request, t.key));
				refused = refused || tooLong(t.value);
			}
		}
		if ((hasIgnoreScenes = obs_data_has_user_value(request, "ignore_scenes"))) {
			OBSDataArrayAutoRelease array = obs_data_get_array(request, "ignore_scenes");
			const size_t count = array ? obs_data_array_count(array) : 0;
			for (size_t i = 0; i < count; ++i) {
				OBSDataAutoRelease item = obs_data_array_item(array, i);
				const QString name = QString::fromUtf8(obs_data_get_string(item, "name"));
				// Empty names never match a scene; the settings file drops them on load as well.
				if (!name.isEmpty())
					ignoreScenes.append(name);
				refused = refused || tooLong(name);
			}
		}
	}

	void apply(Settings &s) const
	{
		for (const Flag &f : flags)
			if (f.present)
				s.*(f.field) = f.value;
		for (const Number &n : numbers)
			if (n.present)
				s.*(n.field) = n.value;
		for (const Text &t : texts)
			if (t.present)
				s.*(t.field) = t.value;
		if (hasIgnoreScenes)
			s.ignore_scenes = ignoreScenes;
	}
};
} // namespace

void requestGetStatus(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		Engine &e = engine();
		setText(reply, "session_id", e.currentSessionId());
		setText(reply, "viewed_id", e.viewedSessionId());
		obs_data_set_int(reply, "stream_ms", e.offsetNow());

		const BufferStatus b = e.bufferStatus();
		OBSDataAutoRelease buffer = obs_data_create();
		obs_data_set_bool(buffer, "enabled", b.enabled);
		obs_data_set_bool(buffer, "active", b.active);
		obs_data_set_int(buffer, "seconds", b.seconds);
		obs_data_set_int(buffer, "size_limit_mb", b.size_limit_mb);
		obs_data_set_int(buffer, "video_kbps", b.video_kbps);
		obs_data_set_int(buffer, "audio_kbps", b.audio_kbps);
		obs_data_set_int(buffer, "estimate_mb", b.estimate_mb);
		obs_data_set_bool(buffer, "capped_by_size", b.capped_by_size);
		obs_data_set_obj(reply, "buffer", buffer);

		obs_data_set_int(reply, "replay_state", static_cast<int>(e.replayPlayer().state()));
		obs_data_set_int(reply, "replay_problem", e.replayPlayer().problem());
		obs_data_set_int(reply, "replay_placed", replayPlacementCount());
		obs_data_set_int(reply, "replay_visible", replayVisibleCount());
		obs_data_set_int(reply, "replay_latency_ms", e.lastReplayLatencyMs());
		obs_data_set_int(reply, "record_chapters_added", e.recordingChaptersAdded());
		obs_data_set_bool(reply, "save_pending",
				  !e.waitingPressRefs().empty() || !e.pendingPressRefs().empty());
		setText(reply, "message", e.statusText());
		writeOk(reply, true);
	});
}

void requestSetConfig(obs_data_t *request, obs_data_t *reply, void *)
{
	ConfigChange change;
	change.read(request);
	if (change.refused) {
		writeFailure(reply, errors::TooLong);
		return;
	}
	runOnUiThread(reply, [&]() {
		change.apply(settings());
		engine().applyReplaySettings();
		const bool saved = saveSettings();
		emit engine().statusChanged();
		if (saved)
			writeOk(reply, true);
		else
			writeFailure(reply, errors::ConfigNotSaved);
	});
}

} // namespace remote
