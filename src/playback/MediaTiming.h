#pragma once

// How both players open a clip, seek into it and watch it end, so a clip that plays in one plays in
// the other.
namespace MediaTiming {
constexpr long long DefaultLeadMs = 700; // seek-back or prefetch lead until a late one teaches more
constexpr long long MinClipMs = 1000;    // shorter clips are not played
constexpr long long StopSettleMs = 500;  // a stop or end before this may be the load itself
constexpr long long OpenLimitMs = 8000;  // neither playing nor failed by then: cannot be opened
// After a seek: time to settle, how near the target counts, slack over plain playing, longest wait.
constexpr long long SeekSettleMs = 120, SeekToleranceMs = 3000, SeekSlackMs = 500, SeekLimitMs = 1000;
// Once landed, the clip is shown when its time moved this far or this long passed.
constexpr long long LandMoveMs = 100, LandLimitMs = 300;
constexpr long long EndOverrunMs = 3000; // a shown clip not ended this long after its end is given up

// True when media time t, phaseMs after a seek from originMs towards startMs, shows the seek took.
inline bool seekLanded(long long phaseMs, long long t, long long startMs, long long originMs)
{
	return (phaseMs >= SeekSettleMs && (t >= startMs - SeekToleranceMs || t > originMs + phaseMs + SeekSlackMs)) ||
	       phaseMs >= SeekLimitMs;
}
} // namespace MediaTiming
