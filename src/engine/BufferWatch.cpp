// Replay-buffer status: what the profile and the running output say, and the memory it takes.

#include "engine/BufferWatch.h"

#include "util/ObsProfile.h"

#include <obs-frontend-api.h>
#include <obs.hpp>

#include <cstring>

namespace {
bool isBitrateControl(const char *rateControl)
{
	return !rateControl || !*rateControl || strcmp(rateControl, "CBR") == 0 || strcmp(rateControl, "VBR") == 0 ||
	       strcmp(rateControl, "ABR") == 0;
}

// What the profile's settings say; the running output may differ.
void readProfileBuffer(BufferStatus &status)
{
	config_t *profile = obs_frontend_get_profile_config();
	if (!profile)
		return;
	const bool advanced = profileAdvancedOutput(profile);
	const char *section = profileOutputSection(profile);
	status.enabled = config_get_bool(profile, section, "RecRB");
	status.seconds = config_get_int(profile, section, "RecRBTime");
	status.size_limit_mb = config_get_int(profile, section, "RecRBSize");
	if (!advanced) {
		const char *quality = config_get_string(profile, "SimpleOutput", "RecQuality");
		if (quality && strcmp(quality, "Stream") == 0) {
			status.video_kbps = config_get_int(profile, "SimpleOutput", "VBitrate");
			status.audio_kbps = config_get_int(profile, "SimpleOutput", "ABitrate");
		}
	}
}

// What the replay buffer output and its encoders say, over the profile's answer.
void readBufferOutput(BufferStatus &status)
{
	OBSOutputAutoRelease output = obs_frontend_get_replay_buffer_output();
	if (!output)
		return;
	status.enabled = true;
	if (status.active) {
		OBSDataAutoRelease outSettings = obs_output_get_settings(output);
		status.seconds = obs_data_get_int(outSettings, "max_time_sec");
		status.size_limit_mb = obs_data_get_int(outSettings, "max_size_mb");
	}
	if (obs_encoder_t *video = obs_output_get_video_encoder(output)) {
		OBSDataAutoRelease encSettings = obs_encoder_get_settings(video);
		if (isBitrateControl(obs_data_get_string(encSettings, "rate_control"))) {
			const long long bitrate = obs_data_get_int(encSettings, "bitrate");
			status.video_kbps = bitrate > 0 ? bitrate : 0;
		} else {
			status.video_kbps = 0;
		}
	}
	if (obs_encoder_t *audio = obs_output_get_audio_encoder(output, 0)) {
		OBSDataAutoRelease encSettings = obs_encoder_get_settings(audio);
		const long long bitrate = obs_data_get_int(encSettings, "bitrate");
		if (bitrate > 0)
			status.audio_kbps = bitrate;
	}
}
} // namespace

BufferStatus BufferWatch::status() const
{
	BufferStatus status;
	status.active = obs_frontend_replay_buffer_active();
	readProfileBuffer(status);
	readBufferOutput(status);

	if (status.video_kbps > 0 && status.seconds > 0)
		status.estimate_mb =
		    status.seconds * (status.video_kbps + (status.audio_kbps > 0 ? status.audio_kbps : 0)) / 8000;
	if (status.size_limit_mb > 0 && status.estimate_mb > status.size_limit_mb) {
		status.capped_by_size = true;
		status.estimate_mb = status.size_limit_mb;
	}
	return status;
}
