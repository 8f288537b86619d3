// SPDX-License-Identifier: MIT
// A render plan: the score resolved at a sample rate into sample positions and pin values for
// each input of the module, checked for sense (positive length, ordered breakpoints, notes that
// end after they start).
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "render/audio_input.h"
#include "render/module.h"
#include "render/score.h"

namespace kvx::render {

// One automation breakpoint: the pin value at a sample; straight ramps join them.
struct RampPoint {
    int64_t sample;
    float value;
};

// What one input pin receives over the render: for an audio input its signal (ramps between
// breakpoints, or a file), for a control input its value at the start.
struct InputTrack {
    std::vector<RampPoint> points;           // at least one unless `file`; in time order
    std::shared_ptr<const AudioInput> file;  // fed from a file: its samples, then silence
    std::string text;                        // the setting as written, e.g. "0.5 (100ms)"

    bool constant() const { return !file && points.size() == 1; }
    // The input sample at `sample`: a file's sample (0 after its end); else the first value before
    // the first point, the last after the last, and the straight line between two points (the
    // later point wins where two coincide).
    float valueAt(int64_t sample) const;
};

struct NotePlan {
    int64_t on;
    int64_t off;             // NO_OFF when the gate stays on
    int32_t key = 69;        // a patch's note: MIDI key (A4) ...
    int32_t velocity = 127;  // ... and velocity (1 on a velocity pin)
};
inline constexpr int64_t NO_OFF = std::numeric_limits<int64_t>::max();

// A control input's new value at a sample.
struct ValueChange {
    int64_t sample;
    size_t input;  // index into RenderModule::inputs
    float value;
};

// Renders longer than this many samples are refused: the whole output is kept in memory.
inline constexpr int64_t MAX_LENGTH_SAMPLES = 50'000'000;

struct RenderPlan {
    int32_t rate = 48000;
    int64_t length = 0;              // samples
    bool lengthChosen = false;       // false: derived, as `lengthRule` says
    std::string lengthRule;          // how a length the score did not set was derived: "inputs and events"
    std::vector<InputTrack> tracks;  // per module input
    std::vector<NotePlan> notes;
    std::vector<int64_t> resets;
    std::vector<ValueChange> changes;  // in time order
};

// Resolves `score` for `module` at `rate` (already checked: a whole number of samples per
// second), with the files the score names already read. Throws RenderError naming the score and
// field of any value that makes no sense.
RenderPlan resolvePlan(const Score& score, int32_t rate, const RenderModule& module,
                       const AudioInputs& files = {});

}  // namespace kvx::render
