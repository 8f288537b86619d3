// SPDX-License-Identifier: MIT
// kvx::render plan and schedule: score times resolved to samples, the events a host sends at
// exactly those samples, stream begin/end around every ramp, and the order of events that
// share a sample. Rates of 1000 Hz make every expected sample a hand computation.
#include <gtest/gtest.h>

#include <limits>

#include <string>
#include <vector>

#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"
#include "render/envelope_profile.h"
#include "render/error.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/schedule.h"
#include "render/score.h"

namespace kvx::render {
namespace {

const RenderModule ENVELOPE = renderModule(builtInEnvelopeDescription().modules.front(), "built in");

// Every parameter constant; release 0.75 is a 1 s full-scale release.
const std::string CONSTANT_PARAMETERS =
    R"("parameters": {"attack": 0.5, "decay": 0.5, "sustain": 0.5, "release": 0.75,
                      "attack-curve": 0, "decay-curve": 0, "release-curve": 0})";

RenderPlan planOf(const std::string& items, int32_t rate = 1000) {
    return resolvePlan(parseScore("{" + CONSTANT_PARAMETERS + ", " + items + "}", "s.json", ENVELOPE), rate,
                       ENVELOPE);
}

std::string planError(const std::string& items) {
    try {
        planOf(items);
    } catch (const RenderError& error) {
        return error.what();
    }
    return "";
}

std::vector<ScheduledEvent> eventsFor(const std::vector<ScheduledEvent>& events, int32_t pin) {
    std::vector<ScheduledEvent> found;
    for (const ScheduledEvent& event : events)
        if (event.pin == pin) found.push_back(event);
    return found;
}

void expectEvents(const std::vector<ScheduledEvent>& got, const std::vector<ScheduledEvent>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_EQ(got[i].sample, expected[i].sample);
        EXPECT_EQ(got[i].type, expected[i].type);
        EXPECT_EQ(got[i].pin, expected[i].pin);
        EXPECT_EQ(got[i].value, expected[i].value);
    }
}

TEST(RenderSchedule, NotesAndResetsLandOnTheirSamples) {
    const RenderPlan plan =
        planOf(R"("length": "1s", "notes": [{"on": "100smp", "off": 0.25}], "resets": ["300ms"])");
    const std::vector<ScheduledEvent> events = scheduleEvents(plan, ENVELOPE);
    ASSERT_FALSE(events.empty());
    expectEvents({events.front()}, {{0, EV_GRAPH_BEGIN, -1, 0.0f}});
    // 3 initial values and 7 constant inputs at sample 0, then the note and the reset.
    ASSERT_EQ(events.size(), 15u);
    expectEvents({events.begin() + 11, events.end()}, {{100, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f},
                                                       {100, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f},
                                                       {250, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f},
                                                       {300, EV_PIN_VALUE, adsr::PIN_RESET, 1.0f}});
    for (size_t i = 1; i < 11; ++i) EXPECT_EQ(events[i].sample, 0) << i;
}

