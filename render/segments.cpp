// SPDX-License-Identifier: MIT
// Segment labels from the host trace.
//
// At a sample that carries events the module reports, in this order: the graph start (output
// streaming), its first pin change (output constant, once), a reset (idle, constant), a
// trigger while the gate is on (attack, streaming), a gate off during attack, decay or sustain
// (release, streaming). Every other report is a segment ending on its own and the next one
// starting: attack -> decay -> sustain -> release -> idle.
#include "render/segments.h"

#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::render {

const char* segmentName(Segment segment) {
    switch (segment) {
        case Segment::Idle:
            return "idle";
        case Segment::Attack:
            return "attack";
        case Segment::Decay:
            return "decay";
        case Segment::Sustain:
            return "sustain";
        case Segment::Release:
            return "release";
    }
    return "?";
}

namespace {

Segment following(Segment segment) {
    switch (segment) {
        case Segment::Idle:
            return Segment::Attack;
        case Segment::Attack:
            return Segment::Decay;
        case Segment::Decay:
            return Segment::Sustain;
        case Segment::Sustain:
            return Segment::Release;
        case Segment::Release:
            return Segment::Idle;
    }
    return Segment::Idle;
}

bool streamsIn(Segment segment) {
    return segment == Segment::Attack || segment == Segment::Decay || segment == Segment::Release;
}

}  // namespace

SegmentLabels labelSegments(const std::vector<ScheduledEvent>& events, const std::vector<StreamMark>& marks) {
    SegmentLabels labels;
    Segment state = Segment::Idle;
    labels.changes.push_back(SegmentChange{0, state});
    auto enter = [&](int64_t sample, Segment segment) {
        state = segment;
        if (labels.changes.back().sample == sample)
            labels.changes.back().segment = segment;
        else if (labels.changes.back().segment != segment)
            labels.changes.push_back(SegmentChange{sample, segment});
    };
    size_t mark = 0;
    // A report that must be at `sample` and say `streaming`.
    auto expect = [&](int64_t sample, bool streaming) {
        if (mark < marks.size() && marks[mark].sample == sample && marks[mark].streaming == streaming)
            ++mark;
        else
            labels.consistent = false;
    };
    auto advanceBefore = [&](int64_t limit) {
        for (; mark < marks.size() && marks[mark].sample < limit; ++mark) {
            const Segment next = following(state);
            if (marks[mark].streaming != streamsIn(next)) labels.consistent = false;
            enter(marks[mark].sample, next);
        }
    };

    bool gate = false;
    bool installed = false;
    size_t i = 0;
    while (i < events.size()) {
        const int64_t sample = events[i].sample;
        advanceBefore(sample);
        bool graph = false, pinChange = false, reset = false, trigger = false, gateChanged = false;
        for (; i < events.size() && events[i].sample == sample; ++i) {
            const ScheduledEvent& event = events[i];
            if (event.type == EV_GRAPH_BEGIN) graph = true;
            if (event.type >= EV_PIN_VALUE && event.type <= EV_STREAM_END) pinChange = true;
            if (event.type != EV_PIN_VALUE) continue;
            if (event.pin == adsr::PIN_RESET && event.value == 1.0f) reset = true;
            if (event.pin == adsr::PIN_TRIGGER && event.value != 0.0f) trigger = true;
            if (event.pin == adsr::PIN_GATE) {
                gate = event.value != 0.0f;
                gateChanged = true;
            }
        }
        if (graph) expect(sample, true);
        if (pinChange && !installed) {
            installed = true;
            expect(sample, false);
        }
        if (!pinChange) continue;
        if (reset) {
            expect(sample, false);
            enter(sample, Segment::Idle);
        }
        if (trigger && gate) {
            expect(sample, true);
            enter(sample, Segment::Attack);
        }
        if (gateChanged && !gate &&
            (state == Segment::Attack || state == Segment::Decay || state == Segment::Sustain)) {
            expect(sample, true);
            enter(sample, Segment::Release);
        }
    }
    advanceBefore(INT64_MAX);
    return labels;
}

}  // namespace kvx::render
