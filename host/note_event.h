// SPDX-License-Identifier: MIT
// NoteEvent: what a player sends an instrument, at a sample of the coming block: notes, pitch
// bend, the sustain pedal, the two "off" messages, a reset that ends everything, and a change of
// one of the instrument's controls. MIDI bytes
// become NoteEvents through host/midi_note_event.h.
#pragma once

#include <cstdint>

namespace kvx::host {

enum class NoteEventKind : uint8_t {
    NoteOn,       // key, value: velocity 0..1 (a velocity of 0 is a note off)
    NoteOff,      // key
    PitchBend,    // value: -1..1, a full bend either way
    Sustain,      // value: not 0 while the pedal is down
    AllNotesOff,  // ends every note, sustained ones too
    AllSoundOff,  // ends every note and silences every voice from this sample
    Reset,        // all sound off, the pedal up and the bend centred: the instrument as new
    Control       // control: index into InstrumentNotes::controls; value: the pin's value
};

struct NoteEvent {
    int32_t timestamp = 0;  // sample of the block
    NoteEventKind kind = NoteEventKind::NoteOn;
    uint8_t key = 0;  // note number 0..127, 69 is A4
    float value = 0.0f;
    int32_t control = 0;
};

}  // namespace kvx::host
