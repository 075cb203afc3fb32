#pragma once

// The highlights video: stretches of saved clips copied one after the other into one file, without
// re-encoding. Touches only files, so it runs on any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a clip's own timestamps and streams say. Clips copy into one file only when their codec
// settings (the signature) are equal.
struct HighlightProbe {
	bool ok = false;
	int64_t durationMs = -1;
	std::string signature;
};
HighlightProbe probeHighlightClip(const std::string &path);

struct HighlightPiece {
	std::string path;
	int64_t startMs = 0; // inside the clip, from its first timestamp
	int64_t endMs = 0;
	std::string title;
};

struct HighlightCopyResult {
	bool ok = false;
	bool cancelled = false;
	std::string error;
	std::string tempPath;  // the finished file under a temporary name in the folder, for the caller to name
	std::string extension; // ".mp4", or ".mkv" where the codecs cannot go into MP4
	std::vector<int64_t> chapterStartsMs; // per piece, where it starts in the video
	int64_t durationMs = 0;
};

// Copies the pieces into a new file in folder: each from the keyframe at or before its start, with
// timestamps running on and one chapter per piece; MP4 with its index at the front. Cancel (checked
// between packets) or any failure leaves no file behind. progress(done, total) follows each piece.
HighlightCopyResult copyHighlights(const std::vector<HighlightPiece> &pieces, const std::string &folder,
				   const std::atomic<bool> &cancel,
				   const std::function<void(int, int)> &progress = nullptr);
