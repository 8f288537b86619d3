// SPDX-License-Identifier: MIT
// The events `kvx render` sends the module over the whole render, in the order a host would
// deliver them: graph start and initial control values at sample 0, stream begin/end around
// every automation ramp and input file, control changes, resets, gate offs, and trigger+gate for
// note starts.
#pragma once

#include <cstdint>
#include <vector>

#include "render/module.h"
#include "render/plan.h"

namespace kvx::render {

struct ScheduledEvent {
    int64_t sample;  // absolute position
    int32_t type;    // EV_PIN_VALUE, EV_STREAM_BEGIN, EV_STREAM_END or EV_GRAPH_BEGIN
    int32_t pin;     // -1 for graph start
    float value;     // value events: the float, or 0/1 for bool pins
};

// Every event before `plan.length`, ordered by sample and, at one sample, in the order of
// host::EventRank: graph start, initial values, input streaming changes, control changes, reset,
// then the notes, gate offs before note starts so that a note that ends where the next begins
// retriggers.
std::vector<ScheduledEvent> scheduleEvents(const RenderPlan& plan, const RenderModule& module);

// Where the input of `track` is streaming: [begin, end) spans, a ramp from its first to its last
// sample, a jump for the one sample where it changes, a file from its start to its end;
// touching spans are joined.
struct StreamSpan {
    int64_t begin;
    int64_t end;
};
std::vector<StreamSpan> streamSpans(const InputTrack& track);

// [on, off) spans where the gate the host sent on pin `gatePin` is true, clipped to the render
// (none for a module without a gate, gatePin -1).
std::vector<StreamSpan> gateSpans(const std::vector<ScheduledEvent>& events, int64_t length, int32_t gatePin);

}  // namespace kvx::render
