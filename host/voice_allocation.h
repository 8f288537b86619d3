// SPDX-License-Identifier: MIT
// VoiceAllocation: which voice of an instrument plays which note. A note takes its own key's
// voice while that still sounds, else the lowest free voice, else it steals the voice whose note
// ended longest ago, else the one held longest. "Ago" counts notes and ends in the order they
// happened, so that two at one sample keep their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvx::host {

enum class VoicePhase : uint8_t {
    Free,       // not called; its outputs rest at 0
    Held,       // its key is down
    Sustained,  // its key is up, the pedal holds the note
    Released    // its note has ended; it sounds until its outputs rest
};

struct VoiceState {
    VoicePhase phase = VoicePhase::Free;
    uint8_t key = 0;
    bool muted = false;    // all sound off: it runs unheard until it is free or takes a note
    uint64_t started = 0;  // when its note started, in the order of starts and ends
    uint64_t ended = 0;    // when its note ended
};

enum class VoiceTake : uint8_t {
    Free,    // a free voice: its level is 0
    Own,     // the key's own voice, still sounding: retriggered
    Stolen,  // a sounding voice of another key: retriggered
};

struct VoiceChoice {
    int32_t voice = 0;
    VoiceTake take = VoiceTake::Free;
};

class VoiceAllocation {
public:
    explicit VoiceAllocation(int32_t voices) : states(static_cast<size_t>(voices)) {}

    // The voice a note of `key` takes now (there is at least one voice).
    VoiceChoice choose(uint8_t key) const noexcept;
    // The voice whose key `key` is down, or -1.
    int32_t heldVoice(uint8_t key) const noexcept;

    void start(int32_t voice, uint8_t key) noexcept;  // now Held, playing `key`, heard
    void sustain(int32_t voice) noexcept;             // Held -> Sustained
    void end(int32_t voice) noexcept;                 // Held or Sustained -> Released
    void free(int32_t voice) noexcept;
    void mute(int32_t voice) noexcept { at(voice).muted = true; }

    int32_t size() const noexcept { return static_cast<int32_t>(states.size()); }
    int32_t busy() const noexcept { return busyCount; }  // voices not free
    const VoiceState& operator[](int32_t voice) const noexcept { return states[static_cast<size_t>(voice)]; }

private:
    VoiceState& at(int32_t voice) noexcept { return states[static_cast<size_t>(voice)]; }

    std::vector<VoiceState> states;
    uint64_t clock = 0;
    int32_t busyCount = 0;
};

}  // namespace kvx::host
