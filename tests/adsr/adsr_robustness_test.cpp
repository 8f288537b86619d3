// SPDX-License-Identifier: MIT
// Robustness to any parameter value: non-finite and extreme inputs act as documented (0.0, a
// curve limited to +-50, a rate of 0.0), segments that rounding would leave running forever end
// by their step limit floor(2 x samples) + 3, and a random sweep of hostile parameter sets keeps
// the output finite, the segments bounded and gate-off reaching exactly 0.0 and idle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/adsr/adsr_session.h"

namespace kvx::test {
namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float DENORMAL = 1e-40f;
constexpr float HUGE_VALUE = 3.0e38f;

float& slot(EnvelopeParams& p, int index) {
    float* slots[7] = {&p.attackTime,  &p.decayTime,  &p.sustainLevel, &p.releaseTime,
                       &p.attackCurve, &p.decayCurve, &p.releaseCurve};
    return *slots[index];
}

const char* const SLOT_NAMES[7] = {"attackTime",  "decayTime",  "sustainLevel", "releaseTime",
                                   "attackCurve", "decayCurve", "releaseCurve"};

// A note with a retrigger in the decay and a gate-off in the sustain, long enough to finish.
std::vector<float> renderNote(const EnvelopeParams& params, float rate = 48000.0f) {
    AdsrSession session(rate, params);
    session.noteOn(0);
    session.noteOn(6000);
    session.noteOff(20000);
    return session.render(40000, 64);
}

// ---- Mended faults: inputs that used to poison the envelope forever ----

struct Substitute {
    float value;
    float actsAs;
};

class NonFiniteParameter : public ::testing::TestWithParam<int> {};

TEST_P(NonFiniteParameter, IsUsedAsZero) {
    const int index = GetParam();
    SCOPED_TRACE(SLOT_NAMES[index]);
    EnvelopeParams zero;
    slot(zero, index) = 0.0f;
    const std::vector<float> expected = renderNote(zero);
    for (float bad : {NaN, INF, -INF}) {
        SCOPED_TRACE(bad);
        EnvelopeParams params;
        slot(params, index) = bad;
        const std::vector<float> out = renderNote(params);
        for (float v : out) ASSERT_TRUE(std::isfinite(v));
        EXPECT_EQ(firstDifference(out, expected), -1);
        EXPECT_EQ(out.back(), 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, NonFiniteParameter, ::testing::Range(0, 7),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(SLOT_NAMES[info.param]);
                         });

TEST(ExtremeCurve, IsLimitedToFifty) {
    for (int index = 4; index < 7; ++index) {
        SCOPED_TRACE(SLOT_NAMES[index]);
        for (float sign : {1.0f, -1.0f}) {
            EnvelopeParams limit;
            slot(limit, index) = 50.0f * sign;
            const std::vector<float> expected = renderNote(limit);
            for (float huge : {50.5f, 100.0f, 1e30f, HUGE_VALUE}) {
                SCOPED_TRACE(huge * sign);
                EnvelopeParams params;
                slot(params, index) = huge * sign;
                EXPECT_EQ(firstDifference(renderNote(params), expected), -1);
            }
        }
    }
}

TEST(ExtremeTime, VeryNegativeTimesActLikeAnInstantSegment) {
    // -3e38 x 10 x 0.4 overflows to -inf in float; 10^-inf = 0 s: the plan floors at one sample.
    for (float time : {-100.0f, -1e30f, -HUGE_VALUE, -DENORMAL}) {
        SCOPED_TRACE(time);
        EnvelopeParams params;
        params.attackTime = time;
        AdsrSession session(48000.0f, params);
        session.noteOn(0);
        const std::vector<float>& out = session.render(1000, 64);
        if (time < -1.0f) {
            EXPECT_EQ(out[0], 1.0f);  // 10^(-4|t|-3) s x 48000 < 1 sample
        }
        for (float v : out) ASSERT_TRUE(std::isfinite(v));
        EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
    }
}

// ---- Segments that never end by themselves ----

// Runs the plain recurrence of the attack/decay/release for `steps` steps: true when it ends
// by its own test (below the threshold or above 1.0).
bool endsOnItsOwn(double level, double target, double time, double curve, float rate, int64_t steps) {
    const SegmentPlan plan = referencePlan(level, target, time, curve, rate);
    for (int64_t n = 0; n < steps; ++n) {
        level = level + (plan.asymptote - level) * plan.coefficient;
        if (level < plan.threshold || level > 1.0) return true;
    }
    return false;
}

struct StuckAttack {
    float curve;
    float time;
    float from;  // level the attack starts at (by a retrigger in the sustain)
};

void PrintTo(const StuckAttack& c, std::ostream* os) {
    *os << "curve " << c.curve << " time " << c.time << " from " << c.from;
}

class StuckAttacks : public ::testing::TestWithParam<StuckAttack> {};

// Curves of 3.5 or more converge onto 1.0 without passing it; -4 or less never move. The attack
// ends on step floor(2 x samples) + 3 with exactly 1.0, and the decay follows at that sample.
TEST_P(StuckAttacks, EndOnTheirStepLimit) {
    const StuckAttack c = GetParam();
    const float rate = 48000.0f;
    const double usedCurve = std::fmax(-50.0, std::fmin(50.0, c.curve));
    const double samples = static_cast<double>(referenceSeconds(c.time)) * (48000.0 * (1.0 - c.from));
    const int64_t limit = static_cast<int64_t>(std::floor(2.0 * samples)) + 3;
    ASSERT_FALSE(endsOnItsOwn(c.from, 1.0, c.time, usedCurve, rate, 100 * limit)) << "not a stuck case";

    EnvelopeParams params;
    params.attackTime = c.time;
    params.attackCurve = c.curve;
    params.sustainLevel = c.from;
    params.decayTime = -1.0f;  // 0.1 us per full scale: one sample
    AdsrSession session(rate, params);
    int64_t start = 0;
    if (c.from != 0.0f) {
        // Reach the sustain at `from` with a plain attack, then retrigger from there.
        params.attackCurve = 1.0f;
        session.setParams(
            [params, c](int64_t t) {
                EnvelopeParams p = params;
                p.attackCurve = t < 500 ? 1.0f : c.curve;
                p.attackTime = t < 500 ? 0.0f : c.time;
                return p;
            },
            501);
        session.noteOn(0);
        start = 500;
        session.event(start, TRIGGER, 1.0f);
    } else {
        session.noteOn(0);
    }
    const std::vector<float>& out = session.render(start + limit + 200, 64);
    if (start > 0) {
        ASSERT_EQ(out[start - 1], c.from);
    }
    const std::vector<StreamReport> reports = session.reports();
    size_t attack = 0;
    while (reports[attack].time < start || !reports[attack].streaming) ++attack;
    ASSERT_LT(attack + 2, reports.size());
    EXPECT_EQ(reports[attack], (StreamReport{start, true}));
    EXPECT_EQ(reports[attack + 1], (StreamReport{start + limit - 1, true}));  // the decay: step `limit`
    EXPECT_EQ(out[start + limit - 1], 1.0f);
    for (int64_t i = start; i < start + limit - 1; ++i) ASSERT_LE(out[i], 1.0f) << i;
    EXPECT_EQ(reports.back().streaming, false);  // and the sustain lets the host sleep
    EXPECT_GT(session.blocks().sleepRequests(), 0);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

INSTANTIATE_TEST_SUITE_P(Curves, StuckAttacks,
                         ::testing::Values(StuckAttack{3.5f, 0.25f, 0.0f}, StuckAttack{3.5f, 0.5f, 0.0f},
                                           StuckAttack{5.0f, 0.0f, 0.0f}, StuckAttack{50.0f, 0.0f, 0.0f},
                                           StuckAttack{100.0f, 0.0f, 0.0f}, StuckAttack{-4.0f, 0.0f, 0.0f},
                                           StuckAttack{-50.0f, 0.0f, 0.0f}, StuckAttack{-1e30f, 0.0f, 0.0f},
                                           StuckAttack{-4.0f, 0.5f, 0.5f}, StuckAttack{3.5f, 0.25f, 0.25f}));

// A decay of a few millionths with curve 3 sticks a hair from its target: a one-sample plan,
// so it ends on step floor(2) + 3 = 5 and the sustain starts there.
TEST(StuckDecay, FewMillionthsWithCurveThreeEndsOnStepFive) {
    EnvelopeParams params;
    params.sustainLevel = 1.0f - 4e-6f;
    params.decayCurve = 3.0f;
    const float rate = 48000.0f;
    ASSERT_FALSE(endsOnItsOwn(1.0, params.sustainLevel, params.decayTime, 3.0, rate, 100000))
        << "not a stuck case";
    AdsrSession session(rate, params);
    session.noteOn(0);
    const std::vector<float>& out = session.render(6000, 64);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 4u);
    const int64_t decaySetUp = reports[2].time;  // on the sample the attack ends; step 1 follows
    EXPECT_EQ(out[decaySetUp], 1.0f);
    EXPECT_EQ(reports[3], (StreamReport{decaySetUp + 5, false}));
    EXPECT_EQ(out[decaySetUp + 5], params.sustainLevel);
    EXPECT_EQ(out.back(), params.sustainLevel);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// A release rising from sustain -0.18 with curve 1.76 and time -0.95 lands a hair above 0.0 on
// its first step and would sit at its asymptote forever; it ends on step 5 at exactly 0.0.
TEST(StuckRelease, HairAboveZeroEndsOnStepFiveAtZero) {
    EnvelopeParams params;
    params.sustainLevel = -0.18f;
    params.releaseCurve = 1.76f;
    params.releaseTime = -0.95f;
    ASSERT_FALSE(
        endsOnItsOwn(params.sustainLevel, 0.0, params.releaseTime, params.releaseCurve, 48000.0f, 100000))
        << "not a stuck case";
    AdsrSession session(48000.0f, params);
    session.noteOn(0);
    session.noteOff(20000);
    const std::vector<float>& out = session.render(20000 + 5000, 64);
    EXPECT_EQ(out[19999], -0.18f);
    for (int64_t i = 20000; i < 20004; ++i) {
        EXPECT_GE(out[i], 0.0f) << i;
        EXPECT_LT(out[i], 1e-6f) << i;
    }
    EXPECT_EQ(out[20004], 0.0f);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[reports.size() - 2], (StreamReport{20000, true}));
    EXPECT_EQ(reports.back(), (StreamReport{20004, false}));
    EXPECT_GT(session.blocks().sleepRequests(), 0);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// ---- Random hostile parameter sets ----

struct RandomCase {
    EnvelopeParams params;
    float rate;
    int64_t gateOff;
    int64_t retrigger;  // -1: none
    int32_t blockSize;
};

std::string describe(const RandomCase& c) {
    std::ostringstream s;
    s.precision(9);
    s << "rate " << c.rate << " A " << c.params.attackTime << "/" << c.params.attackCurve << " D "
      << c.params.decayTime << "/" << c.params.decayCurve << " S " << c.params.sustainLevel << " R "
      << c.params.releaseTime << "/" << c.params.releaseCurve << " retrigger " << c.retrigger << " gate-off "
      << c.gateOff << " block " << c.blockSize;
    return s.str();
}

class Generator {
public:
    explicit Generator(uint64_t seed) : random(seed) {}

    RandomCase next() {
        RandomCase c;
        c.params.attackTime = time();
        c.params.decayTime = time();
        c.params.releaseTime = time();
        c.params.attackCurve = curve();
        c.params.decayCurve = curve();
        c.params.releaseCurve = curve();
        c.params.sustainLevel =
            pick(0.3) ? special({NaN, INF, -INF, HUGE_VALUE, -HUGE_VALUE, 1e30f, -1e30f, DENORMAL, -DENORMAL,
                                 -0.18f, 1.2f, -0.5f, 1.0f - 4e-6f, 1.0f, 0.0f, 5e-7f})
                      : uniform(-2.0, 2.0);
        c.rate = special({0.0f, -0.0f, 1.0f, 7.5f, 1000.0f, 7919.5f, 44100.0f, 48000.0f, 96000.0f, 192000.0f,
                          NaN, INF, -INF, -48000.0f, DENORMAL, HUGE_VALUE});
        c.gateOff = static_cast<int64_t>(uniform(0.0, 40000.0));
        c.retrigger = pick(0.3) ? static_cast<int64_t>(uniform(1.0, 40000.0)) : -1;
        c.blockSize = static_cast<int32_t>(special({1.0f, 7.0f, 64.0f, 512.0f}));
        return c;
    }

private:
    bool pick(double p) { return std::bernoulli_distribution(p)(random); }
    float uniform(double lo, double hi) {
        return static_cast<float>(std::uniform_real_distribution<double>(lo, hi)(random));
    }
    float special(std::initializer_list<float> values) {
        const size_t i = std::uniform_int_distribution<size_t>(0, values.size() - 1)(random);
        return values.begin()[i];
    }
    float time() {
        return pick(0.25) ? special({NaN, INF, -INF, HUGE_VALUE, -HUGE_VALUE, 1e30f, DENORMAL, -DENORMAL,
                                     0.0f, 2.0f})
                          : uniform(-1.5, 0.7);
    }
    float curve() {
        if (pick(0.25))
            return special({NaN, INF, -INF, 1e30f, -1e30f, 3.5f, -4.0f, 1.76f, DENORMAL, 0.0f, 50.0f});
        return pick(0.5) ? uniform(-100.0, 100.0) : uniform(-5.0, 5.0);
    }

    std::mt19937_64 random;
};

// Steps a segment computed: up to its own end, up to the sample before the event that cut it
// short, or to the end of the render.
int64_t stepsRun(const SegmentRun& run, int64_t length) {
    const int64_t last = run.endedAt < 0 ? length - 1 : run.replaced ? run.endedAt - 1 : run.endedAt;
    return last - run.firstStep + 1;
}

TEST(RandomParameters, FiniteBoundedSegmentsAndGateOffReachesIdle) {
    constexpr int CASES = 400;
    constexpr int64_t LENGTH = 120000;
    Generator generator(0x6b7678u);
    int forcedEnds = 0, casesUnchangedByLimit = 0, casesReachingIdle = 0;
    for (int n = 0; n < CASES; ++n) {
        const RandomCase c = generator.next();
        SCOPED_TRACE("case " + std::to_string(n) + ": " + describe(c));
        AdsrSession session(c.rate, c.params, 512);
        session.noteOn(0);
        if (c.retrigger >= 0) session.event(c.retrigger, TRIGGER, 1.0f);
        session.noteOff(c.gateOff);
        const std::vector<float>& out = session.render(LENGTH, c.blockSize);

        for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << "sample " << i;
        const ReferenceEnvelope limited = session.expected(true);
        ASSERT_EQ(firstDifference(out, limited.output()), -1);
        ASSERT_EQ(session.reports(), limited.reports());

        // Every moving segment ends by its step limit; none still running is overdue.
        bool limitFired = false;
        for (const SegmentRun& run : limited.segments()) {
            if (!run.moving) continue;
            ASSERT_LE(static_cast<double>(stepsRun(run, LENGTH)), run.limit)
                << "segment set up at " << run.setUpAt;
            limitFired |= run.forced;
        }
        forcedEnds += limitFired;

        // Where the plain recurrence ends every segment by itself (none runs past its limit),
        // the limit changes nothing.
        const ReferenceEnvelope plain = session.expected(false);
        bool overdue = false;
        for (const SegmentRun& run : plain.segments())
            overdue |= run.moving && static_cast<double>(stepsRun(run, LENGTH)) > run.limit;
        if (!overdue) {
            ++casesUnchangedByLimit;
            EXPECT_EQ(firstDifference(out, plain.output()), -1);
        }

        // After gate-off: once the release is over, exactly 0.0, idle, and the host may sleep.
        if (limited.segments().back().state == -1) {
            ++casesReachingIdle;
            EXPECT_EQ(out.back(), 0.0f);
            EXPECT_FALSE(session.reports().back().streaming);
        } else {
            const SegmentRun& last = limited.segments().back();
            EXPECT_TRUE(last.moving && last.endedAt < 0 &&
                        last.limit > static_cast<double>(LENGTH - last.firstStep))
                << "state " << last.state << " should be a release longer than the render";
        }
    }
    // The sweep must reach all three situations, or it proves little.
    EXPECT_GT(forcedEnds, CASES / 20);
    EXPECT_GT(casesUnchangedByLimit, CASES / 5);
    EXPECT_GT(casesReachingIdle, CASES / 2);
    std::printf("%d cases: %d hit a step limit, %d unchanged by it, %d reached idle after gate-off\n", CASES,
                forcedEnds, casesUnchangedByLimit, casesReachingIdle);
}

}  // namespace
}  // namespace kvx::test
