// SPDX-License-Identifier: MIT
// The envelope's profile.
//
// Segment labels: at a sample that carries events the envelope reports, in this order: the graph
// start (output streaming), its first pin change (output constant, once), a reset (idle,
// constant), a trigger while the gate is on (attack, streaming), a gate off during attack, decay
// or sustain (release, streaming). Every other report is a segment ending on its own and the next
// one starting: attack -> decay -> sustain -> release -> idle.
#include "render/envelope_profile.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "describe/description_reader.h"
#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"
#include "modules/adsr/segment_math.h"
#include "render/plot.h"

namespace kvx::render {

// Generated from modules/adsr/ADSR.kvx.json (envelope_description.cpp in the build tree).
extern const char ENVELOPE_DESCRIPTION_JSON[];

namespace {

const char DEFAULT_SCORE[] = R"({
  "length": "2s",
  "parameters": {
    "attack": "100ms", "decay": "400ms", "sustain": 0.5, "release": "800ms",
    "attack-curve": 0.1, "decay-curve": 0.4, "release-curve": 0.4
  },
  "notes": [{"on": 0, "off": "1.2s"}]
})";

enum class Segment {
    Idle,
    Attack,
    Decay,
    Sustain,
    Release
};

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

// The segment sequence implied by `marks` and `events` (see the top of this file).
SegmentLabels labelSegments(const std::vector<ScheduledEvent>& events, const std::vector<StreamMark>& marks) {
    struct Change {
        int64_t sample;
        Segment segment;
    };
    std::vector<Change> changes{{0, Segment::Idle}};
    bool consistent = true;
    Segment state = Segment::Idle;
    auto enter = [&](int64_t sample, Segment segment) {
        state = segment;
        if (changes.back().sample == sample)
            changes.back().segment = segment;
        else if (changes.back().segment != segment)
            changes.push_back(Change{sample, segment});
    };
    size_t mark = 0;
    // A report that must be at `sample` and say `streaming`.
    auto expect = [&](int64_t sample, bool streaming) {
        if (mark < marks.size() && marks[mark].sample == sample && marks[mark].streaming == streaming)
            ++mark;
        else
            consistent = false;
    };
    auto advanceBefore = [&](int64_t limit) {
        for (; mark < marks.size() && marks[mark].sample < limit; ++mark) {
            const Segment next = following(state);
            if (marks[mark].streaming != streamsIn(next)) consistent = false;
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

    SegmentLabels labels;
    for (const Change& change : changes)
        labels.changes.push_back(SegmentChange{change.sample, segmentName(change.segment)});
    labels.consistent = consistent;
    labels.model = "the envelope's segments";
    return labels;
}

class EnvelopeProfile final : public ModuleProfile {
public:
    const char* defaultScore() const override { return DEFAULT_SCORE; }

    // Long enough for a full-scale release after the last event, and a little silence.
    std::optional<DerivedLength> derivedLength(const RenderModule& module, const RenderPlan& plan,
                                               int64_t lastEvent) const override {
        const size_t release = module.inputIndex("release");
        if (release == RenderModule::NONE) return std::nullopt;
        float releaseValue = plan.tracks[release].valueAt(lastEvent);
        const double tail = static_cast<double>(adsr::timeValueToSeconds(releaseValue)) + 0.25;
        return DerivedLength{lastEvent + static_cast<int64_t>(std::ceil(std::min(tail, 3600.0) * plan.rate)),
                             "last event + release"};
    }

    std::optional<SegmentLabels> segments(const RenderModule& /*module*/,
                                          const std::vector<ScheduledEvent>& events,
                                          const std::vector<StreamMark>& marks) const override {
        return labelSegments(events, marks);
    }

    // The table is sample,time_s,level,gate,segment.
    std::vector<std::string> outputColumns(const RenderModule& /*module*/) const override {
        return {"level"};
    }

    // The four main settings first, the curves on the second line.
    std::optional<std::pair<std::string, std::string>> figureTitles(
        const RenderModule& module, const RenderPlan& plan, const std::string& session) const override {
        for (const std::string_view name : ENVELOPE_FLAGS)
            if (module.inputIndex(name) == RenderModule::NONE) return std::nullopt;  // described otherwise
        const std::string dot = TITLE_SEPARATOR;
        auto setting = [&](const char* name) { return plan.tracks[module.inputIndex(name)].text; };
        std::string title = "KV ADSR4";
        for (const char* name : {"attack", "decay", "sustain", "release"})
            title += dot + std::string(name) + " " + setting(name);
        return std::pair{title, "curves: attack " + setting("attack-curve") + ", decay " +
                                    setting("decay-curve") + ", release " + setting("release-curve") + dot +
                                    session};
    }
};

}  // namespace

const describe::Description& builtInEnvelopeDescription() {
    static const describe::Description description =
        describe::parseDescription(ENVELOPE_DESCRIPTION_JSON, "built-in description of \"KV ADSR4\"");
    return description;
}

const char* envelopeDefaultScore() { return DEFAULT_SCORE; }

const ModuleProfile& envelopeProfile() {
    static const EnvelopeProfile profile;
    return profile;
}

bool isEnvelope(std::string_view id, int32_t subtype) {
    return std::u16string(id.begin(), id.end()) == adsr::MODULE_ID && subtype == adsr::MODULE_SUBTYPE;
}

}  // namespace kvx::render
