// SPDX-License-Identifier: MIT
// InstrumentNotes: which inputs of a patch's voice a note drives, and which the player's control
// changes set on every voice. The caller (who knows the
// modules' descriptions) says how a note's pitch and velocity become pin values, so that the
// host library needs no description of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kvx::host {

// A bool input of one module of the patch (an index into PatchGraph::modules and a pin id).
struct NotePin {
    int32_t module = 0;
    int32_t pin = 0;
};

// An audio or float input that receives a number from each note. `pinValue` maps the note's
// number (Hz for a pitch, 0..1 for a velocity) to the pin's value; empty: the number itself.
// It is called in the block, so it must not allocate.
struct NoteValuePin {
    int32_t module = 0;
    int32_t pin = 0;
    std::function<float(double)> pinValue;
};

struct InstrumentNotes {
    std::vector<NotePin> gate;  // true while the note is held (or sustained by the pedal)
    // True at every note start, a stolen voice's too (an envelope's trigger: it attacks from its
    // current level).
    std::vector<NotePin> trigger;
    // True at a note start on a free voice only, where the level is 0 (an oscillator's phase
    // reset): a stolen voice keeps its phase, so that a steal makes no jump.
    std::vector<NotePin> freeTrigger;
    std::vector<NoteValuePin> pitch;     // the note's frequency, bend included
    std::vector<NoteValuePin> velocity;  // 0..1
    double bendRange = 2.0;              // semitones each way of a full pitch bend
    // Bool, float or unfed audio inputs that NoteEventKind::Control events set on every voice
    // (NoteEvent::control indexes this list); a free voice takes the latest value when it wakes.
    std::vector<NotePin> controls;
};

// The frequency of note `key` bent by `semitones`: 12-tone equal temperament, A4 (69) = 440 Hz.
double noteHertz(int32_t key, double semitones) noexcept;

}  // namespace kvx::host
