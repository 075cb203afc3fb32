#pragma once

// How the instant replay and the recap open a clip, seek into it and watch it end: the same rules
// for both players, so a clip that plays in one plays in the other.
namespace MediaTiming {
// Seek-back (replay) or prefetch (recap) lead for a clip until a late one teaches a longer lead.
constexpr long long DefaultLeadMs = 700;
// Shorter clips are not played.
constexpr long long MinClipMs = 1000;
// A stop or an end before this may still be the load itself.
constexpr long long StopSettleMs = 500;
// A clip that neither plays nor fails by then cannot be opened.
constexpr long long OpenLimitMs = 8000;
// After a seek: the time to settle, how far before the target counts as there, the slack over
// where plain playing could have got, and the longest wait.
constexpr long long SeekSettleMs = 120;
constexpr long long SeekToleranceMs = 3000;
constexpr long long SeekSlackMs = 500;
constexpr long long SeekLimitMs = 1000;
// Once landed: the media time moved this far, or this long passed, before the clip is shown.
constexpr long long LandMoveMs = 100;
constexpr long long LandLimitMs = 300;
// A shown clip that has not ended this long after its planned end is given up.
constexpr long long EndOverrunMs = 3000;

// True when the media time t, phaseMs after a seek from originMs towards startMs, shows that the
// seek took effect (or waiting longer is pointless).
inline bool seekLanded(long long phaseMs, long long t, long long startMs, long long originMs)
{
	return (phaseMs >= SeekSettleMs && (t >= startMs - SeekToleranceMs || t > originMs + phaseMs + SeekSlackMs)) ||
	       phaseMs >= SeekLimitMs;
}
} // namespace MediaTiming
