// SPDX-License-Identifier: MIT
// MidiSequence: the buffer of an LV2 atom input port as a host fills it between runs, an atom
// sequence (frame times) of three-byte MIDI messages, 8-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lv2/host_support/uri_map.h"

namespace kvx::lv2 {

class MidiSequence {
public:
    // `bytes`: the buffer's size, header included. Maps atom:Sequence and midi:MidiEvent; starts
    // empty.
    MidiSequence(UriMap& uris, size_t bytes);

    void* buffer() { return storage.data(); }  // connect the port to this
    void clear();                              // no events
    // Appends a message at `frame` (events go in frame order); false, and nothing written, when
    // it does not fit.
    bool add(int64_t frame, uint8_t status, uint8_t data1, uint8_t data2);
    // The same for an event of any `size` bytes (0 to 3 of `bytes`): what a host that sends
    // short or malformed messages puts in the port.
    bool addBytes(int64_t frame, const uint8_t* bytes, uint32_t size);

private:
    std::vector<uint64_t> storage;
    uint32_t sequenceType;
    uint32_t midiType;
};

}  // namespace kvx::lv2
