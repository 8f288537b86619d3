// SPDX-License-Identifier: MIT
// MIDI bytes to NoteEvents.
#include "host/midi_note_event.h"

namespace kvx::host {

namespace {
constexpr uint8_t NOTE_OFF = 0x80;
constexpr uint8_t NOTE_ON = 0x90;
constexpr uint8_t CONTROL_CHANGE = 0xB0;
constexpr uint8_t PITCH_BEND = 0xE0;
constexpr uint8_t SUSTAIN_PEDAL = 64;
constexpr uint8_t ALL_SOUND_OFF = 120;
constexpr uint8_t ALL_NOTES_OFF = 123;
constexpr int32_t BEND_CENTRE = 8192;
}  // namespace

std::optional<NoteEvent> noteEventFromMidi(std::span<const uint8_t> message, int32_t timestamp) noexcept {
    // Every message here is a status byte and two data bytes, which have the top bit clear.
    if (message.size() != 3 || (message[1] & 0x80) != 0 || (message[2] & 0x80) != 0) return std::nullopt;
    const uint8_t status = message[0] & 0xF0;
    const uint8_t first = message[1];
    const uint8_t second = message[2];
    NoteEvent event;
    event.timestamp = timestamp;
    switch (status) {
        case NOTE_ON:
            event.key = first;
            event.kind = second == 0 ? NoteEventKind::NoteOff : NoteEventKind::NoteOn;
            event.value = static_cast<float>(second) / 127.0f;
            return event;
        case NOTE_OFF:
            event.key = first;
            event.kind = NoteEventKind::NoteOff;
            return event;
        case PITCH_BEND:
            event.kind = NoteEventKind::PitchBend;
            event.value = static_cast<float>(((second << 7) | first) - BEND_CENTRE) / BEND_CENTRE;
            return event;
        case CONTROL_CHANGE:
            if (first == SUSTAIN_PEDAL) {
                event.kind = NoteEventKind::Sustain;
                event.value = second >= 64 ? 1.0f : 0.0f;
                return event;
            }
            if (first == ALL_SOUND_OFF) {
                event.kind = NoteEventKind::AllSoundOff;
                return event;
            }
            if (first == ALL_NOTES_OFF) {
                event.kind = NoteEventKind::AllNotesOff;
                return event;
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace kvx::host
