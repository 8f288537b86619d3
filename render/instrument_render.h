// SPDX-License-Identifier: MIT
// `kvx render PATCH --midi FILE.mid`: the patch's "voices" voices as a host::Instrument playing
// a Standard MIDI File, written as a patch render writes (WAV, CSV, figure). The instrument
// takes every event at its own sample, so the output does not depend on --block.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "patch/patch_file.h"
#include "render/midi_file.h"
#include "render/options.h"
#include "render/session.h"

namespace kvx::render {

// The longest release of the patch: the largest value, in seconds, that any module's input
// named "release" (with a time unit) starts with. 0 without one.
double longestReleaseSeconds(const patch::PatchFile& patch);

// The instrument's outputs over `length` samples of `events`, in blocks as `sizing` says.
std::vector<std::vector<float>> renderInstrument(const patch::PatchFile& patch,
                                                 const std::vector<TimedNoteEvent>& events, int64_t length,
                                                 int32_t rate, const BlockSizing& sizing);

struct InstrumentRendering {
    int32_t rate = 0;
    int64_t length = 0;
    size_t events = 0;  // the MIDI events played
    BlockSizing sizing;
    std::vector<std::vector<float>> outputs;
};

// The rate a MIDI render plays at (--rate, else 48000 Hz): the rate to read the file at.
int32_t midiRenderRate(const RenderOptions& options);

// The patch's instrument playing `midi` at the rate it was read at (midiRenderRate), over the
// render's length (--length, else the file's end plus the longest release). Throws RenderError
// for a patch without notes, or options that play notes or set inputs of their own.
InstrumentRendering renderInstrumentMidi(const RenderOptions& options, const patch::PatchFile& patch,
                                         const MidiFileNotes& midi);

// The whole render of options.midi through `patch`. Throws RenderError for a patch without
// notes, flags that play notes of their own, or a file that is not MIDI.
int runInstrument(RenderOptions options, const patch::PatchFile& patch, std::ostream& out);

}  // namespace kvx::render
