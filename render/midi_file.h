// SPDX-License-Identifier: MIT
// A Standard MIDI File (format 0 or 1) as timed note events: libsmf reads the file and turns
// ticks into seconds through the tempo map; every channel message host::noteEventFromMidi knows
// (note on and off, pitch bend, CC 64, 120 and 123) becomes a NoteEvent at its sample, in the
// file's order; everything else is ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/note_event.h"

namespace kvx::render {

struct TimedNoteEvent {
    int64_t sample = 0;  // from the start of the render; NoteEvent::timestamp is left 0
    host::NoteEvent event;
};

struct MidiFileNotes {
    std::vector<TimedNoteEvent> events;  // in non-decreasing sample order
    int64_t endSample = 0;               // the file's last event (its end of track), rounded
    int32_t rate = 0;                    // the sample rate the samples count at
};

// The sample of a time in seconds: the nearest at `rate`.
int64_t sampleAt(double seconds, int32_t rate);

// Throws RenderError (one line, naming the file) for a file libsmf cannot read.
MidiFileNotes readMidiFile(const std::string& path, int32_t rate);
// The same for a file's bytes; the message names them `named`.
MidiFileNotes readMidiBytes(const std::string& bytes, const std::string& named, int32_t rate);

}  // namespace kvx::render
