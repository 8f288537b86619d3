// SPDX-License-Identifier: MIT
// The floor: the envelope's per-sample recurrence and nothing else (one update, two
// comparisons, one float store). Its subtract -> multiply -> add chain carries from sample to
// sample, so a bit-identical envelope cannot run faster than this loop.
#pragma once

#include <cstdint>

namespace kvx::bench {

// A moving segment as the recurrence sees it.
struct FloorSegment {
    double level;  // current value; advanced by runFloor
    double asymptote;
    double coefficient;
    double threshold;  // below it the segment ends (the upper end is 1.0)
};

// Runs up to `count` samples into `out`; returns the samples written before the segment ended
// (count when it did not). Kept in its own translation unit so it is compiled like a library
// routine, not folded into the benchmark loop.
int32_t runFloor(FloorSegment& segment, float* out, int32_t count) noexcept;

}  // namespace kvx::bench
