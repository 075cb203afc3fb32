#pragma once

#include <obs.h>

#include <cstdint>
#include <string>
#include <vector>

// What a container needs to know about one encoder's stream.
struct MuxTrack {
	std::string codec; // libobs's codec name: "h264", "hevc", "av1", "aac", "opus"
	std::vector<uint8_t> extraData;
	uint32_t width = 0, height = 0;
	uint32_t fpsNum = 0, fpsDen = 0;
	int colorspace = 0; // enum video_colorspace
	bool fullRange = false;
	uint32_t sampleRate = 0;
	uint32_t channels = 0;
};

struct MuxHeader {
	MuxTrack video;
	MuxTrack audio;
	bool hasAudio = false;
};

// Writes packets (video from a keyframe, audio beside it, in arrival order) into a Matroska file
// whose time starts at the first keyframe, through fd: a file made new at path, which the call
// closes. False, with the reason, when the file could not be made; a half-written file is removed.
bool muxMatroska(int fd, const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error);
// The same into a file made new at path (never an existing file, never through a link).
bool muxMatroska(const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error);
