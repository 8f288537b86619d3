// SPDX-License-Identifier: MIT
// Names the envelope's segments from what the module told the host: every segment set-up
// reports the output's streaming state (moving segments streaming, still ones not), so the
// reports, read against the events the host sent, give where each segment begins.
#pragma once

#include <cstdint>
#include <vector>

#include "render/schedule.h"

namespace kvx::render {

enum class Segment {
    Idle,
    Attack,
    Decay,
    Sustain,
    Release
};
const char* segmentName(Segment segment);

// One sendPinStreaming report on the output pin, at its absolute sample.
struct StreamMark {
    int64_t sample;
    bool streaming;
};

struct SegmentChange {
    int64_t sample;  // first sample of the segment
    Segment segment;
};

struct SegmentLabels {
    std::vector<SegmentChange> changes;  // starts with {0, Idle}
    // False when a report did not fit the envelope's transitions (then labels may be off).
    bool consistent = true;
};

// The segment sequence implied by `marks` (in the order the module made them) and `events`.
SegmentLabels labelSegments(const std::vector<ScheduledEvent>& events, const std::vector<StreamMark>& marks);

}  // namespace kvx::render
