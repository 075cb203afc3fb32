#pragma once
// Scriptable stand-ins for the media and text sources the players drive. They register under the
// ids the plug-in looks for ("ffmpeg_source", and the recap's text type), so the players run through
// the real libobs media calls in a process without video or plug-ins.

#include "config/Settings.h"
#include "playback/RecapScene.h"
#include "playback/ReplayScene.h"

#include <obs.hpp>

#include <QDir>
#include <QElapsedTimer>
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace fake {

// How a clip behaves once loaded: its duration, or an open error.
struct ClipScript {
	long long durationMs = 5000;
	bool openError = false;
	bool autoEnd = true; // reaches ENDED at its duration
};

inline std::map<QString, ClipScript> &clips()
{
	static std::map<QString, ClipScript> map;
	return map;
}

struct Media {
	obs_source_t *source = nullptr;
	int state = OBS_MEDIA_STATE_NONE;
	long long posMs = 0;
	QElapsedTimer since;
	long long durationMs = 0;
	bool autoEnd = true;
	bool frozen = false; // time does not move while playing
	std::vector<long long> seeks;
	std::vector<std::string> loads; // every non-empty local_file applied
	int stops = 0;
	std::string localFile;
	size_t endOnSeek = 0; // this seek (1-based) lands at the end, as a seek past the last frame does
	// Seeks land on the last keyframe at or before the target, as OBS's media source does (0: exact).
	long long keyframeEveryMs = 0;
	// Time moves by this much per time query, like frames decoded one by one, instead of with the clock.
	long long stepMs = 0;
	// Frames already decoded when a seek is posted: time rises this many queries more, then pauses
	// for seekLag queries before the seek takes.
	int framesInFlight = 0, seekLag = 0;
	long long pendingSeekMs = -1;

	long long time()
	{
		if (state != OBS_MEDIA_STATE_PLAYING || frozen)
			return posMs;
		if (pendingSeekMs >= 0) {
			if (framesInFlight > 0 && framesInFlight--)
				return posMs += stepMs;
			if (seekLag > 0 && seekLag--)
				return posMs;
			posMs = keyframeEveryMs ? pendingSeekMs / keyframeEveryMs * keyframeEveryMs : pendingSeekMs;
			pendingSeekMs = -1;
		}
		long long t = stepMs ? (posMs += stepMs) : posMs + since.elapsed();
		if (autoEnd && durationMs > 0 && t >= durationMs) {
			state = OBS_MEDIA_STATE_ENDED;
			posMs = durationMs;
			return posMs;
		}
		return t;
	}
	int mediaState()
	{
		if (!stepMs)
			time();
		return state;
	}
	void seek(long long ms)
	{
		seeks.push_back(ms);
		if (framesInFlight > 0 || seekLag > 0) {
			pendingSeekMs = ms;
			return;
		}
		posMs = keyframeEveryMs ? ms / keyframeEveryMs * keyframeEveryMs : ms;
		since.restart();
		if (endOnSeek && seeks.size() == endOnSeek) {
			state = OBS_MEDIA_STATE_ENDED;
			posMs = durationMs;
		}
	}
	void update(obs_data_t *settings)
	{
		const std::string file = obs_data_get_string(settings, "local_file");
		if (file == localFile && !file.empty())
			return;
		localFile = file;
		if (file.empty()) {
			state = OBS_MEDIA_STATE_NONE;
			return;
		}
		loads.push_back(file);
		const QString key = normalizedPathKey(QString::fromStdString(file));
		auto it = clips().find(key);
		if (it == clips().end() || it->second.openError) {
			state = OBS_MEDIA_STATE_ERROR;
			return;
		}
		durationMs = it->second.durationMs;
		autoEnd = it->second.autoEnd;
		state = OBS_MEDIA_STATE_PLAYING;
		posMs = 0;
		since.restart();
		obs_source_media_started(source);
	}
};

inline Media *media(obs_source_t *source)
{
	return source ? static_cast<Media *>(obs_obj_get_data(source)) : nullptr;
}

inline void registerSources()
{
	static bool done = false;
	if (done)
		return;
	done = true;
	obs_source_info m = {};
	m.id = "ffmpeg_source";
	m.type = OBS_SOURCE_TYPE_INPUT;
	m.output_flags = OBS_SOURCE_CONTROLLABLE_MEDIA;
	m.get_name = [](void *) { return "Fake media"; };
	m.create = [](obs_data_t *settings, obs_source_t *source) -> void * {
		auto *f = new Media();
		f->source = source;
		f->update(settings);
		return f;
	};
	m.destroy = [](void *data) { delete static_cast<Media *>(data); };
	m.update = [](void *data, obs_data_t *settings) { static_cast<Media *>(data)->update(settings); };
	m.media_get_state = [](void *data) { return obs_media_state(static_cast<Media *>(data)->mediaState()); };
	m.media_get_time = [](void *data) -> int64_t { return static_cast<Media *>(data)->time(); };
	m.media_get_duration = [](void *data) -> int64_t {
		auto *f = static_cast<Media *>(data);
		return f->state == OBS_MEDIA_STATE_NONE || f->state == OBS_MEDIA_STATE_ERROR ? 0 : f->durationMs;
	};
	m.media_set_time = [](void *data, int64_t ms) { static_cast<Media *>(data)->seek(ms); };
	m.media_stop = [](void *data) {
		auto *f = static_cast<Media *>(data);
		f->state = OBS_MEDIA_STATE_STOPPED;
		++f->stops;
	};
	obs_register_source(&m);

	obs_source_info t = {};
	t.id = recapTextSourceType();
	t.type = OBS_SOURCE_TYPE_INPUT;
	t.output_flags = 0;
	t.get_name = [](void *) { return "Fake text"; };
	t.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
	t.destroy = [](void *) {};
	t.update = [](void *, obs_data_t *) {};
	obs_register_source(&t);
}

// Holds every public source created during one test, as the frontend does with its scenes, and
// removes them all at the end.
class Objects {
public:
	Objects() { signal_handler_connect(obs_get_signal_handler(), "source_create", &Objects::created, this); }
	~Objects()
	{
		signal_handler_disconnect(obs_get_signal_handler(), "source_create", &Objects::created, this);
		for (auto it = sources.rbegin(); it != sources.rend(); ++it)
			obs_source_remove(*it);
		sources.clear();
	}
	obs_scene_t *scene(const char *name)
	{
		OBSSceneAutoRelease s = obs_scene_create(name);
		sources.emplace_back(obs_scene_get_source(s));
		return s.Get();
	}
	obs_source_t *source(const char *id, const char *name, obs_data_t *settings = nullptr)
	{
		OBSSourceAutoRelease s = obs_source_create(id, name, settings, nullptr);
		sources.emplace_back(s.Get());
		return s.Get();
	}
	// Sources made by the code under test, found by name, removed at the end too.
	void adopt(const char *name)
	{
		OBSSourceAutoRelease s = obs_get_source_by_name(name);
		if (s)
			sources.emplace_back(s.Get());
	}

private:
	static void created(void *data, calldata_t *cd)
	{
		auto *self = static_cast<Objects *>(data);
		if (auto *source = static_cast<obs_source_t *>(calldata_ptr(cd, "source")))
			self->sources.emplace_back(source);
	}
	std::vector<OBSSource> sources;
};

// Restores the process-wide settings after a test.
class SettingsGuard {
public:
	SettingsGuard() : saved(settings()) {}
	~SettingsGuard() { settings() = saved; }

private:
	Settings saved;
};

} // namespace fake
