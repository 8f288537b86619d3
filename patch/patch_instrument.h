// SPDX-License-Identifier: MIT
// A patch file as a host::Instrument: its note mapping in the host library's terms (gates,
// triggers, pitch and velocity through each pin's own mapping), so that every host of ours that
// plays a patch polyphonically (kvx render --midi, the LV2 instrument) plays the same notes.
#pragma once

#include <cstdint>
#include <memory>

#include "host/instrument.h"
#include "patch/patch_file.h"

namespace kvx::patch {

// The patch's notes for host::Instrument. A trigger whose pin is a reset (an oscillator's sync)
// acts on free voices only, so that a stolen voice keeps its phase and a steal makes no jump;
// every other trigger acts at every note start.
host::InstrumentNotes instrumentNotes(const PatchFile& file);

// The patch's "voices" voices (or `voices` when above 0) as one instrument.
std::unique_ptr<host::Instrument> makeInstrument(const PatchFile& file, float sampleRate, int32_t maxBlock,
                                                 int32_t voices = 0);

}  // namespace kvx::patch
