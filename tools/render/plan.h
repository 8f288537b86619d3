// A render plan: the score resolved at a sample rate into sample positions and pin values,
// checked for sense (positive length, ordered breakpoints, notes that end after they start).
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tools/render/parameters.h"
#include "tools/render/score.h"

namespace kvx::render {

// One automation breakpoint: the pin value at a sample; straight ramps join them.
struct RampPoint {
    int64_t sample;
    float value;
};

struct ParameterTrack {
    std::vector<RampPoint> points;  // at least one; in time order
    std::string text;               // the setting as written, e.g. "0.5 (100ms)"

    bool constant() const { return points.size() == 1; }
    // The input sample at `sample`: the first value before the first point, the last after the
    // last, and the straight line between two points (the later point wins where two coincide).
    float valueAt(int64_t sample) const;
};

struct NotePlan {
    int64_t on;
    int64_t off;  // NO_OFF when the gate stays on
};
inline constexpr int64_t NO_OFF = std::numeric_limits<int64_t>::max();

// Renders longer than this many samples are refused: the whole output is kept in memory.
inline constexpr int64_t MAX_LENGTH_SAMPLES = 50'000'000;

struct RenderPlan {
    int32_t rate = 48000;
    int64_t length = 0;         // samples
    bool lengthChosen = false;  // false: derived from the last event and the release time
    std::array<ParameterTrack, PARAMETER_COUNT> tracks;
    std::vector<NotePlan> notes;
    std::vector<int64_t> resets;
};

// Resolves `score` at `rate` (already checked: a whole number of samples per second).
// Throws RenderError naming the score and field of any value that makes no sense.
RenderPlan resolvePlan(const Score& score, int32_t rate);

}  // namespace kvx::render
