// SPDX-License-Identifier: MIT
// What the instrument tests share: the example patch (envelope, VCA, oscillator) read by the
// patch reader from examples/patches against the built modules, its note mapping as a host
// instrument takes it, and a score of note events played over a block schedule.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/instrument.h"
#include "host/note_event.h"
#include "patch/patch_file.h"

namespace kvx::test {

inline constexpr int32_t INSTRUMENT_MAX_BLOCK = 4096;

// The example patch, its oscillator set to `waveform` (0 sine, 1 saw).
patch::PatchFile examplePatch(float waveform = 1.0f);
std::unique_ptr<host::Instrument> exampleInstrument(int32_t voices, float waveform = 1.0f);

// A note event at an absolute sample.
struct Played {
    int64_t sample;
    host::NoteEvent event;
};
Played noteOn(int64_t sample, uint8_t key, float velocity = 0.8f);
Played noteOff(int64_t sample, uint8_t key);
Played control(int64_t sample, host::NoteEventKind kind, float value = 0.0f);

// Output 0 over the score, in blocks of `sizes`; `voices`, when given, gets every voice's own
// output too (needs blocks of 1, where a voice's last run is the block).
std::vector<float> play(host::Instrument& instrument, const std::vector<Played>& score,
                        const std::vector<int32_t>& sizes, std::vector<std::vector<float>>* voices = nullptr);

}  // namespace kvx::test
