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

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

// A Matroska stream written through a descriptor of ours, packets appended as they come (video from a
// keyframe, audio beside it, in arrival order); time starts at the first keyframe's picture. Every append ends
// its cluster and reaches the file at once, so a player can follow the file while it grows. The
// stream is written as a live one: it names no duration.
class MatroskaWriter {
public:
	MatroskaWriter() = default;
	MatroskaWriter(const MatroskaWriter &) = delete;
	MatroskaWriter &operator=(const MatroskaWriter &) = delete;
	~MatroskaWriter();

	// Takes the descriptor (closed with the writer) and writes the header. False, with the reason.
	// A whole file (not followed while written) gets its length and index.
	bool open(int fd, const MuxHeader &header, std::string &error, bool whole = false);
	bool append(const std::vector<encoder_packet> &packets, std::string &error);
	bool finish(std::string &error);

	// Media time (ms) up to the end of the newest video frame written; 0 before any.
	long long lengthMs() const { return endUsec > baseUsec ? (endUsec - baseUsec) / 1000 : 0; }

private:
	void close();
	void chooseBase(const std::vector<encoder_packet> &packets);

	MuxHeader header;
	AVFormatContext *fmt = nullptr;
	AVIOContext *io = nullptr;
	AVPacket *pkt = nullptr;
	int fd = -1;
	int videoIndex = 0;
	bool baseSet = false;
	bool wroteVideo = false;
	bool wroteSound = false;
	int64_t baseUsec = 0; // time 0: the sound frame under the first picture, or that picture
	int64_t endUsec = 0;
};

// The whole file at once, made new at path. False, with the reason, when it could not be made; a
// half-written file is removed.
bool muxMatroska(const std::string &path, const MuxHeader &header, const std::vector<encoder_packet> &packets,
		 std::string &error);
