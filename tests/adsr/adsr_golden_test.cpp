// SPDX-License-Identifier: MIT
// The envelope's shape from first principles: expected values come from the documented formulas
// (closed forms, the time table, the recurrence written out here), never from the module.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/adsr/adsr_session.h"

namespace kvx::test {
namespace {

// The sample of the report at `index` (in call order), or -1 when there are fewer reports.
int64_t reportAt(const std::vector<StreamReport>& reports, size_t index) {
    return index < reports.size() ? reports[index].time : -1;
}

// First integer step count above `samples`: a segment planned for `samples` steps crosses its
// target on this step. Only meaningful when `samples` is not close to an integer.
int64_t crossingStep(double samples) { return static_cast<int64_t>(std::floor(samples)) + 1; }

// Within `margin` of an integer, the crossing step would depend on rounding, not on the plan.
bool nearInteger(double x, double margin = 1e-6) { return std::fabs(x - std::round(x)) < margin; }

class HundredMsAttack : public ::testing::TestWithParam<float> {};

// Attack 0.5 (100 ms) with curve 0.1 from 0.0: curveAmount 1, asymptote 1/(1-e^-1), the level
// after n samples asymptote*(1-e^(-n/samples)); it passes 1.0 after samples = rate/10 samples,
// that sample reads exactly 1.0, and the next one is the decay's first step.
TEST_P(HundredMsAttack, CrossesOneAfterATenthOfTheRateAndWritesExactlyOne) {
    const float rate = GetParam();
    EnvelopeParams params;  // attack 0.5 / 0.1, decay 0.5 / 0.1 towards sustain 0.5
    AdsrSession session(rate, params);
    session.noteOn(0);
    const std::vector<float>& out = session.render(static_cast<int64_t>(rate) / 5, 64);

    // The plan, as documented: float time mapping, then double.
    const double seconds = static_cast<double>(0.1f);  // 10^(0.5*10*0.4-3) in float
    const double samples = seconds * (static_cast<double>(rate) * 1.0);
    ASSERT_NEAR(samples, rate / 10.0, 1e-3);
    ASSERT_FALSE(nearInteger(samples));
    const double curveAmount = static_cast<double>(0.1f) * 10.0;
    const double span = 1.0 / (1.0 - std::exp(-curveAmount));
    const double asymptote = 1.0 + (span - 1.0);
    const double coefficient = 1.0 - std::exp(-(curveAmount / samples));
    const int64_t crossing = crossingStep(samples);

    // The recurrence itself, bit for bit, and the closed form it approximates.
    double level = 0.0;
    for (int64_t n = 1; n < crossing; ++n) {
        level = level + (asymptote - level) * coefficient;
        ASSERT_LE(level, 1.0) << "step " << n;
        ASSERT_EQ(out[n - 1], static_cast<float>(level)) << "step " << n;
        const double closed =
            (1.0 / (1.0 - std::exp(-1.0))) * (1.0 - std::exp(-static_cast<double>(n) / samples));
        ASSERT_NEAR(out[n - 1], closed, 2e-6) << "step " << n;
    }
    EXPECT_GT(level + (asymptote - level) * coefficient, 1.0);
    EXPECT_EQ(out[crossing - 1], 1.0f);

    // The decay (0.5 -> 100 ms per full scale, falling by 0.5) starts on the next sample.
    const double decaySamples = static_cast<double>(0.1f) * (static_cast<double>(rate) * 0.5);
    const double decaySpan = 0.5 / (1.0 - std::exp(-curveAmount));
    const double decayAsymptote = static_cast<double>(0.5f) + (0.5 - decaySpan);
    const double decayCoefficient = 1.0 - std::exp(-(curveAmount / decaySamples));
    EXPECT_EQ(out[crossing], static_cast<float>(1.0 + (decayAsymptote - 1.0) * decayCoefficient));

    // The host hears of each segment on the sample it is set up.
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[1], (StreamReport{0, true}));
    EXPECT_EQ(reports[2], (StreamReport{crossing - 1, true}));
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

INSTANTIATE_TEST_SUITE_P(Rates, HundredMsAttack, ::testing::Values(44100.0f, 48000.0f, 96000.0f, 22050.5f));

// The time table: a full-scale attack with time value t takes 10^(4t - 3) seconds; times above
// 2.0 act as 2.0, negative times are shorter than 1 ms. The attack's end shows as the decay's
// streaming report.
struct TimeRow {
    float time;
    double seconds;
    float rate;
};

// Printed field by field: the default printer would read the struct's padding bytes.
void PrintTo(const TimeRow& row, std::ostream* out) {
    *out << "time " << row.time << ", " << row.seconds << " s at " << row.rate << " Hz";
}

class TimeTable : public ::testing::TestWithParam<TimeRow> {};

TEST_P(TimeTable, FullScaleAttackLastsTheTabledTime) {
    const TimeRow row = GetParam();
    EnvelopeParams params;
    params.attackTime = row.time;
    const double samples = row.seconds * row.rate;
    ASSERT_FALSE(nearInteger(samples, 1e-3));  // the float mapping may differ from row.seconds by 1e-7
    AdsrSession session(row.rate, params);
    session.noteOn(0);
    session.render(static_cast<int64_t>(samples) + 16, 512);
    const std::vector<StreamReport> reports = session.reports();
    EXPECT_EQ(reportAt(reports, 2), crossingStep(samples) - 1) << "time " << row.time;
    EXPECT_EQ(session.blocks().output()[static_cast<size_t>(crossingStep(samples) - 1)], 1.0f);
}

INSTANTIATE_TEST_SUITE_P(Rows, TimeTable,
                         ::testing::Values(TimeRow{0.0f, 1e-3, 47993.7f}, TimeRow{0.25f, 1e-2, 47993.7f},
                                           TimeRow{0.5f, 1e-1, 47993.7f}, TimeRow{0.75f, 1.0, 47993.7f},
                                           TimeRow{1.0f, 10.0, 47993.7f}, TimeRow{-0.25f, 1e-4, 47993.7f},
                                           TimeRow{2.0f, 1e5, 0.015625f}, TimeRow{5.0f, 1e5, 0.015625f},
                                           TimeRow{1e30f, 1e5, 0.015625f}));

TEST(TimeTable, TimesAboveTwoGiveTheSameEnvelopeAsTwo) {
    std::vector<float> renders[3];
    const float times[3] = {2.0f, 5.0f, 3.0e38f};
    for (int i = 0; i < 3; ++i) {
        EnvelopeParams params;
        params.attackTime = params.decayTime = params.releaseTime = times[i];
        AdsrSession session(1.5f, params);  // short enough to finish: 150000 samples per full scale
        session.noteOn(0);
        session.noteOff(250000);
        renders[i] = session.render(700000, 4096);
    }
    EXPECT_EQ(firstDifference(renders[0], renders[1]), -1);
    EXPECT_EQ(firstDifference(renders[0], renders[2]), -1);
    EXPECT_EQ(renders[0].back(), 0.0f);
}

// curve -c mirrors curve c: same duration, g(x) = 1 - f(1 - x) with
// f(x) = (1 - e^(-a x)) / (1 - e^(-a)), a = 10|c|, x = n / samples.
class MirroredCurves : public ::testing::TestWithParam<float> {};

TEST_P(MirroredCurves, NegatingTheCurveKeepsTheDurationAndMirrorsTheShape) {
    const float curve = GetParam();
    const float rate = 47999.3f;  // 4799.93 samples: the crossing is clear of rounding
    const double samples = static_cast<double>(0.1f) * rate;
    const int64_t crossing = crossingStep(samples);
    const double a = static_cast<double>(curve) * 10.0;
    auto f = [a](double x) { return (1.0 - std::exp(-a * x)) / (1.0 - std::exp(-a)); };

    std::vector<float> shapes[2];
    for (int sign = 0; sign < 2; ++sign) {
        EnvelopeParams params;
        params.attackCurve = sign == 0 ? curve : -curve;
        AdsrSession session(rate, params);
        session.noteOn(0);
        shapes[sign] = session.render(crossing + 100, 64);
        EXPECT_EQ(reportAt(session.reports(), 2), crossing - 1) << "curve " << params.attackCurve;
        EXPECT_EQ(shapes[sign][crossing - 1], 1.0f);
        EXPECT_EQ(firstDifference(shapes[sign], session.expected().output()), -1);
    }
    for (int64_t n = 1; n < crossing; n += 7) {
        const double x = static_cast<double>(n) / samples;
        ASSERT_NEAR(shapes[0][n - 1], f(x), 2e-6) << "step " << n;
        ASSERT_NEAR(shapes[1][n - 1], 1.0 - f(1.0 - x), 2e-6) << "step " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Curves, MirroredCurves, ::testing::Values(0.1f, 0.5f, 1.0f, 2.0f));

TEST(CurveZero, IsPracticallyStraight) {
    EnvelopeParams params;
    params.attackCurve = 0.0f;
    AdsrSession session(47999.3f, params);
    session.noteOn(0);
    const std::vector<float>& out = session.render(5000, 64);
    const double samples = static_cast<double>(0.1f) * static_cast<double>(47999.3f);
    for (int64_t n = 1; n < crossingStep(samples); ++n)
        ASSERT_NEAR(out[n - 1], static_cast<double>(n) / samples, 2e-4) << "step " << n;
    EXPECT_EQ(reportAt(session.reports(), 2), crossingStep(samples) - 1);
}

// A target closer than 1e-6: the segment lasts one sample and lands exactly on the target.
class NearTarget : public ::testing::TestWithParam<float> {};

TEST_P(NearTarget, SegmentLastsOneSampleAndEndsExactlyOnTarget) {
    const float sustain = GetParam();
    ASSERT_LT(std::fabs(static_cast<double>(sustain) - 1.0), 1e-6);
    EnvelopeParams params;
    params.sustainLevel = sustain;
    AdsrSession session(48000.0f, params);
    session.noteOn(0);
    session.noteOn(10000);  // retrigger from the sustain: the attack is one sample too
    const std::vector<float>& out = session.render(12000, 64);
    const int64_t crossing = crossingStep(static_cast<double>(0.1f) * 48000.0);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[2], (StreamReport{crossing - 1, true}));  // decay set up
    EXPECT_EQ(reports[3].time, crossing);                       // and over on its first sample
    EXPECT_EQ(out[crossing], sustain);
    if (sustain <= 1.0f) {
        EXPECT_EQ(out[9999], sustain);
        EXPECT_EQ(out[10000], 1.0f);     // attack: one sample
        EXPECT_EQ(out[10001], sustain);  // decay: one sample
        EXPECT_EQ(out.back(), sustain);
    }
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

INSTANTIATE_TEST_SUITE_P(Sustains, NearTarget,
                         ::testing::Values(1.0f, 1.0f - 0x1p-21f, 1.0f - 0x1p-24f, 1.0f + 0x1p-21f));

TEST(NearTarget, ReleaseFromJustAboveZeroIsOneSample) {
    EnvelopeParams params;
    params.sustainLevel = 5e-7f;
    AdsrSession session(48000.0f, params);
    session.noteOn(0);
    session.noteOff(20000);
    const std::vector<float>& out = session.render(20100, 64);
    EXPECT_EQ(out[19999], 5e-7f);
    EXPECT_EQ(out[20000], 0.0f);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[reports.size() - 2], (StreamReport{20000, true}));
    EXPECT_EQ(reports.back(), (StreamReport{20000, false}));
}

// Sustain 1.2: the decay rises and ends on its first sample at 1.2; the sustain ends on the next
// sample (the level is above 1.0) and the release follows at once, without a gate-off.
TEST(SustainOutsideRange, AboveOneGoesStraightToRelease) {
    EnvelopeParams params;
    params.sustainLevel = 1.2f;
    AdsrSession session(48000.0f, params);
    session.noteOn(0);
    const std::vector<float>& out = session.render(48000, 64);
    const int64_t crossing = crossingStep(static_cast<double>(0.1f) * 48000.0);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[2], (StreamReport{crossing - 1, true}));  // decay
    EXPECT_EQ(reports[3], (StreamReport{crossing, false}));     // sustain
    EXPECT_EQ(reports[4], (StreamReport{crossing + 1, true}));  // release
    EXPECT_EQ(out[crossing - 1], 1.0f);
    EXPECT_EQ(out[crossing], 1.2f);
    EXPECT_EQ(out[crossing + 1], 1.2f);
    EXPECT_LT(out[crossing + 2], 1.2f);
    EXPECT_EQ(reports[5].streaming, false);  // idle, at exactly 0.0
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// Sustain -0.5: the decay ends at -0.5 and the sustain holds it; after gate-off the release
// rises from below 0.0 and so ends on its first sample, at 0.0.
TEST(SustainOutsideRange, BelowZeroHoldsAndReleasesInOneSample) {
    EnvelopeParams params;
    params.sustainLevel = -0.5f;
    AdsrSession session(48000.0f, params);
    session.noteOn(0);
    session.noteOff(30000);
    const std::vector<float>& out = session.render(30100, 64);
    EXPECT_EQ(out[29999], -0.5f);
    EXPECT_EQ(out[30000], 0.0f);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[3].streaming, false);  // sustain, on the sample the decay ends
    EXPECT_EQ(out[static_cast<size_t>(reports[3].time)], -0.5f);
    EXPECT_EQ(reports[4], (StreamReport{30000, true}));
    EXPECT_EQ(reports[5], (StreamReport{30000, false}));
    EXPECT_EQ(firstDifference(out, session.expected().output()), -1);
}

// Sample rate 0: every moving segment is planned as one sample (at most floor(2)+3 = 5 steps).
// The same holds for a rate that is NaN, infinite or negative.
class ZeroRate : public ::testing::TestWithParam<float> {};

TEST_P(ZeroRate, EveryMovingSegmentIsPlannedAsOneSample) {
    EnvelopeParams params;
    params.sustainLevel = 0.25f;
    AdsrSession session(GetParam(), params);
    session.noteOn(10);
    session.noteOff(40);
    const std::vector<float>& out = session.render(100, 7);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0f);
    const std::vector<StreamReport> reports = session.reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[1], (StreamReport{10, true}));
    EXPECT_LE(reports[2].time - 10, 4);  // attack over by its fifth step
    EXPECT_LE(reports[3].time - reports[2].time, 5);
    EXPECT_EQ(out[static_cast<size_t>(reports[2].time)], 1.0f);
    EXPECT_EQ(out[static_cast<size_t>(reports[3].time)], 0.25f);
    EXPECT_EQ(out[39], 0.25f);
    EXPECT_EQ(reports[4], (StreamReport{40, true}));
    EXPECT_LE(reports[5].time - 40, 4);
    EXPECT_EQ(out.back(), 0.0f);

    ReferenceEnvelope zero(0.0f);
    zero.setParams(params);
    zero.run(100, {{10, GATE, 1}, {10, TRIGGER, 1}, {40, GATE, 0}});
    EXPECT_EQ(firstDifference(out, zero.output()), -1);
}

INSTANTIATE_TEST_SUITE_P(Rates, ZeroRate,
                         ::testing::Values(0.0f, -0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(),
                                           std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity()));

TEST(FreshInstance, OutputsZeroAndNeverMovesByItself) {
    AdsrSession session(48000.0f);
    session.event(0, RESET, 0.0f);  // any value event installs the envelope routine
    const std::vector<float>& out = session.render(10000, 512);
    for (float v : out) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(session.reports(), (std::vector<StreamReport>{{0, false}}));
}

}  // namespace
}  // namespace kvx::test
