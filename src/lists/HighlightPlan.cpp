#include "lists/HighlightPlan.h"

#include "lists/Lists.h"

#include <algorithm>
#include <map>

int64_t HighlightGroup::plannedMs() const
{
	int64_t sum = 0;
	for (const HighlightStretch &s : stretches)
		sum += s.endMs - s.startMs;
	return sum;
}

// Where a mark lies inside its clip. The clip ends where the save was requested (clipEndMs, on the
// session's clock) and its own timestamps give its length, so the mark sits (clipEndMs - markMs)
// before the clip's last frame. How exact that is: OBS cuts the buffer at the packets it holds when
// the request arrives, which trails the request by the encoder's delay (a few frames, under 0.2 s
// for usual settings), and the clip's length is known to one frame. The copy then starts each
// stretch at the keyframe at or before its start, up to one keyframe interval earlier.
HighlightPlan planHighlights(std::vector<HighlightClip> clips, int64_t highlightMs)
{
	std::stable_sort(clips.begin(), clips.end(),
			 [](const HighlightClip &a, const HighlightClip &b) { return a.markMs < b.markMs; });
	HighlightPlan plan;
	std::map<std::string, size_t> groupOf;
	std::vector<int64_t> shownUntil; // per group, the session offset its last stretch ends at
	highlightMs = std::max<int64_t>(highlightMs, 0);
	for (HighlightClip &clip : clips) {
		auto leaveOut = [&](HighlightSkip why) { plan.leftOut.push_back({clip.entryId, clip.path, why}); };
		if (!clip.exists) {
			leaveOut(HighlightSkip::Missing);
			continue;
		}
		if (clip.durationMs <= 0 || clip.codec.empty()) {
			leaveOut(HighlightSkip::Unreadable);
			continue;
		}
		const int64_t after = std::max<int64_t>(clip.clipEndMs - clip.markMs, 0);
		const int64_t end = clip.durationMs - after;
		if (end <= 0) {
			leaveOut(HighlightSkip::NotInClip);
			continue;
		}
		int64_t start = std::max<int64_t>(end - highlightMs, 0);
		auto found = groupOf.find(clip.codec);
		if (found != groupOf.end()) {
			// Shown already: from this stretch's start on the session's clock up to the last mark.
			const int64_t sessionStart = clip.markMs - (end - start);
			const int64_t shown = shownUntil[found->second];
			if (sessionStart < shown)
				start += shown - sessionStart;
			if (start >= end) {
				leaveOut(HighlightSkip::AlreadyShown);
				continue;
			}
		}
		if (found == groupOf.end()) {
			found = groupOf.emplace(clip.codec, plan.groups.size()).first;
			plan.groups.push_back({clip.codec, {}});
			shownUntil.push_back(clip.markMs);
		}
		plan.groups[found->second].stretches.push_back(
		    {clip.entryId, std::move(clip.path), std::move(clip.title), start, end});
		shownUntil[found->second] = std::max(shownUntil[found->second], clip.markMs);
	}
	return plan;
}

std::string highlightTimestampsText(const std::vector<int64_t> &startsMs, const std::vector<std::string> &titles,
				    int64_t lengthMs, std::vector<ChapterIssue> *issues)
{
	// The video as an ended session with one chapter mark per stretch, so that the chapter check and
	// its shortening apply to it unchanged.
	Session video;
	video.length_ms = lengthMs;
	video.end_wall_ms = 1;
	for (size_t i = 0; i < startsMs.size() && i < titles.size(); ++i) {
		Entry e;
		e.kind = EntryKind::Press;
		e.t_ms = startsMs[i];
		e.label = titles[i];
		video.addEntry(std::move(e));
	}
	for (int64_t id : shortChaptersToDrop(video))
		if (Entry *e = video.findEntry(id))
			e->chapter = false;
	if (issues)
		*issues = checkChapters(video);
	return video.entries.empty() ? std::string() : chapterText(video, "\r\n") + "\r\n";
}
