// SPDX-License-Identifier: MIT
// Segment labels: where the named parts of a render's output begin (an envelope's attack, decay
// ...), as a module's profile reads them from what the module told the host, and the streaming
// reports they are read from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvx::render {

// One sendPinStreaming report on the output pin, at its absolute sample.
struct StreamMark {
    int64_t sample;
    bool streaming;
};

struct SegmentChange {
    int64_t sample;    // first sample of the segment
    const char* name;  // "attack"; a static string of the profile's
};

struct SegmentLabels {
    std::vector<SegmentChange> changes;  // starts at sample 0
    // False when a report did not fit the module's transitions (then labels may be off).
    bool consistent = true;
    std::string model;  // what the labels follow, for messages: "the envelope's segments"
};

}  // namespace kvx::render
