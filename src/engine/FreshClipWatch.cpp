#include "engine/FreshClipWatch.h"

#include "engine/EngineSupport.h"
#include "playback/ReplayScene.h"

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/platform.h>
#include <util/util.hpp>

#include <QDir>

#include <algorithm>
#include <iterator>

bool samePath(const QString &a, const QString &b)
{
#if defined(_WIN32) || defined(__APPLE__)
	return normalizedPathKey(a) == normalizedPathKey(b);
#else
	return QDir::cleanPath(a) == QDir::cleanPath(b);
#endif
}

namespace {
// As the replay buffer output builds the name of its next save (generate_filename in obs-ffmpeg-mux.c).
QString obsReplayPathNow()
{
	OBSOutputAutoRelease output = obs_frontend_get_replay_buffer_output();
	if (!output)
		return {};
	if (obs_output_active(output)) {
		// "get_last_replay" answers only while no save is being written, whose name is unknown here.
		calldata_t cd = {};
		const bool idle = proc_handler_call(obs_output_get_proc_handler(output), "get_last_replay", &cd) &&
				  calldata_string(&cd, "path");
		calldata_free(&cd);
		if (!idle)
			return {};
	}
	OBSDataAutoRelease settings = obs_output_get_settings(output);
	const char *dir = obs_data_get_string(settings, "directory");
	BPtr<char> name = os_generate_formatted_filename(obs_data_get_string(settings, "extension"),
							 obs_data_get_bool(settings, "allow_spaces"),
							 obs_data_get_string(settings, "format"));
	if (!dir || !*dir || !name)
		return {};
	QString path = QString::fromUtf8(dir).replace(QLatin1Char('\\'), QLatin1Char('/'));
	if (!path.endsWith(QLatin1Char('/')))
		path += QLatin1Char('/');
	return path + QString::fromUtf8(name.Get());
}
} // namespace

FreshClipWatch::FreshClipWatch()
{
	timer.setInterval(EngineTiming::FreshTickMs);
	connect(&timer, &QTimer::timeout, this, &FreshClipWatch::tick);
}

bool FreshClipWatch::nameClash(const QString &obsPath) const
{
	const QString next = saveNamer ? saveNamer() : obsReplayPathNow();
	return next.isEmpty() || samePath(next, obsPath);
}

bool FreshClipWatch::blocksSave() const
{
	return std::any_of(clips.begin(), clips.end(),
			   [this](const FreshClip &f) { return f.path == f.obsPath && nameClash(f.obsPath); });
}

void FreshClipWatch::watch(FreshClip fresh)
{
	clips.push_back(std::move(fresh));
	if (!timer.isActive())
		timer.start(EngineTiming::FreshTickMs);
}

FreshClip *FreshClipWatch::find(const Match &match)
{
	auto it = std::find_if(clips.begin(), clips.end(), match);
	return it == clips.end() ? nullptr : &*it;
}

std::vector<FreshClip> FreshClipWatch::take(const Match &match)
{
	const auto taken =
	    std::stable_partition(clips.begin(), clips.end(), [&match](const FreshClip &f) { return !match(f); });
	std::vector<FreshClip> out(std::make_move_iterator(taken), std::make_move_iterator(clips.end()));
	clips.erase(taken, clips.end());
	return out;
}

void FreshClipWatch::retime()
{
	if (clips.empty()) {
		timer.stop();
		return;
	}
	const bool quick =
	    std::any_of(clips.begin(), clips.end(), [](const FreshClip &f) { return f.path == f.obsPath; });
	timer.setInterval(quick ? EngineTiming::FreshTickMs : EngineTiming::FreshAsideTickMs);
}