TEST(RenderSchedule, RampsStreamFromTheirFirstToTheirLastSample) {
    const RenderPlan plan = planOf(R"("length": "1000smp", "automation": {
        "decay": [["100smp", 0.2], ["300smp", 0.6]],
        "sustain": [["500smp", 0.2], ["500smp", 0.8]],
        "release": [[0, 0.5], ["50smp", 0.75]],
        "attack": [[0, 0.5], ["200smp", 0.5]],
        "attack-curve": [[0, 0], ["1000smp", 1]],
        "decay-curve": [["100smp", 0], ["200smp", 0.5], ["300smp", 0]],
        "release-curve": [["100smp", 0], ["200smp", 0.5], ["201smp", 0.5], ["300smp", 0]]})");
    const std::vector<ScheduledEvent> events = scheduleEvents(plan, ENVELOPE);
    // A ramp: constant at first, streaming from its first to its last breakpoint.
    expectEvents(eventsFor(events, adsr::PIN_DECAY_TIME), {{0, EV_STREAM_END, adsr::PIN_DECAY_TIME, 0.0f},
                                                           {100, EV_STREAM_BEGIN, adsr::PIN_DECAY_TIME, 0.0f},
                                                           {300, EV_STREAM_END, adsr::PIN_DECAY_TIME, 0.0f}});
    // A jump (two breakpoints at one sample) streams for that one sample.
    expectEvents(eventsFor(events, adsr::PIN_SUSTAIN_LEVEL),
                 {{0, EV_STREAM_END, adsr::PIN_SUSTAIN_LEVEL, 0.0f},
                  {500, EV_STREAM_BEGIN, adsr::PIN_SUSTAIN_LEVEL, 0.0f},
                  {501, EV_STREAM_END, adsr::PIN_SUSTAIN_LEVEL, 0.0f}});
    // A ramp from sample 0 is never announced constant at 0.
    expectEvents(eventsFor(events, adsr::PIN_RELEASE_TIME),
                 {{0, EV_STREAM_BEGIN, adsr::PIN_RELEASE_TIME, 0.0f},
                  {50, EV_STREAM_END, adsr::PIN_RELEASE_TIME, 0.0f}});
    // Equal breakpoints are no ramp; a ramp ending at the render's end never ends inside it.
    expectEvents(eventsFor(events, adsr::PIN_ATTACK_TIME), {{0, EV_STREAM_END, adsr::PIN_ATTACK_TIME, 0.0f}});
    expectEvents(eventsFor(events, adsr::PIN_ATTACK_CURVE),
                 {{0, EV_STREAM_BEGIN, adsr::PIN_ATTACK_CURVE, 0.0f}});

    // Ramps that touch end to start stream once, from the first start to the last end; a flat
    // sample between them ends the first and begins the second.
    expectEvents(eventsFor(events, adsr::PIN_DECAY_CURVE),
                 {{0, EV_STREAM_END, adsr::PIN_DECAY_CURVE, 0.0f},
                  {100, EV_STREAM_BEGIN, adsr::PIN_DECAY_CURVE, 0.0f},
                  {300, EV_STREAM_END, adsr::PIN_DECAY_CURVE, 0.0f}});
    expectEvents(eventsFor(events, adsr::PIN_RELEASE_CURVE),
                 {{0, EV_STREAM_END, adsr::PIN_RELEASE_CURVE, 0.0f},
                  {100, EV_STREAM_BEGIN, adsr::PIN_RELEASE_CURVE, 0.0f},
                  {200, EV_STREAM_END, adsr::PIN_RELEASE_CURVE, 0.0f},
                  {201, EV_STREAM_BEGIN, adsr::PIN_RELEASE_CURVE, 0.0f},
                  {300, EV_STREAM_END, adsr::PIN_RELEASE_CURVE, 0.0f}});
    const InputTrack& touching = plan.tracks[ENVELOPE.inputIndex("decay-curve")];
    EXPECT_EQ(touching.valueAt(150), 0.25f);
    EXPECT_EQ(touching.valueAt(200), 0.5f) << "the meeting point is both ramps' end and start";
    EXPECT_EQ(touching.valueAt(250), 0.25f);
    EXPECT_EQ(touching.valueAt(300), 0.0f);

    const InputTrack& decay = plan.tracks[ENVELOPE.inputIndex("decay")];
    EXPECT_EQ(decay.valueAt(99), 0.2f);
    EXPECT_FLOAT_EQ(decay.valueAt(200), 0.4f);  // halfway
    EXPECT_EQ(decay.valueAt(300), 0.6f);
    EXPECT_EQ(decay.valueAt(999), 0.6f);
    const InputTrack& sustain = plan.tracks[ENVELOPE.inputIndex("sustain")];
    EXPECT_EQ(sustain.valueAt(499), 0.2f);
    EXPECT_EQ(sustain.valueAt(500), 0.8f) << "the later of two breakpoints at one sample wins";

    // Whatever the host declared constant must hold still in the input buffer.
    for (size_t p = 0; p < ENVELOPE.inputs.size(); ++p) {
        if (!ENVELOPE.inputs[p].isAudio()) continue;
        const InputTrack& track = plan.tracks[p];
        const std::vector<ScheduledEvent> own = eventsFor(events, ENVELOPE.inputs[p].id);
        bool streaming = false, streamingBefore = false;
        size_t next = 0;
        for (int64_t s = 0; s < plan.length; ++s) {
            streamingBefore = streaming;
            for (; next < own.size() && own[next].sample == s; ++next)
                streaming = own[next].type == EV_STREAM_BEGIN;
            if (s > 0 && !streaming && !streamingBefore) {
                ASSERT_EQ(track.valueAt(s), track.valueAt(s - 1)) << ENVELOPE.inputName(p) << " at " << s;
            }
        }
    }
}

