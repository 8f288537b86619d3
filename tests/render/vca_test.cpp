// SPDX-License-Identifier: MIT
// The example VCA's mute and fade through the built tool, as a person runs them: a mute silences
// from its event's sample and lets the module sleep while the input moves; a gain that holds at 0
// does the same, whatever the input carries (inf and NaN included); the fade applies at every
// sample and equals the level at one setting; every block schedule gives the same bits; kvx
// validate passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

constexpr int RATE = 48000;

struct Rendered {
    ToolRun run;
    std::vector<float> samples;
};

// kvx render of VCA.kvx with `args`, read back.
Rendered renderVca(const ScratchFolder& folder, std::vector<std::string> args) {
    static int count = 0;
    const std::string out = folder.path("r" + std::to_string(++count) + ".wav");
    args.insert(args.begin(), {"render", testModulePath("VCA")});
    args.insert(args.end(), {"--out", out});
    Rendered rendered{runKvx(args), {}};
    EXPECT_EQ(rendered.run.status, 0) << rendered.run.err;
    rendered.samples = readWav(out).samples;
    return rendered;
}

long long sleptBlocks(const std::string& report) {
    const size_t at = report.find("slept through ");
    return at == std::string::npos ? -1 : std::atoll(report.c_str() + at + 14);
}

std::vector<float> sine(size_t length) {
    std::vector<float> samples(length);
    for (size_t n = 0; n < length; ++n)
        samples[n] = static_cast<float>(0.8 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(n) / RATE));
    return samples;
}

uint32_t bits(float value) {
    uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

// A sine through the VCA at control 0.5, mute events at `events`; the same render without them is
// the reference.
std::string muteScore(const ScratchFolder& folder, const std::string& name, const std::string& events) {
    writeFile(folder.path(name), R"({"inputs": {"input": "sine.wav"}, "parameters": {"control": 0.5},
        "events": [)" + events + "]}");
    return folder.path(name);
}

TEST(Vca, AMuteSilencesFromItsEventsSampleAndTheModuleSleepsMeanwhile) {
    ScratchFolder folder;
    ASSERT_TRUE(writeWav(folder.path("sine.wav"), sine(4800), RATE));
    const Rendered reference = renderVca(folder, {"--score", muteScore(folder, "plain.json", "")});
    ASSERT_EQ(reference.samples.size(), 4800u);
    EXPECT_EQ(sleptBlocks(reference.run.out), 0) << "the input moves throughout";

    const std::string score = muteScore(folder, "mute.json",
                                        R"({"at": "1000smp", "pin": "mute", "value": "on"},
                                           {"at": "3001smp", "pin": "mute", "value": "off"})");
    const Rendered muted = renderVca(folder, {"--score", score});
    ASSERT_EQ(muted.samples.size(), 4800u);
    for (size_t n = 0; n < 4800; ++n) {
        const bool silent = n >= 1000 && n < 3001;
        ASSERT_EQ(bits(muted.samples[n]), silent ? 0u : bits(reference.samples[n])) << "sample " << n;
    }
    // Muted over samples 1000..3000: the blocks from 1024 to 2944 need no call.
    EXPECT_GE(sleptBlocks(muted.run.out), 29) << muted.run.out;
    for (const std::vector<std::string>& blocks : std::vector<std::vector<std::string>>{
             {"1"}, {"7"}, {"4096"}, {"random"}, {"random", "--seed", "5"}}) {
        std::vector<std::string> args{"--score", score, "--block"};
        args.insert(args.end(), blocks.begin(), blocks.end());
        const Rendered again = renderVca(folder, args);
        EXPECT_EQ(std::memcmp(again.samples.data(), muted.samples.data(), 4800 * sizeof(float)), 0)
            << "--block " << blocks[0];
    }

    // Two values at one sample: the later one stands, in either order.
    struct Row {
        const char* events;
        bool mutedAfter;
    };
    for (const Row& row : {Row{R"({"at": "2000smp", "pin": "mute", "value": "on"},
                                  {"at": "2000smp", "pin": "mute", "value": "off"})",
                               false},
                           Row{R"({"at": "2000smp", "pin": "mute", "value": "off"},
                                  {"at": "2000smp", "pin": "mute", "value": "on"})",
                               true}}) {
        SCOPED_TRACE(row.events);
        const Rendered both = renderVca(folder, {"--score", muteScore(folder, "both.json", row.events)});
        ASSERT_EQ(both.samples.size(), 4800u);
        for (size_t n = 0; n < 4800; ++n)
            ASSERT_EQ(bits(both.samples[n]), row.mutedAfter && n >= 2000 ? 0u : bits(reference.samples[n]))
                << "sample " << n;
    }
}

