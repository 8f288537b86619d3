// SPDX-License-Identifier: MIT
// MidiSequence: the sequence header and the events behind it.
#include "lv2/host_support/midi_sequence.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>

namespace kvx::lv2 {

MidiSequence::MidiSequence(UriMap& uris, size_t bytes)
    : storage((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0),
      sequenceType(uris.map(LV2_ATOM__Sequence)),
      midiType(uris.map(LV2_MIDI__MidiEvent)) {
    clear();
}

void MidiSequence::clear() {
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(storage.data());
    sequence->atom.type = sequenceType;
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->body.unit = 0;
    sequence->body.pad = 0;
}

bool MidiSequence::add(int64_t frame, uint8_t status, uint8_t data1, uint8_t data2) {
    const uint8_t message[3] = {status, data1, data2};
    return addBytes(frame, message, 3);
}

bool MidiSequence::addBytes(int64_t frame, const uint8_t* bytes, uint32_t count) {
    auto* base = reinterpret_cast<uint8_t*>(storage.data());
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(base);
    const uint32_t size = lv2_atom_pad_size(static_cast<uint32_t>(sizeof(LV2_Atom_Event)) + count);
    if (sizeof(LV2_Atom) + sequence->atom.size + size > storage.size() * sizeof(uint64_t)) return false;
    auto* event = reinterpret_cast<LV2_Atom_Event*>(base + sizeof(LV2_Atom) + sequence->atom.size);
    event->time.frames = frame;
    event->body.size = count;
    event->body.type = midiType;
    std::copy(bytes, bytes + count, reinterpret_cast<uint8_t*>(event + 1));
    sequence->atom.size += size;
    return true;
}

}  // namespace kvx::lv2