// 0 Hz on a logarithmic pin is the pin value -inf: a flat stretch there, and a ramp from or to it,
// hold the infinite end (the start's where both are), never the NaN of the straight line.
TEST(RenderPlan, AFlatStretchOrARampStartAtAnInfinitePinValueIsThatValue) {
    const float inf = std::numeric_limits<float>::infinity();
    InputTrack track;
    track.points = {{0, -inf}, {10, -inf}, {20, 1.0f}, {30, inf}};
    for (int64_t sample : {0, 5, 10}) EXPECT_EQ(track.valueAt(sample), -inf) << "sample " << sample;
    EXPECT_EQ(track.valueAt(15), -inf);  // from -inf to 1
    EXPECT_EQ(track.valueAt(20), 1.0f);
    EXPECT_EQ(track.valueAt(25), inf);
    EXPECT_EQ(track.valueAt(40), inf);
}

TEST(RenderSchedule, EventsAtOneSampleComeInHostOrder) {
    // At 200: a ramp starts, a reset, one note ends and the next starts; the gate-off comes
    // before the new note so that the note retriggers, and the gate stays on throughout, in
    // whichever order the score lists the notes.
    for (const char* notes : {"[[0.1, 0.2], [0.2, 0.25]]", "[[0.2, 0.25], [0.1, 0.2]]"}) {
        SCOPED_TRACE(notes);
        const RenderPlan plan =
            planOf(std::string(R"("length": "250smp", "notes": )") + notes + R"(, "resets": [0.2],
            "automation": {"decay": [[0.2, 0.3], [0.22, 0.4]]})");
        const std::vector<ScheduledEvent> events = scheduleEvents(plan, ENVELOPE);
        std::vector<ScheduledEvent> at200;
        for (const ScheduledEvent& event : events)
            if (event.sample == 200) at200.push_back(event);
        expectEvents(at200, {{200, EV_STREAM_BEGIN, adsr::PIN_DECAY_TIME, 0.0f},
                             {200, EV_PIN_VALUE, adsr::PIN_RESET, 1.0f},
                             {200, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f},
                             {200, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f},
                             {200, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f}});
        EXPECT_EQ(events.back().sample, 220) << "the gate-off at the render's end is not sent";
        const std::vector<StreamSpan> gates = gateSpans(events, plan.length, adsr::PIN_GATE);
        ASSERT_EQ(gates.size(), 1u);
        EXPECT_EQ(gates[0].begin, 100);
        EXPECT_EQ(gates[0].end, 250);
    }
}

TEST(RenderPlan, LengthIsTheLastEventPlusAFullReleaseAndAQuarterSecond) {
    // Release 0.75 = 1 s; the last event is the note-off at 500 or the breakpoint at 700.
    EXPECT_EQ(planOf(R"("notes": [[0, 0.5]])").length, 500 + 1250);
    EXPECT_EQ(planOf(R"("notes": [[0, 0.5]], "automation": {"sustain": [[0.7, 0.1]]})").length, 700 + 1250);
    EXPECT_EQ(planOf(R"("notes": [[0, 0.5]])", 48000).length, 24000 + 60000);
}

