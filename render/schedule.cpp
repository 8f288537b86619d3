// SPDX-License-Identifier: MIT
// The event schedule of a render.
#include "render/schedule.h"

#include <algorithm>

#include "host/event_order.h"
#include "interfaces/host_event.h"

namespace kvx::render {

namespace {

using host::EventRank;

struct Ranked {
    ScheduledEvent event;
    EventRank rank;
};

}  // namespace

std::vector<StreamSpan> streamSpans(const InputTrack& track) {
    std::vector<StreamSpan> spans;
    if (track.file) {
        if (!track.file->samples.empty())
            spans.push_back(StreamSpan{0, static_cast<int64_t>(track.file->samples.size())});
        return spans;
    }
    for (size_t i = 1; i < track.points.size(); ++i) {
        const RampPoint& a = track.points[i - 1];
        const RampPoint& b = track.points[i];
        if (a.value == b.value) continue;
        StreamSpan span{a.sample, b.sample > a.sample ? b.sample : a.sample + 1};
        if (!spans.empty() && spans.back().end >= span.begin)
            spans.back().end = std::max(spans.back().end, span.end);
        else
            spans.push_back(span);
    }
    return spans;
}

std::vector<ScheduledEvent> scheduleEvents(const RenderPlan& plan, const RenderModule& module) {
    std::vector<Ranked> ranked;
    auto add = [&](int64_t sample, int32_t type, int32_t pin, float value, EventRank rank) {
        if (sample < plan.length) ranked.push_back(Ranked{ScheduledEvent{sample, type, pin, value}, rank});
    };
    add(0, EV_GRAPH_BEGIN, -1, 0.0f, EventRank::Graph);
    for (size_t i = 0; i < module.inputs.size(); ++i)
        if (!module.inputs[i].isAudio())
            add(0, EV_PIN_VALUE, module.inputs[i].id, plan.tracks[i].points.front().value,
                EventRank::Initial);
    for (size_t i = 0; i < module.inputs.size(); ++i) {
        if (!module.inputs[i].isAudio()) continue;
        const int32_t pin = module.inputs[i].id;
        const std::vector<StreamSpan> spans = streamSpans(plan.tracks[i]);
        // Every input learns its state at the start: constant unless a ramp starts right there.
        if (spans.empty() || spans.front().begin > 0) add(0, EV_STREAM_END, pin, 0.0f, EventRank::Initial);
        for (const StreamSpan& span : spans) {
            add(span.begin, EV_STREAM_BEGIN, pin, 0.0f, EventRank::Stream);
            add(span.end, EV_STREAM_END, pin, 0.0f, EventRank::Stream);
        }
    }
    for (const ValueChange& change : plan.changes)
        add(change.sample, EV_PIN_VALUE, module.inputs[change.input].id, change.value, EventRank::Change);
    const size_t reset = module.roleIndex(describe::Role::Reset);
    if (reset != RenderModule::NONE)
        for (int64_t at : plan.resets) add(at, EV_PIN_VALUE, module.inputs[reset].id, 1.0f, EventRank::Reset);
    const size_t trigger = module.roleIndex(describe::Role::Trigger);
    const size_t gate = module.roleIndex(describe::Role::Gate);
    if (gate != RenderModule::NONE) {
        // Every gate off before any note start: at one sample, a note that ends where another
        // begins (in whatever order the score lists them) retriggers.
        for (const NotePlan& note : plan.notes)
            if (note.off != NO_OFF)
                add(note.off, EV_PIN_VALUE, module.inputs[gate].id, 0.0f, EventRank::Note);
        for (const NotePlan& note : plan.notes) {
            if (trigger != RenderModule::NONE)
                add(note.on, EV_PIN_VALUE, module.inputs[trigger].id, 1.0f, EventRank::Note);
            add(note.on, EV_PIN_VALUE, module.inputs[gate].id, 1.0f, EventRank::Note);
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        return host::deliveredBefore(a.event.sample, a.rank, b.event.sample, b.rank);
    });
    std::vector<ScheduledEvent> events;
    events.reserve(ranked.size());
    for (const Ranked& item : ranked) events.push_back(item.event);
    return events;
}

std::vector<StreamSpan> gateSpans(const std::vector<ScheduledEvent>& events, int64_t length,
                                  int32_t gatePin) {
    std::vector<StreamSpan> spans;
    if (gatePin < 0) return spans;
    bool gate = false;
    int64_t since = 0;
    size_t i = 0;
    while (i < events.size()) {
        // The gate after all events of one sample is what the module sees from that sample on.
        const int64_t sample = events[i].sample;
        bool next = gate;
        for (; i < events.size() && events[i].sample == sample; ++i)
            if (events[i].type == EV_PIN_VALUE && events[i].pin == gatePin) next = events[i].value != 0.0f;
        if (next && !gate) since = sample;
        if (!next && gate) spans.push_back(StreamSpan{since, sample});
        gate = next;
    }
    if (gate) spans.push_back(StreamSpan{since, length});
    return spans;
}

}  // namespace kvx::render