TEST(Vca, AGainHeldAtZeroGivesZeroWhateverTheInputCarriesAndTheModuleSleeps) {
    ScratchFolder folder;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Every kind of input sample, over and over: the input moves throughout.
    const std::vector<float> kinds{inf, -inf, nan, FLT_MAX, -FLT_MAX, 1e-45f, 0.5f, -1.0f};
    std::vector<float> hostile;
    for (int i = 0; i < 1200; ++i) hostile.push_back(kinds[static_cast<size_t>(i) % kinds.size()]);
    ASSERT_TRUE(writeWav(folder.path("hostile.wav"), hostile, RATE));

    // At control 1 the limits hold (+-1000, NaN and what is too small for a float as 0) ...
    const Rendered open = renderVca(folder, {"--input", "input=" + folder.path("hostile.wav")});
    const std::vector<float> limited{1000.0f, -1000.0f, 0.0f, 1000.0f, -1000.0f, 0.0f, 0.5f, -1.0f};
    ASSERT_EQ(open.samples.size(), hostile.size());
    for (size_t n = 0; n < hostile.size(); ++n)
        ASSERT_EQ(bits(open.samples[n]), bits(limited[n % kinds.size()])) << "sample " << n;
    EXPECT_EQ(sleptBlocks(open.run.out), 0);

    // ... and a gain of 0 gives +0 for every one of them, from sample 0, asleep after one block.
    for (const std::vector<std::string>& setting :
         std::vector<std::vector<std::string>>{{"control=0"}, {"control=-0"}, {"mute=on"}}) {
        SCOPED_TRACE(setting[0]);
        const Rendered silent =
            renderVca(folder, {"--input", "input=" + folder.path("hostile.wav"), "--set", setting[0]});
        ASSERT_EQ(silent.samples.size(), hostile.size());
        for (size_t n = 0; n < hostile.size(); ++n) ASSERT_EQ(bits(silent.samples[n]), 0u) << "sample " << n;
        EXPECT_EQ(sleptBlocks(silent.run.out), 1200 / 64) << silent.run.out;
    }

    // A control that falls to 0 at sample 1000 and holds there: the output is 0 from that sample
    // on, the module asleep from the block after it, though the input still moves.
    writeFile(folder.path("fall.json"), R"({"inputs": {"input": "sine.wav"},
        "automation": {"control": [["500smp", 1], ["1000smp", 0]]}})");
    ASSERT_TRUE(writeWav(folder.path("sine.wav"), sine(4800), RATE));
    const Rendered fall = renderVca(folder, {"--score", folder.path("fall.json")});
    ASSERT_EQ(fall.samples.size(), 4800u);
    EXPECT_NE(fall.samples[999], 0.0f);
    for (size_t n = 1000; n < 4800; ++n) ASSERT_EQ(bits(fall.samples[n]), 0u) << "sample " << n;
    EXPECT_GE(sleptBlocks(fall.run.out), 4800 / 64 - 1000 / 64 - 2) << fall.run.out;
}

TEST(Vca, TheFadeActsAtEverySampleAndEqualsTheLevelAtOneSetting) {
    ScratchFolder folder;
    // 0 dB at sample 0 down to -60 dB at 4800, a straight ramp in dB: the output falls by
    // 10^(-60 n / 4800 / 20).
    writeFile(folder.path("fade.json"), R"({"length": "6000smp", "parameters": {"input": 0.5},
        "automation": {"fade": [["0smp", "0dB"], ["4800smp", "-60dB"]]}})");
    const Rendered faded = renderVca(folder, {"--score", folder.path("fade.json")});
    ASSERT_EQ(faded.samples.size(), 6000u);
    for (size_t n = 0; n < 6000; ++n) {
        const double db = -60.0 * static_cast<double>(std::min<size_t>(n, 4800)) / 4800.0;
        const double want = 0.5 * std::pow(10.0, db / 20.0);
        ASSERT_NEAR(faded.samples[n], want, want * 1e-5) << "sample " << n;
    }
    EXPECT_GE(sleptBlocks(faded.run.out), 15) << "constant after the ramp: " << faded.run.out;

    // The fade and the level multiply, so -6 dB on either gives the same bits.
    ASSERT_TRUE(writeWav(folder.path("sine.wav"), sine(2000), RATE));
    const std::vector<std::string> common{"--input", "input=" + folder.path("sine.wav"), "--set",
                                          "control=0.5"};
    std::vector<std::string> onLevel = common, onFade = common;
    onLevel.insert(onLevel.end(), {"--set", "level=-6dB"});
    onFade.insert(onFade.end(), {"--set", "fade=-6dB"});
    const Rendered level = renderVca(folder, onLevel);
    const Rendered fade = renderVca(folder, onFade);
    ASSERT_EQ(level.samples.size(), 2000u);
    EXPECT_EQ(fade.samples, level.samples);
    EXPECT_NE(level.samples[200], 0.5f * sine(2000)[200]) << "-6 dB changes the samples";
}

TEST(Vca, PassesTheValidator) {
    const ToolRun validate = runKvx({"validate", testModulePath("VCA")});
    EXPECT_EQ(validate.status, 0) << validate.out << validate.err;
    // Sanitizer builds skip the lock count, so only failures are ruled out here.
    EXPECT_NE(validate.out.find(" 0 failed, "), std::string::npos) << validate.out;
    EXPECT_NE(validate.out.find(": VALID"), std::string::npos) << validate.out;
}

}  // namespace
}  // namespace kvx::test
