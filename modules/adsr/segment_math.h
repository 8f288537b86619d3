// SPDX-License-Identifier: MIT
// The arithmetic of one exponential envelope segment, apart from pins and hosts: the time
// mapping, the plan of a moving segment, and the guards that keep every input usable.
// The order and precision of every operation here is part of the output: float for the time
// mapping, double after it, no contraction (built with -ffp-contract=off).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kvx::adsr {

// Time values are capped here: 2.0 maps to 100000 s.
constexpr double MAX_TIME_VALUE = 2.0;
// Curves are limited to this magnitude: beyond it exp() overflows and 0 * inf poisons the level.
constexpr double MAX_CURVE = 50.0;
// Targets closer than this (the float 1e-6 widened) are reached on the next sample.
constexpr double MIN_DISTANCE = static_cast<double>(1e-6f);
// The smallest curve amount (the float 0.001 widened): curve 0 is practically straight.
constexpr double MIN_CURVE_AMOUNT = static_cast<double>(0.001f);
// A still segment never hits a step limit.
constexpr int64_t UNLIMITED_STEPS = std::numeric_limits<int64_t>::max();

// A time value (0 -> 1 ms, 0.25 -> 10 ms, 0.5 -> 100 ms, 0.75 -> 1 s, 1 -> 10 s) in seconds
// for a full-scale transition, computed in single precision: 10^((t * 10 * 0.4) - 3).
inline float timeValueToSeconds(double time) noexcept {
    const float t = static_cast<float>(time < MAX_TIME_VALUE ? time : MAX_TIME_VALUE);
    const float e = t * 10.0f * 0.4f - 3.0f;
    return powf(10.0f, e);
}

// The time value whose mapping gives `seconds` (the inverse of timeValueToSeconds, up to
// rounding): for hosts and tools that think in durations.
inline double secondsToTimeValue(double seconds) noexcept { return (std::log10(seconds) + 3.0) / 4.0; }

// A parameter that is not finite is used as 0.0.
inline double finiteOrZero(double value) noexcept { return std::isfinite(value) ? value : 0.0; }

// A level the output may take: finite, and 0 for a level whose float would be subnormal (a
// sustain of 1e-40 would otherwise be held as a subnormal output).
inline double usableLevel(double value) noexcept {
    return std::isfinite(value) && std::fabs(value) >= static_cast<double>(std::numeric_limits<float>::min())
               ? value
               : 0.0;
}

inline double usableCurve(double curve) noexcept {
    curve = finiteOrZero(curve);
    return curve < -MAX_CURVE ? -MAX_CURVE : (curve > MAX_CURVE ? MAX_CURVE : curve);
}

// A sample rate that is not finite or negative is used as 0.0 (one-sample segments).
inline float usableSampleRate(float sampleRate) noexcept {
    return std::isfinite(sampleRate) && sampleRate >= 0.0f ? sampleRate : 0.0f;
}

// A moving segment from `level` to `target`: the recurrence
//   level = level + (asymptote - level) * coefficient
// crosses the target after `samples` steps; `threshold` is the lower end test.
struct SegmentPlan {
    double coefficient;
    double asymptote;
    double threshold;
    double samples;  // planned length, at least 1.0; 0.0 for the one-sample short cut
};

inline SegmentPlan planSegment(double level, double target, double time, double curve,
                               float sampleRate) noexcept {
    const double distance = std::fabs(target - level);
    if (distance < MIN_DISTANCE) return SegmentPlan{0.0, 0.0, level + 1.0, 0.0};

    const double seconds = static_cast<double>(timeValueToSeconds(time));
    double curveAmount = std::fabs(curve) * 10.0;
    if (curveAmount < MIN_CURVE_AMOUNT) curveAmount = MIN_CURVE_AMOUNT;
    double samples = seconds * (static_cast<double>(sampleRate) * distance);
    if (samples < 1.0) samples = 1.0;
    const double k = curveAmount / samples;
    double coefficient = curve > 0.0 ? 1.0 - std::exp(-k) : std::exp(k) - 1.0;
    const double span = distance / (1.0 - std::exp(-curveAmount));

    double overshoot;
    double threshold;
    if (target > level) {
        overshoot = span - distance;
        threshold = 0.0;
    } else {
        overshoot = distance - span;
        threshold = target;
    }
    double asymptote;
    if (curve >= 0.0) {
        asymptote = target + overshoot;
    } else {
        coefficient = -coefficient;
        asymptote = level - overshoot;
    }
    return SegmentPlan{coefficient, asymptote, threshold, samples};
}

// The step on which a moving segment ends at the latest (step 1 is the first sample after its
// set-up): rounding can leave the level just short of its target forever. The limit lies far
// enough past the planned length that a segment ending by its own test always gets there first.
inline int64_t segmentStepLimit(double samples) noexcept {
    if (samples < 1.0) samples = 1.0;
    const double twice = 2.0 * samples;
    // 9.0e18: under INT64_MAX (9.22e18), so the cast and the + 3 stay in range; longer plans run unlimited.
    // + 3: spare steps for 1- and 2-sample plans, whose crossing rounding and the strict test can delay.
    return twice < 9.0e18 ? static_cast<int64_t>(std::floor(twice)) + 3 : UNLIMITED_STEPS;
}

}  // namespace kvx::adsr
