// SPDX-License-Identifier: MIT
// The oscillator's stretch writer against its per-sample definition (waveSample, outputSample,
// nextPhase one sample at a time): the same bits for every waveform, at the smallest and largest
// steps, from phases at and around the saw's step, and over runs longer than one plain stretch.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "examples/osc/osc_math.h"

namespace {

using osc::Waveform;

template <Waveform W>
void expectSameBits(double phase, double step, int32_t count) {
    std::vector<float> fast(static_cast<size_t>(count));
    const double end = osc::writeAtStep<W>(fast.data(), count, phase, step);
    double t = phase;
    for (int32_t i = 0; i < count; ++i) {
        const float want = osc::outputSample(osc::waveSample(W, t, step));
        ASSERT_EQ(std::bit_cast<uint32_t>(fast[static_cast<size_t>(i)]), std::bit_cast<uint32_t>(want))
            << "sample " << i << " of " << count << ", phase " << phase << ", step " << step;
        t = osc::nextPhase(t, step);
    }
    EXPECT_EQ(std::bit_cast<uint64_t>(end), std::bit_cast<uint64_t>(t)) << "the phase after the run";
}

TEST(OscStretch, EveryWaveformGivesTheBitsOfItsPerSampleDefinition) {
    const double steps[] = {osc::MIN_STEP, 1e-9, 440.0 / 48000.0, 1.0 / 3.0, 0.25, 0.4999999, osc::MAX_STEP};
    for (const double step : steps) {
        // At 0 and just past it, inside one step of the saw's fall on both sides, and mid-cycle.
        const double phases[] = {0.0, step / 2, step, 0.5, 1.0 - 2.0 * step, 1.0 - step, std::nextafter(1.0, 0.0)};
        for (const double phase : phases) {
            if (!(phase >= 0.0 && phase < 1.0)) continue;
            for (const int32_t count : {0, 1, 3, 5000, osc::PLAIN_SAW_RUN * 3 + 7}) {
                expectSameBits<Waveform::Saw>(phase, step, count);
                expectSameBits<Waveform::Square>(phase, step, count);
                expectSameBits<Waveform::Sine>(phase, step, count);
            }
        }
    }
}

TEST(OscStretch, RandomStepsAndPhasesGiveTheSameBitsToo) {
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int n = 0; n < 2000; ++n) {
        const double step = osc::MIN_STEP + unit(random) * unit(random) * (osc::MAX_STEP - osc::MIN_STEP);
        expectSameBits<Waveform::Saw>(unit(random), step, 1 + static_cast<int32_t>(random() % 3000));
    }
}

}  // namespace
