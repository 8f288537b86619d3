// The event schedule of a render.
#include "tools/render/schedule.h"

#include <algorithm>

#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::render {

namespace {

// Order of events sharing a sample.
enum Rank {
    GRAPH,
    INITIAL,
    STREAM,
    RESET,
    GATE_OFF,
    NOTE_ON
};

struct Ranked {
    ScheduledEvent event;
    Rank rank;
};

}  // namespace

std::vector<StreamSpan> streamSpans(const ParameterTrack& track) {
    std::vector<StreamSpan> spans;
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

std::vector<ScheduledEvent> scheduleEvents(const RenderPlan& plan) {
    std::vector<Ranked> ranked;
    auto add = [&](int64_t sample, int32_t type, int32_t pin, float value, Rank rank) {
        if (sample < plan.length) ranked.push_back(Ranked{ScheduledEvent{sample, type, pin, value}, rank});
    };
    add(0, EV_GRAPH_BEGIN, -1, 0.0f, GRAPH);
    add(0, EV_PIN_VALUE, adsr::PIN_TRIGGER, 0.0f, INITIAL);
    add(0, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f, INITIAL);
    add(0, EV_PIN_VALUE, adsr::PIN_RESET, 0.0f, INITIAL);
    for (size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const int32_t pin = PARAMETERS[i].pin;
        const std::vector<StreamSpan> spans = streamSpans(plan.tracks[i]);
        // Every input learns its state at the start: constant unless a ramp starts right there.
        if (spans.empty() || spans.front().begin > 0) add(0, EV_STREAM_END, pin, 0.0f, INITIAL);
        for (const StreamSpan& span : spans) {
            add(span.begin, EV_STREAM_BEGIN, pin, 0.0f, STREAM);
            add(span.end, EV_STREAM_END, pin, 0.0f, STREAM);
        }
    }
    for (int64_t reset : plan.resets) add(reset, EV_PIN_VALUE, adsr::PIN_RESET, 1.0f, RESET);
    for (const NotePlan& note : plan.notes) {
        add(note.on, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f, NOTE_ON);
        add(note.on, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f, NOTE_ON);
        if (note.off != NO_OFF) add(note.off, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f, GATE_OFF);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        return a.event.sample != b.event.sample ? a.event.sample < b.event.sample : a.rank < b.rank;
    });
    std::vector<ScheduledEvent> events;
    events.reserve(ranked.size());
    for (const Ranked& item : ranked) events.push_back(item.event);
    return events;
}

std::vector<StreamSpan> gateSpans(const std::vector<ScheduledEvent>& events, int64_t length) {
    std::vector<StreamSpan> spans;
    bool gate = false;
    int64_t since = 0;
    size_t i = 0;
    while (i < events.size()) {
        // The gate after all events of one sample is what the module sees from that sample on.
        const int64_t sample = events[i].sample;
        bool next = gate;
        for (; i < events.size() && events[i].sample == sample; ++i)
            if (events[i].type == EV_PIN_VALUE && events[i].pin == adsr::PIN_GATE)
                next = events[i].value != 0.0f;
        if (next && !gate) since = sample;
        if (!next && gate) spans.push_back(StreamSpan{since, sample});
        gate = next;
    }
    if (gate) spans.push_back(StreamSpan{since, length});
    return spans;
}

}  // namespace kvx::render
