// SPDX-License-Identifier: MIT
// Trigger, gate and reset through the real host: which events start what, at which sample, and
// what the host is told. Expected envelopes come from the reference; the first-principles facts
// (nothing moves, frozen levels, shorter attacks from higher levels) are checked directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/adsr/adsr_session.h"

namespace kvx::test {
namespace {

constexpr float RATE = 48000.0f;
// 0.1 s per full-scale segment at 48 kHz.
const double FULL_SCALE = static_cast<double>(0.1f) * RATE;

int64_t countStreaming(const std::vector<StreamReport>& reports, int64_t from, int64_t to) {
    int64_t n = 0;
    for (const StreamReport& r : reports) n += r.streaming && r.time >= from && r.time < to;
    return n;
}

// Until its first pin event the module runs its empty routine: the host's buffer stays as it was.
TEST(FirstEvent, InstallsTheEnvelopeRoutine) {
    AdsrSession session(RATE);
    session.blocks().runner().honourSleep = false;
    session.event(100, RESET, 0.0f);
    const std::vector<float>& out = session.render(200, 64);
    for (int i = 0; i < 100; ++i) ASSERT_FALSE(session.blocks().writtenByModule()[size_t(i)]) << i;
    for (int i = 100; i < 200; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    EXPECT_EQ(session.reports(), (std::vector<StreamReport>{{100, false}}));
}

TEST(Trigger, NeedsTheGateAndATrueValue) {
    AdsrSession session(RATE);
    session.event(10, TRIGGER, 1.0f);  // gate still false
    session.event(20, GATE, 1.0f);     // gate alone starts nothing
    session.event(30, TRIGGER, 0.0f);  // a false trigger neither
    const std::vector<float>& quiet = session.render(40, 16);
    for (float v : quiet) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(session.reports(), (std::vector<StreamReport>{{10, false}}));  // only the install

    session.event(40, TRIGGER, 1.0f);  // gate is still true from sample 20
    const std::vector<float>& out = session.render(100, 16);
    EXPECT_EQ(session.reports().back(), (StreamReport{40, true}));
    EXPECT_EQ(out[39], 0.0f);
    EXPECT_GT(out[40], 0.0f);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// Gate-off starts the release from the current level in attack, decay and sustain, on the very
// sample of the event; in release or idle it changes nothing.
struct GateOffCase {
    const char* phase;
    int64_t at;
    bool releases;
};

// Printed field by field: the default printer would read the struct's padding bytes.
void PrintTo(const GateOffCase& c, std::ostream* out) { *out << c.phase << " at " << c.at; }

class GateOff : public ::testing::TestWithParam<GateOffCase> {};

TEST_P(GateOff, StartsTheReleaseOnlyFromAttackDecayOrSustain) {
    const GateOffCase c = GetParam();
    SCOPED_TRACE(c.phase);
    EnvelopeParams params;
    params.releaseTime = 0.25f;  // 10 ms per full scale: a first gate-off at 20000 ends by 20500
    std::vector<float> renders[2];
    std::vector<StreamReport> reports;
    for (int withEvent = 0; withEvent < 2; ++withEvent) {
        AdsrSession session(RATE, params);
        session.noteOn(0);
        if (c.at > 20000) session.noteOff(20000);
        if (withEvent) session.noteOff(c.at);
        renders[withEvent] = session.render(30000, 64);
        EXPECT_EQ(firstDifference(renders[withEvent], session.expected().output()), -1);
        if (withEvent) reports = session.reports();
    }
    const std::vector<float>& out = renders[1];
    const int64_t differs = firstDifference(renders[0], renders[1]);
    if (!c.releases) {
        EXPECT_EQ(differs, -1);
        EXPECT_EQ(countStreaming(reports, c.at, c.at + 1), 0);
        return;
    }
    EXPECT_EQ(differs, c.at);
    EXPECT_EQ(countStreaming(reports, c.at, c.at + 1), 1);
    // The first release step from the level at the event, by the documented plan.
    const double level = out[c.at - 1];  // the float output equals the level only approximately
    const SegmentPlan plan = referencePlan(level, 0.0, 0.25f, 0.1f, RATE);
    EXPECT_NEAR(out[c.at], level + (plan.asymptote - level) * plan.coefficient, 1e-6);
    EXPECT_LT(out[c.at], out[c.at - 1]);
    EXPECT_EQ(out.back(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Phases, GateOff,
                         ::testing::Values(GateOffCase{"attack", 1000, true},
                                           GateOffCase{"decay", 6000, true},
                                           GateOffCase{"sustain", 15000, true},
                                           GateOffCase{"release", 20100, false},
                                           GateOffCase{"idle", 25000, false}));

// reset 1.0 during the attack freezes the output at its level, not streaming; a later trigger
// attacks from there, taking time in proportion to the rest of the way.
TEST(Reset, OneFreezesTheLevelAndALaterTriggerAttacksFromIt) {
    AdsrSession session(47999.3f);  // 4799.93 samples per full-scale attack
    const double fullScale = static_cast<double>(0.1f) * static_cast<double>(47999.3f);
    session.noteOn(0);
    session.event(2000, RESET, 1.0f);
    session.event(3000, TRIGGER, 1.0f);  // the gate is still held
    const std::vector<float>& out = session.render(9000, 64);
    const float frozen = out[1999];
    EXPECT_GT(frozen, 0.5f);
    EXPECT_LT(frozen, 1.0f);
    for (int64_t i = 2000; i < 3000; ++i) ASSERT_EQ(out[i], frozen) << i;
    EXPECT_GT(out[3000], frozen);

    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 5u);
    EXPECT_EQ(reports[2], (StreamReport{2000, false}));
    EXPECT_EQ(reports[3], (StreamReport{3000, true}));
    // The rest of the way, 1 - frozen, planned as (1 - level) x 4799.93 samples.
    const double planned = (1.0 - static_cast<double>(frozen)) * fullScale;
    EXPECT_NEAR(static_cast<double>(reports[4].time - 3000 + 1), planned, 1.5);
    EXPECT_EQ(out[static_cast<size_t>(reports[4].time)], 1.0f);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

TEST(Reset, OtherValuesDoNothing) {
    std::vector<float> renders[2];
    for (int withReset = 0; withReset < 2; ++withReset) {
        AdsrSession session(RATE);
        session.noteOn(0);
        if (withReset) {
            session.event(1000, RESET, 0.5f);
            session.event(2000, RESET, 0.999999f);
            session.event(3000, RESET, 2.0f);
        }
        renders[withReset] = session.render(8000, 64);
    }
    EXPECT_EQ(firstDifference(renders[0], renders[1]), -1);
}

// Reset and trigger at one timestamp: the reset acts first, then the attack starts from the
// current level, whatever order the events arrive in.
TEST(Reset, WithATriggerAtTheSameSampleRestartsTheAttack) {
    AdsrSession session(RATE);
    session.noteOn(0);
    session.event(2000, TRIGGER, 1.0f);
    session.event(2000, RESET, 1.0f);
    const std::vector<float>& out = session.render(6000, 64);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[2], (StreamReport{2000, false}));  // idle
    EXPECT_EQ(reports[3], (StreamReport{2000, true}));   // attack
    EXPECT_GT(out[2000], out[1999]);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// A retrigger restarts the attack from the current level; its length scales with the distance
// left to 1.0.
struct RetriggerCase {
    const char* phase;
    int64_t at;
};

void PrintTo(const RetriggerCase& c, std::ostream* out) { *out << c.phase << " at " << c.at; }

class Retrigger : public ::testing::TestWithParam<RetriggerCase> {};

TEST_P(Retrigger, AttacksFromTheCurrentLevel) {
    const RetriggerCase c = GetParam();
    SCOPED_TRACE(c.phase);
    AdsrSession session(RATE);
    session.noteOn(0);
    session.noteOff(15000);
    session.noteOn(c.at);
    const std::vector<float>& out = session.render(c.at + 6000, 64);
    const double level = out[c.at - 1];
    const std::vector<StreamReport> reports = session.reports();
    size_t attack = 0;
    while (attack < reports.size() && reports[attack].time < c.at) ++attack;
    ASSERT_LT(attack + 1, reports.size());
    EXPECT_EQ(reports[attack], (StreamReport{c.at, true}));
    const SegmentPlan plan = referencePlan(level, 1.0, 0.5f, 0.1f, RATE);
    EXPECT_NEAR(out[c.at], level + (plan.asymptote - level) * plan.coefficient, 1e-6);
    EXPECT_NEAR(static_cast<double>(reports[attack + 1].time - c.at + 1), (1.0 - level) * FULL_SCALE, 1.5);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

INSTANTIATE_TEST_SUITE_P(Phases, Retrigger,
                         ::testing::Values(RetriggerCase{"attack", 2000}, RetriggerCase{"decay", 6000},
                                           RetriggerCase{"sustain", 12000}, RetriggerCase{"release", 15500}));

// The road of one event: an idle, sleeping envelope gets trigger and gate at sample 17 of a
// 64-sample block. Samples 0..16 carry the held level (written by the module), the attack
// streams from sample 17 and the host is told at 17; later the sustain lets it sleep, gate-off
// wakes it, the release ends at exactly 0.0 and it sleeps again.
TEST(RoadOfOneEvent, TriggerAtSeventeenOfASleepingInstance) {
    EnvelopeParams params;
    params.decayTime = 0.25f;
    params.releaseTime = 0.25f;
    AdsrSession session(RATE, params);
    BlockRenderer& blocks = session.blocks();
    session.noteOff(0);  // an event installs the envelope; then nothing changes
    session.render(64 * 4, 64);
    ASSERT_TRUE(blocks.runner().asleep());
    const int64_t sleptBefore = blocks.runner().stats().blocksSlept;
    EXPECT_GE(sleptBefore, 2);

    const int64_t start = blocks.position();
    session.noteOn(start + 17);
    const std::vector<float>& out = session.render(64, 64);
    for (int64_t i = start; i < start + 17; ++i) ASSERT_EQ(out[i], 0.0f) << i;  // written, not NaN
    EXPECT_GT(out[start + 17], 0.0f);
    for (int64_t i = start + 18; i < start + 64; ++i) ASSERT_GT(out[i], out[i - 1]) << i;
    bool toldAt17 = false, sleepRequested = false;
    for (const host::TraceEntry& call : blocks.trace()) {
        if (call.blockStart != start) continue;
        toldAt17 |= call.call == host::HostCall::SendPinStreaming && call.timestamp == 17 &&
                    call.pinId == OUTPUT && call.value == 1;
        sleepRequested |= call.call == host::HostCall::RequestSleep;
    }
    EXPECT_TRUE(toldAt17);
    EXPECT_FALSE(sleepRequested);

    // Attack, decay, sustain (asleep), gate-off, release, idle (asleep again).
    session.render(64 * 200, 64);
    EXPECT_GT(blocks.runner().stats().blocksSlept, sleptBefore);
    const int64_t sleepsInSustain = blocks.sleepRequests();
    session.noteOff(blocks.position() + 5);
    session.render(64 * 200, 64);
    EXPECT_GT(blocks.sleepRequests(), sleepsInSustain);
    EXPECT_TRUE(blocks.runner().asleep());
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(session.reports().back().streaming, false);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// Events in one block at several timestamps act on their own samples, whatever the block size.
TEST(EventTiming, EachEventActsOnItsOwnSample) {
    for (int32_t blockSize : {1, 3, 64, 4096}) {
        SCOPED_TRACE(blockSize);
        AdsrSession session(RATE);
        session.noteOn(5);
        session.noteOff(6);    // release one sample into the attack
        session.noteOn(4001);  // and again, late in the release
        session.event(4003, RESET, 1.0f);
        const std::vector<float>& out = session.render(4100, blockSize);
        const std::vector<StreamReport> got = session.reports();
        for (StreamReport r : {StreamReport{5, true}, StreamReport{6, true}, StreamReport{4001, true},
                               StreamReport{4003, false}})
            EXPECT_NE(std::find(got.begin(), got.end(), r), got.end()) << r.time;
        EXPECT_EQ(got, session.expected().reports());
        EXPECT_EQ(out[4099], out[4002]);
        EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
    }
}

}  // namespace
}  // namespace kvx::test
