// SPDX-License-Identifier: MIT
// A patch file as a host::Instrument: its note mapping in the host library's terms (gates,
// triggers, pitch and velocity through each pin's own mapping), so that every host of ours that
// plays a patch polyphonically (kvx render --midi, the LV2 instrument) plays the same notes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "host/instrument.h"
#include "patch/patch_file.h"

namespace kvx::patch {

// The patch's notes for host::Instrument, and as its controls every pin of the patch's controls,
// control after control (see controlEvents). A trigger whose pin is a reset (an oscillator's sync)
// acts on free voices only, so that a stolen voice keeps its phase and a steal makes no jump;
// every other trigger acts at every note start.
host::InstrumentNotes instrumentNotes(const PatchFile& file);

// The patch's "voices" voices (or `voices` when above 0) as one instrument.
std::unique_ptr<host::Instrument> makeInstrument(const PatchFile& file, float sampleRate, int32_t maxBlock,
                                                 int32_t voices = 0);

// Before the first block: `control` (an index into PatchFile::controls) holds `user` from the
// start on every voice, each pin through its own mapping as PatchDriver sets it. false when the
// instrument has run a block already.
bool holdControl(host::Instrument& instrument, const PatchFile& file, size_t control, double user) noexcept;

// The events that set `control` to `user` at `timestamp` on an instrument of instrumentNotes(file):
// one per pin, written to `out` (room for the control's pins); returns how many. Allocates nothing.
size_t controlEvents(const PatchFile& file, size_t control, double user, int32_t timestamp,
                     std::span<host::NoteEvent> out) noexcept;

}  // namespace kvx::patch
