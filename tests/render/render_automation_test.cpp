// SPDX-License-Identifier: MIT
// Automation in a score: ramps are real per-sample inputs, the module reads them only when a
// segment is set up, and the host tells the pins when a ramp starts and stops.
#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

// 0.8 s at 48 kHz: attack 100 ms (4800 samples), decay, sustain 0.3 until the gate falls at
// 0.6 s, release.
const std::string BASE_PARAMETERS =
    R"("attack": "100ms", "decay": "200ms", "sustain": 0.3, "release": "100ms",
       "attack-curve": 0.1, "decay-curve": 0.2, "release-curve": 0.2)";

std::string score(const std::string& parameters, const std::string& automation = "") {
    std::string text =
        "{\n  \"length\": \"0.8s\",\n  \"notes\": [{\"on\": 0, \"off\": \"0.6s\"}],\n  \"parameters\": {" +
        parameters + "}";
    if (!automation.empty()) text += ",\n  \"automation\": {" + automation + "}";
    return text + "\n}\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

struct Render {
    std::vector<float> samples;
    long long slept = -1;  // blocks the module slept through, from the summary
};

Render render(const std::string& scoreText) {
    ScratchFolder folder;
    writeFile(folder.path("score.json"), scoreText);
    const ToolRun run =
        runKvx({"render", "--score", folder.path("score.json"), "--out", folder.path("r.wav")});
    EXPECT_EQ(run.status, 0) << run.err << "\n" << scoreText;
    Render result;
    result.samples = readWav(folder.path("r.wav")).samples;
    const size_t at = run.out.find("slept through ");
    if (at != std::string::npos) result.slept = std::stoll(run.out.substr(at + 14));
    return result;
}

size_t firstAtFullScale(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] == 1.0f) return i;
    return samples.size();
}

TEST(RenderAutomation, ARampDuringTheAttackSetsUpTheDecayButLeavesTheAttack) {
    const Render base = render(score(BASE_PARAMETERS));
    // The decay time falls from 200 ms to 20 ms while the attack runs (20..60 ms).
    const Render ramped = render(score(BASE_PARAMETERS, R"("decay": [["20ms", "200ms"], ["60ms", "20ms"]])"));
    // The same as if the decay had been 20 ms all along: the decay reads its time when it starts.
    const Render shortDecay =
        render(score(replaced(BASE_PARAMETERS, R"("decay": "200ms")", R"("decay": "20ms")")));
    ASSERT_EQ(base.samples.size(), 38400u);
    ASSERT_EQ(ramped.samples.size(), base.samples.size());

    const size_t peak = firstAtFullScale(base.samples);
    ASSERT_LT(peak, 5000u);
    EXPECT_TRUE(std::equal(base.samples.begin(), base.samples.begin() + static_cast<long>(peak) + 1,
                           ramped.samples.begin()))
        << "the running attack is not changed by the ramp";
    EXPECT_EQ(ramped.samples, shortDecay.samples) << "the decay is set up from the ramp's final value";
    EXPECT_NE(ramped.samples, base.samples);
}

TEST(RenderAutomation, ARampOfTheRunningSegmentsOwnTimeChangesNothing) {
    const Render base = render(score(BASE_PARAMETERS));
    // The attack time rises to 1 s while the attack runs: its segment was set up at 0.
    const Render ramped = render(score(BASE_PARAMETERS, R"("attack": [["20ms", "100ms"], ["60ms", "1s"]])"));
    EXPECT_EQ(ramped.samples, base.samples);
}

TEST(RenderAutomation, TheModuleIsAwakeExactlyWhileAnInputStreams) {
    const Render base = render(score(BASE_PARAMETERS));
    // The release time ramps during the sustain, from 0.3 s to 0.45 s (samples 14400..21600).
    const Render ramped =
        render(score(BASE_PARAMETERS, R"("release": [["0.3s", "100ms"], ["0.45s", "300ms"]])"));
    const Render longRelease =
        render(score(replaced(BASE_PARAMETERS, R"("release": "100ms")", R"("release": "300ms")")));
    ASSERT_GE(longRelease.slept, 0);
    ASSERT_GE(ramped.slept, 0);
    // Blocks of 64 touching the ramp: 14400 / 64 = 225 up to (21600 - 1) / 64 = 337. Without the
    // ramp the module sleeps through all of them; with it the stream begin wakes the module, it
    // stays awake while the input streams and sleeps again right after the stream end. (Compared
    // with the constant 300 ms release, so that both releases last equally long.)
    EXPECT_EQ(longRelease.slept - ramped.slept, 337 - 225 + 1);
    EXPECT_EQ(ramped.samples, longRelease.samples) << "the release reads the ramp's final value";
    EXPECT_TRUE(std::equal(base.samples.begin(), base.samples.begin() + 28800, ramped.samples.begin()))
        << "nothing changes before the release";
}

}  // namespace
}  // namespace kvx::test
