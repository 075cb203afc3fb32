#pragma once

// Which stretch of which clip goes into the highlights video. Pure logic: the engine probes the
// clips and hands in what it found; the copy follows the plan.

#include "lists/ChapterCheck.h"

#include <cstdint>
#include <string>
#include <vector>

// One mark with a saved clip, as the engine found it.
struct HighlightClip {
	int64_t entryId = 0;
	std::string path;      // the clip file (the owner's, for a shared clip)
	std::string title;     // the mark's line in the timestamps list, without its time
	int64_t markMs = 0;    // session offset of the mark
	int64_t clipEndMs = 0; // session offset where the clip ends (the save's request)
	bool exists = true;
	// From the clip's own timestamps: its length, and the codec settings that must match for a copy
	// without re-encoding. durationMs < 0 or an empty codec: the file could not be read.
	int64_t durationMs = -1;
	std::string codec;
};

enum class HighlightSkip : int32_t { Missing = 0, Unreadable = 1, NotInClip = 2, AlreadyShown = 3 };

struct HighlightStretch {
	int64_t entryId = 0;
	std::string path;
	std::string title;
	int64_t startMs = 0; // inside the clip, from its first timestamp
	int64_t endMs = 0;
};

// Clips of one codec setting: one video.
struct HighlightGroup {
	std::string codec;
	std::vector<HighlightStretch> stretches;
	int64_t plannedMs() const;
};

struct HighlightLeftOut {
	int64_t entryId = 0;
	std::string path;
	HighlightSkip why = HighlightSkip::Missing;
};

struct HighlightPlan {
	std::vector<HighlightGroup> groups; // in the order of each group's first mark
	std::vector<HighlightLeftOut> leftOut;
};

// The stretch of each clip that ends at its mark, highlightMs long (shorter when the clip is), in mark
// order; a stretch that would show what the one before it in its group showed starts where that ended.
HighlightPlan planHighlights(std::vector<HighlightClip> clips, int64_t highlightMs);

// The video's chapter list for a description: "M:SS title" lines (CR LF each), 0:00 first, with the
// chapters the platform would refuse as too short dropped as the timestamps list drops them.
// starts are the chapters' times in the video, ascending; lengthMs the video's length.
// issues (when given) gets what the chapter check still finds in the shortened list.
std::string highlightTimestampsText(const std::vector<int64_t> &startsMs, const std::vector<std::string> &titles,
				    int64_t lengthMs, std::vector<ChapterIssue> *issues = nullptr);
