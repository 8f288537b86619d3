// SPDX-License-Identifier: MIT
// The VCA's arithmetic, apart from pins and hosts: a level in dB as a linear gain, one output
// sample from an input sample, a control sample and a gain, and which controls silence the output.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace vca {

// The range of a level in dB: below the floor (or NaN, or -inf) the VCA is silent; above the
// ceiling it stays at the ceiling's gain (about 15.85).
constexpr double LEVEL_FLOOR_DB = -144.0;
constexpr double LEVEL_CEILING_DB = 24.0;
// Outputs are limited to this magnitude (+60 dB over full scale), so that huge inputs give huge
// but finite samples, and NaN inputs give silence.
constexpr double OUTPUT_LIMIT = 1000.0;

// 0 dB is exactly 1.0, so an input at 0 dB leaves every product's bits as they were.
inline double gainFromDecibels(float decibels) noexcept {
    if (!(decibels > LEVEL_FLOOR_DB)) return 0.0;
    const double db = decibels < LEVEL_CEILING_DB ? decibels : LEVEL_CEILING_DB;
    return std::pow(10.0, db / 20.0);
}

// input x control x gain, in double precision (a float product of two huge inputs would be inf),
// limited to +-OUTPUT_LIMIT, NaN as 0, and results too small for a normal float as 0 (a host's
// later arithmetic on subnormals is slow). A zero factor gives +0 whatever the others are, inf
// and NaN included (0 x inf is NaN, which becomes 0): what lets the module declare its output
// constant while a zero control holds, however its input moves.
// Written as selects, not branches, so that a loop of them is vectorised: the same operations on
// each sample, so the same bits.
inline float amplify(float input, float control, double gain) noexcept {
    const double y = static_cast<double>(input) * static_cast<double>(control) * gain;
    double limited = y > OUTPUT_LIMIT ? OUTPUT_LIMIT : y;
    limited = y < -OUTPUT_LIMIT ? -OUTPUT_LIMIT : limited;
    const bool nothing = (std::fabs(y) < static_cast<double>(FLT_MIN)) | (y != y);  // tiny, or NaN
    return static_cast<float>(nothing ? 0.0 : limited);
}

// amplify over a stretch at one gain.
inline void amplifyAll(const float* input, const float* control, float* output, int32_t count, double gain) noexcept {
    for (int32_t i = 0; i < count; ++i) output[i] = amplify(input[i], control[i], gain);
}

// True when amplify gives 0 for every input at this control value: 0 (either sign) and NaN.
inline bool silences(float control) noexcept { return control == 0.0f || std::isnan(control); }

}  // namespace vca
