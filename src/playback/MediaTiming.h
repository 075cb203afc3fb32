#pragma once

// How both players open a clip, seek into it and watch it end, so a clip that plays in one plays in
// the other.
namespace MediaTiming {
// Seek-back or prefetch lead until a late one teaches more: a seek takes a few hundred ms to land.
constexpr long long DefaultLeadMs = 700;
// Shorter clips are not played: there is no time to seek, land and show them.
constexpr long long MinClipMs = 1000;
// A stop or end reported before this may still be the previous file's, not the new load's.
constexpr long long StopSettleMs = 500;
// Neither playing nor failed by then: the file cannot be opened (a slow disk opens within seconds).
constexpr long long OpenLimitMs = 8000;
// After a seek: the time before the media time can be trusted, how near the target counts (decoding
// resumes at the keyframe before it, seconds back), the slack over plain playing on, the longest wait.
constexpr long long SeekSettleMs = 120, SeekToleranceMs = 3000, SeekSlackMs = 500, SeekLimitMs = 1000;
// Once landed, the clip is shown when its time moved this far (a few frames decoded from the new
// place) or this long passed.
constexpr long long LandMoveMs = 100, LandLimitMs = 300;
// A time this far before where a seek back began shows the seek was taken (more than a frame or two).
constexpr long long SoughtBackMs = 100;
// A shown clip not ended this long after its end is given up (the decoder's end can lag that long).
constexpr long long EndOverrunMs = 3000;

// True when media time mediaMs, phaseMs after a seek from originMs towards startMs, shows the seek took.
inline bool seekLanded(long long phaseMs, long long mediaMs, long long startMs, long long originMs)
{
	return (phaseMs >= SeekSettleMs &&
		(mediaMs >= startMs - SeekToleranceMs || mediaMs > originMs + phaseMs + SeekSlackMs)) ||
	       phaseMs >= SeekLimitMs;
}
} // namespace MediaTiming
