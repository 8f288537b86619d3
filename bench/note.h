// SPDX-License-Identifier: MIT
// The benchmark's notes and sessions: sample rate, block size, the envelope settings of the
// single note and of the many-voice session, and the pin values that realise them.
#pragma once

#include <cstdint>

namespace kvx::bench {

constexpr double SAMPLE_RATE = 48000.0;
constexpr int32_t BLOCK = 64;

// One note, as durations in seconds. The module's time values are full-scale durations: a
// segment over distance d lasts time * d, so the pin values are derived to give these lengths.
struct NoteSettings {
    double attack;   // 0 -> 1
    double decay;    // 1 -> sustain
    double sustain;  // level
    double release;  // sustain -> 0
    double gateOn;   // seconds the gate is held (attack + decay + sustain time)
    double idle;     // seconds after the release before the next note
};

// The single note: A 100 ms, D 200 ms, S 0.5 held for 5 s, R 1 s, then 1 s idle.
constexpr NoteSettings SINGLE_NOTE{0.1, 0.2, 0.5, 1.0, 0.1 + 0.2 + 5.0, 1.0};
// Curves of the single note: a nearly straight attack, decelerating decay and release.
constexpr double ATTACK_CURVE = 0.1;
constexpr double DECAY_CURVE = 0.5;
constexpr double RELEASE_CURVE = 0.5;

// Many voices: A 20 ms, D 200 ms, S 0.6, R 500 ms, gate held 3 s of every 4 s (0.5 s idle).
constexpr NoteSettings VOICE_NOTE{0.02, 0.2, 0.6, 0.5, 3.0, 0.5};
constexpr double VOICE_PERIOD = 4.0;

inline int64_t secondsToSamples(double seconds) { return static_cast<int64_t>(seconds * SAMPLE_RATE + 0.5); }
// Samples of one whole note: gate held, release, idle.
inline int64_t noteSamples(const NoteSettings& note) {
    return secondsToSamples(note.gateOn + note.release + note.idle);
}

// Values of the module's input pins 2..8 (attack time .. release curve) for a note.
struct PinValues {
    float attackTime, decayTime, sustainLevel, releaseTime, attackCurve, decayCurve, releaseCurve;
};
PinValues pinValuesFor(const NoteSettings& note);

}  // namespace kvx::bench
