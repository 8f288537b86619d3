// SPDX-License-Identifier: MIT
// Module profiles: only the envelope's exact id and subtype have one, any other module takes the
// generic path; the envelope's segment labels follow its documented streaming reports and notice
// a report that does not fit; its derived length stops an hour after the last event.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"
#include "render/envelope_profile.h"
#include "render/module.h"
#include "render/plan.h"
#include "render/profile.h"
#include "render/score.h"

namespace kvx::render {
namespace {

const RenderModule ENVELOPE = renderModule(builtInEnvelopeDescription().modules.front(), "built in");

// A module with the envelope's pin names but another id: described, not profiled.
RenderModule lookalike(const std::string& id, int subtype) {
    describe::ModuleDescription module = builtInEnvelopeDescription().modules.front();
    module.id = id;
    module.subtype = subtype;
    return renderModule(module, "test");
}

TEST(ModuleProfiles, OnlyTheEnvelopesExactKeyHasOne) {
    EXPECT_EQ(ENVELOPE.profile, &envelopeProfile());
    EXPECT_EQ(profileFor("KV ADSR4", 0), &envelopeProfile());
    for (const auto& [id, subtype] : std::vector<std::pair<std::string, int>>{
             {"KV ADSR4", 1}, {"KV ADSR4", -1}, {"KV ADSR", 0}, {"KV ADSR4 ", 0}, {"kv adsr4", 0}, {"", 0}}) {
        SCOPED_TRACE("\"" + id + "\" subtype " + std::to_string(subtype));
        EXPECT_EQ(profileFor(id, subtype), nullptr);
        // Without a profile the default score is every input at its described default, no notes.
        const RenderModule other = lookalike(id, subtype);
        EXPECT_EQ(other.profile, nullptr);
        const Score score = defaultScore(other);
        EXPECT_TRUE(score.notes.empty());
        EXPECT_FALSE(score.length);
    }
    EXPECT_EQ(&builtInModule(), &builtInEnvelopeDescription().modules.front());
}

ScheduledEvent value(int64_t sample, int32_t pin, float v) { return {sample, EV_PIN_VALUE, pin, v}; }

std::vector<std::string> names(const SegmentLabels& labels) {
    std::vector<std::string> out;
    for (const SegmentChange& change : labels.changes)
        out.push_back(std::to_string(change.sample) + " " + change.name);
    return out;
}

// A note from 0 to 300 and a reset at 500, with the reports the envelope makes: graph start
// (streaming), first change (constant), attack (streaming) at 0; decay begins at 100 (streaming),
// sustain at 200 (constant), release at the gate off (streaming), idle at 400 (constant).
TEST(EnvelopeProfile, LabelsSegmentsFromTheReportsAndNoticesOneThatDoesNotFit) {
    const std::vector<ScheduledEvent> events{{0, EV_GRAPH_BEGIN, -1, 0.0f},
                                             value(0, adsr::PIN_TRIGGER, 1.0f),
                                             value(0, adsr::PIN_GATE, 1.0f),
                                             value(300, adsr::PIN_GATE, 0.0f),
                                             value(500, adsr::PIN_RESET, 1.0f)};
    std::vector<StreamMark> marks{{0, true},    {0, false},  {0, true},    {100, true},
                                  {200, false}, {300, true}, {400, false}, {500, false}};
    const std::optional<SegmentLabels> labels = envelopeProfile().segments(ENVELOPE, events, marks);
    ASSERT_TRUE(labels);
    EXPECT_TRUE(labels->consistent);
    EXPECT_EQ(names(*labels),
              (std::vector<std::string>{"0 attack", "100 decay", "200 sustain", "300 release", "400 idle"}));

    marks[3].streaming = false;  // a decay that claims to be constant
    const std::optional<SegmentLabels> odd = envelopeProfile().segments(ENVELOPE, events, marks);
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->consistent);
    EXPECT_EQ(odd->model, "the envelope's segments");

    marks[3].streaming = true;
    marks.pop_back();  // the reset's report missing
    EXPECT_FALSE(envelopeProfile().segments(ENVELOPE, events, marks)->consistent);
}

TEST(EnvelopeProfile, DerivedLengthNeedsAReleaseInputAndStopsAnHourAfterTheLastEvent) {
    const std::string score = R"({"parameters": {"release": 2.0}, "notes": [{"on": 0, "off": 0.5}]})";
    RenderPlan plan = resolvePlan(parseScore(score, "s.json", ENVELOPE), 1000, ENVELOPE);
    // Release value 2.0 is 100000 s full scale: capped at 3600 s, at 1000 Hz after sample 500.
    const std::optional<DerivedLength> length = envelopeProfile().derivedLength(ENVELOPE, plan, 500);
    ASSERT_TRUE(length);
    EXPECT_EQ(length->samples, 500 + 3'600'000);
    EXPECT_EQ(length->rule, "last event + release");

    describe::ModuleDescription described = builtInEnvelopeDescription().modules.front();
    std::erase_if(described.pins,
                  [](const describe::PinDescription& pin) { return pin.symbol == "release"; });
    const RenderModule noRelease = renderModule(described, "test");
    ASSERT_EQ(noRelease.profile, &envelopeProfile());  // same key, described otherwise
    plan = resolvePlan(parseScore(R"({"notes": [{"on": 0, "off": 0.5}]})", "s.json", noRelease), 1000,
                       noRelease);
    EXPECT_FALSE(envelopeProfile().derivedLength(noRelease, plan, 500));
    EXPECT_EQ(plan.length, 1500);  // the generic rule: a second after the last event
    EXPECT_EQ(plan.lengthRule, "inputs and events");
    EXPECT_FALSE(envelopeProfile().figureTitles(noRelease, plan, "session"));
}

}  // namespace
}  // namespace kvx::render