TEST(RenderPlan, TimesAtTheirLimitsAreTakenAsWritten) {
    EXPECT_EQ(planOf(R"("length": "1smp")").length, 1);
    EXPECT_EQ(planOf(R"("length": "0.5ms")").length, 1) << "half a sample rounds up to one";
    EXPECT_EQ(planOf(R"("length": "50000000smp")").length, 50000000);
    const RenderPlan plan = planOf(R"("length": "1s", "notes": [["100smp", "101smp"], ["999999999999999smp"]],
        "automation": {"sustain": [["100smp", 0.2], ["100smp", 0.4]]})");
    ASSERT_EQ(plan.notes.size(), 2u);
    EXPECT_EQ(plan.notes[0].on, 100);
    EXPECT_EQ(plan.notes[0].off, 101) << "a note of one sample";
    EXPECT_EQ(plan.notes[1].on, 999999999999999) << "the farthest time accepted";
    // Events at or after the end are not sent: the far note, and no gate-off at the length.
    for (const ScheduledEvent& event : scheduleEvents(plan, ENVELOPE)) EXPECT_LT(event.sample, 1000);
}

TEST(RenderPlan, TimesThatMakeNoSenseNameTheirField) {
    struct Case {
        const char* items;
        const char* start;
    };
    for (const Case& c : {
             Case{R"("notes": [[0, 1], [-0.5, 1]])", "s.json: notes[1]: a time must not be negative"},
             Case{R"("notes": [[0.5, "500ms"]])", "s.json: notes[0]: the note must end after it starts"},
             Case{R"("automation": {"decay": [["10smp", 0.2], ["9smp", 0.4]]})",
                  "s.json: automation.decay[1]: breakpoints must be in time order"},
             Case{R"("resets": ["1e300smp"])", "s.json: resets[0]: a time too far in the future"},
             Case{R"("notes": [[0, "1e300s"]])", "s.json: notes[0]: a time too far in the future"},
             Case{R"("length": "0.1ms")", "s.json: length: shorter than one sample at 1000 Hz"},
             Case{R"("length": "1e300smp")", "s.json: length: at most 50000000 samples"},
             // Every number at and just past its limit.
             Case{R"("length": 0)", "s.json: length: must be positive, got 0s"},
             Case{R"("length": "0smp")", "s.json: length: must be positive, got 0smp"},
             Case{R"("length": -1)", "s.json: length: must be positive, got -1s"},
             Case{R"("length": "0.49ms")", "s.json: length: shorter than one sample at 1000 Hz, got 0.49ms"},
             Case{R"("length": "50000001smp")",
                  "s.json: length: at most 50000000 samples (50000 s at 1000 Hz), got 50000001 samples"},
             // Beyond int64 arithmetic: said as written, not as the clamped count.
             Case{R"("length": "1e30s")",
                  "s.json: length: at most 50000000 samples (50000 s at 1000 Hz), got 1e+30s"},
             Case{R"("length": "1s", "notes": [["1000000000000000smp"]])",
                  "s.json: notes[0]: a time too far in the future, got 1e+15smp"},
             Case{R"("notes": [["-1smp"]])", "s.json: notes[0]: a time must not be negative, got -1smp"},
             Case{R"("notes": [["100smp", "100smp"]])",
                  "s.json: notes[0]: the note must end after it starts"},
             Case{R"("notes": [["100smp", "99smp"]])", "s.json: notes[0]: the note must end after it starts"},
             Case{R"("automation": {"sustain": [["100smp", 0.2], ["99smp", 0.4]]})",
                  "s.json: automation.sustain[1]: breakpoints must be in time order"},
             Case{R"("automation": {"sustain": [["-1smp", 0.2]]})",
                  "s.json: automation.sustain[0]: a time must not be negative"},
             Case{R"("events": [{"at": "-1smp", "pin": "reset", "value": 1}])",
                  "s.json: events[0]: a time must not be negative"},
         }) {
        SCOPED_TRACE(c.items);
        const std::string message = planError(c.items);
        EXPECT_EQ(message.rfind(c.start, 0), 0u) << message;
    }
}

}  // namespace
}  // namespace kvx::render
