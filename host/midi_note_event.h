// SPDX-License-Identifier: MIT
// One MIDI channel message as a NoteEvent, on any channel: note on (velocity 0 is a note off),
// note off, pitch bend, sustain (controller 64, down from 64), all sound off (120) and all notes
// off (123). Everything else, and anything malformed, is none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "host/note_event.h"

namespace kvx::host {

std::optional<NoteEvent> noteEventFromMidi(std::span<const uint8_t> message, int32_t timestamp) noexcept;

}  // namespace kvx::host
