// SPDX-License-Identifier: MIT
// Which note sounds, from raw MIDI messages: the latest note on (any channel) sounds and
// retriggers the envelope; its note off, or "all notes off" (CC 123) / "all sound off" (CC 120),
// ends the gate. A note off of a note that no longer sounds changes nothing, so the gate follows
// the most recent key (last-note priority without returning to keys still held).
#pragma once

#include <cstdint>

namespace kvx::lv2 {

enum class GateChange {
    None,
    NoteOn,  // trigger and gate on
    NoteOff  // gate off
};

class NoteTracker {
public:
    GateChange onMessage(const uint8_t* message, uint32_t size) noexcept {
        if (size < 3) return GateChange::None;
        const uint8_t status = message[0] & 0xF0;
        const int key = (message[0] & 0x0F) * 128 + (message[1] & 0x7F);
        if (status == 0x90 && message[2] != 0) {
            sounding = key;
            return GateChange::NoteOn;
        }
        if (status == 0x80 || status == 0x90) return key == sounding ? release() : GateChange::None;
        if (status == 0xB0 && (message[1] == 123 || message[1] == 120))
            return sounding >= 0 ? release() : GateChange::None;
        return GateChange::None;
    }

    bool gateOn() const noexcept { return sounding >= 0; }
    void reset() noexcept { sounding = -1; }

private:
    GateChange release() noexcept {
        sounding = -1;
        return GateChange::NoteOff;
    }

    int sounding = -1;  // channel * 128 + note, or -1
};

}  // namespace kvx::lv2
