#pragma once

// Millisecond arithmetic on values that may come from edited session files or remote requests
// (shift, offsets, wall times up to ±9.2e18): results stop at the int64 limits instead of wrapping.

#include <cstdint>
#include <limits>

inline int64_t satAdd(int64_t a, int64_t b)
{
	constexpr int64_t hi = std::numeric_limits<int64_t>::max();
	constexpr int64_t lo = std::numeric_limits<int64_t>::min();
	if (b > 0 && a > hi - b)
		return hi;
	if (b < 0 && a < lo - b)
		return lo;
	return a + b;
}

inline int64_t satSub(int64_t a, int64_t b)
{
	constexpr int64_t hi = std::numeric_limits<int64_t>::max();
	constexpr int64_t lo = std::numeric_limits<int64_t>::min();
	if (b < 0 && a > hi + b)
		return hi;
	if (b > 0 && a < lo + b)
		return lo;
	return a - b;
}
