// SPDX-License-Identifier: MIT
// kvx render on a described module other than the envelope (the example "KV VCA": output =
// input x control x level in dB), pins set by symbol with their units, inputs fed from WAV files,
// control events from a score; data on standard output; float WAV files readers take without a
// warning; and what happens without a description.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

constexpr int RATE = 48000;

std::string vcaPath() { return testModulePath("VCA"); }

ToolRun render(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    return runKvx(args);
}

// The VCA's output sample as its description defines it: input x control x 10^(dB / 20).
float vcaSample(float input, float control, double decibels) {
    return static_cast<float>(static_cast<double>(input) * control * std::pow(10.0, decibels / 20.0));
}

std::vector<float> sine(size_t length, double hertz) {
    std::vector<float> samples(length);
    for (size_t n = 0; n < length; ++n)
        samples[n] = static_cast<float>(0.8 * std::sin(2.0 * M_PI * hertz * static_cast<double>(n) / RATE));
    return samples;
}

long long sleptBlocks(const std::string& report) {
    const size_t at = report.find("slept through ");
    return at == std::string::npos ? -1 : std::atoll(report.c_str() + at + 14);
}

TEST(RenderModule, AFileShapedByAConstantControl) {
    ScratchFolder folder;
    const std::vector<float> input = sine(4000, 440.0);
    ASSERT_TRUE(writeWav(folder.path("sine.wav"), input, RATE));
    const ToolRun run =
        render({vcaPath(), "--input", "input=" + folder.path("sine.wav"), "--set", "control=0.5", "--set",
                "level=-6dB", "--out", folder.path("out.wav"), "--csv", folder.path("out.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    const WavData wav = readWav(folder.path("out.wav"));
    ASSERT_TRUE(wav.opened);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(wav.samples.size(), input.size()) << "the render lasts as long as its input file";
    for (size_t n = 0; n < input.size(); ++n)
        ASSERT_NEAR(wav.samples[n], vcaSample(input[n], 0.5f, -6.0), 1e-7) << "sample " << n;
    EXPECT_EQ(readFile(folder.path("out.csv")).substr(0, 21), "sample,time_s,output\n");
    EXPECT_NE(run.out.find("level          -6 (-6dB)"), std::string::npos) << run.out;
}

TEST(RenderModule, WhileNoInputMovesTheModuleSleepsAndTheOutputHolds) {
    ScratchFolder folder;
    // 1000 samples of file, then the input is silent and constant.
    ASSERT_TRUE(writeWav(folder.path("burst.wav"), sine(1000, 1000.0), RATE));
    const ToolRun run = render({vcaPath(), "--input", "input=" + folder.path("burst.wav"), "--length", "0.5s",
                                "--out", folder.path("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GT(sleptBlocks(run.out), 300) << run.out;
    const WavData wav = readWav(folder.path("out.wav"));
    ASSERT_EQ(wav.samples.size(), static_cast<size_t>(RATE / 2));
    for (size_t n = 1000; n < wav.samples.size(); ++n) ASSERT_EQ(wav.samples[n], 0.0f) << n;

    const ToolRun constant = render({vcaPath(), "--set", "input=0.25", "--set", "control=0.5", "--length",
                                     "1s", "--out", folder.path("constant.wav")});
    ASSERT_EQ(constant.status, 0) << constant.err;
    EXPECT_GT(sleptBlocks(constant.out), 700) << constant.out;
    for (float sample : readWav(folder.path("constant.wav")).samples) ASSERT_EQ(sample, 0.125f);
}

TEST(RenderModule, ScoreEventsSetControlInputsAtTheirSample) {
    ScratchFolder folder;
    ASSERT_TRUE(writeWav(folder.path("ones.wav"), std::vector<float>(400, 1.0f), RATE));
    // The input file is found beside the score, whatever the current folder.
    writeFile(folder.path("score.json"), R"({"inputs": {"input": "ones.wav"},
        "parameters": {"level": "-6dB"},
        "events": [{"at": "100smp", "pin": "level", "value": 0},
                   {"at": "250smp", "pin": "level", "value": "-20dB"}]})");
    const ToolRun run =
        render({vcaPath(), "--score", folder.path("score.json"), "--out", folder.path("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<float> out = readWav(folder.path("out.wav")).samples;
    ASSERT_EQ(out.size(), 400u);
    EXPECT_EQ(out[99], vcaSample(1.0f, 1.0f, -6.0));
    EXPECT_EQ(out[100], 1.0f);
    EXPECT_EQ(out[249], 1.0f);
    EXPECT_EQ(out[250], vcaSample(1.0f, 1.0f, -20.0));
}

TEST(RenderModule, TheEnvelopesPinsBySymbolAreItsFlags) {
    ScratchFolder folder;
    const std::vector<std::string> common{"--note", "0:0.3", "--length", "0.6s"};
    auto samples = [&](std::vector<std::string> args, const std::string& name) {
        args.insert(args.end(), common.begin(), common.end());
        args.insert(args.end(), {"--out", folder.path(name)});
        const ToolRun run = render(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return readWav(folder.path(name)).samples;
    };
    const std::vector<float> flags = samples({"--attack", "20ms", "--release-curve", "-0.2"}, "flags.wav");
    EXPECT_EQ(samples({"--set", "attack=20ms", "--set", "release_curve=-0.2"}, "set.wav"), flags);
    EXPECT_EQ(samples({"--set", "attack=0.02s", "--set", "release-curve=-0.2"}, "hyphen.wav"), flags);
    EXPECT_NE(samples({"--set", "attack=40ms", "--set", "release-curve=-0.2"}, "other.wav"), flags);
}

TEST(RenderModule, StandardOutputTakesTheDataAndTheReportMovesToStandardError) {
    ScratchFolder folder;
    const ToolRun csv = render({"--csv", "-", "--length", "0.1s"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("sample,time_s,level,gate,segment\n0,0.000000000,", 0), 0u)
        << csv.out.substr(0, 80);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 4801);
    EXPECT_NE(csv.err.find("wrote          standard output (sample,time_s,level,gate,segment)"),
              std::string::npos)
        << csv.err;
    EXPECT_FALSE(std::filesystem::exists("-")) << "no file named '-'";

    const ToolRun wav = render({"--out", "-", "--length", "0.1s"});
    ASSERT_EQ(wav.status, 0) << wav.err;
    writeFile(folder.path("piped.wav"), wav.out);
    ASSERT_EQ(render({"--out", folder.path("file.wav"), "--length", "0.1s"}).status, 0);
    EXPECT_EQ(wav.out, readFile(folder.path("file.wav")));
    EXPECT_EQ(readWav(folder.path("piped.wav")).samples.size(), 4800u);

    const ToolRun both = render({"--out", "-", "--csv", "-"});
    EXPECT_NE(both.status, 0);
    EXPECT_NE(both.err.find("'-' is named for two outputs"), std::string::npos) << both.err;
}

TEST(RenderModule, FloatWavFilesReadWithoutWarnings) {
    if (std::system("command -v soxi >/dev/null 2>&1") != 0) GTEST_SKIP() << "soxi (sox) is not installed";
    ScratchFolder folder;
    ASSERT_EQ(render({"--out", folder.path("a.wav"), "--length", "0.1s"}).status, 0);
    const ToolRun soxi = runProgram({"soxi", folder.path("a.wav")});
    EXPECT_EQ(soxi.status, 0);
    EXPECT_EQ(soxi.err, "") << "soxi warned";
    EXPECT_NE(soxi.out.find("32-bit Floating Point PCM"), std::string::npos) << soxi.out;
    EXPECT_NE(soxi.out.find("4800 samples"), std::string::npos) << soxi.out;
}

TEST(RenderModule, WithoutADescriptionOnlyTheEnvelopeRenders) {
    ScratchFolder folder;
    std::filesystem::copy_file(vcaPath(), folder.path("VCA.kvx"));
    const ToolRun named = render({folder.path("VCA.kvx"), "--id", "KV VCA", "--out", folder.path("o.wav")});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(std::count(named.err.begin(), named.err.end(), '\n'), 1) << named.err;
    EXPECT_NE(named.err.find("has no description (VCA.kvx.json beside it, or --describe FILE)"),
              std::string::npos)
        << named.err;
    const ToolRun unnamed = render({folder.path("VCA.kvx"), "--out", folder.path("o.wav")});
    EXPECT_EQ(unnamed.status, 1);
    EXPECT_NE(unnamed.err.find("cannot create module \"KV ADSR4\""), std::string::npos) << unnamed.err;
    EXPECT_NE(unnamed.err.find("without a description (VCA.kvx.json)"), std::string::npos) << unnamed.err;

    // The envelope alone renders from the built-in description, to the same bits.
    std::filesystem::copy_file(adsrLibraryPath(), folder.path("ADSR.kvx"));
    const ToolRun alone = render({folder.path("ADSR.kvx"), "--out", folder.path("alone.wav")});
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_NE(alone.out.find("built-in description"), std::string::npos) << alone.out;
    ASSERT_EQ(render({"--out", folder.path("described.wav")}).status, 0);
    EXPECT_EQ(readFile(folder.path("alone.wav")), readFile(folder.path("described.wav")));

    // --describe gives the description from elsewhere.
    const ToolRun described = render({folder.path("VCA.kvx"), "--describe", vcaPath() + ".json", "--set",
                                      "input=0.5", "--out", folder.path("v.wav"), "--length", "10smp"});
    ASSERT_EQ(described.status, 0) << described.err;
    EXPECT_EQ(readWav(folder.path("v.wav")).samples, std::vector<float>(10, 0.5f));
}

TEST(RenderModule, MistakesGiveOneLine) {
    ScratchFolder folder;
    std::filesystem::copy_file(vcaPath(), folder.path("VCA.kvx"));
    writeFile(folder.path("VCA.kvx.json"), R"({"format": 1, "modules": [{"id": "KV VCA", "subtype": 0,
        "symbol": "vca", "name": "VCA", "pins": [{"id": 0, "symbol": "in", "name": "In",
        "datatype": "audio", "direction": "sideways", "role": "signal"}]}]})");
    ASSERT_TRUE(writeWav(folder.path("at44k.wav"), std::vector<float>(10, 0.5f), 44100));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {
             Case{{folder.path("VCA.kvx")},
                  "VCA.kvx.json: $.modules[0].pins[0].direction: expected one of \"in\", \"out\", got "
                  "\"sideways\""},
             Case{{vcaPath(), "--set", "gain=1"},
                  "--set gain=1: \"KV VCA\" has no input \"gain\" (its inputs: input, control, level, mute, fade)"},
             Case{{vcaPath(), "--set", "level=10ms"},
                  "--set level=10ms: expected a number or a level such as -6dB"},
             Case{{vcaPath(), "--set", "level"}, "--set level: expected NAME=VALUE"},
             Case{{vcaPath(), "--input", "level=x.wav"}, "\"level\" is a control input, not an audio input"},
             Case{{vcaPath(), "--input", "input=" + folder.path("none.wav")}, "cannot read audio file"},
             Case{{vcaPath(), "--input", "input=" + folder.path("at44k.wav"), "--rate", "48000"},
                  "at44k.wav' is at 44100 Hz, the render at 48000 Hz"},
             Case{{vcaPath(), "--note", "0:1"}, "--note: \"KV VCA\" has no gate input"},
             Case{{vcaPath(), "--set", "input=1", "--input", "input=x.wav"}, "\"input\" is set twice"},
         }) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--out", folder.path("o.wav")});
        const ToolRun run = render(args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("o.wav")));
}

// A --set value past the described range is clamped to the bound, as the LV2 bridge clamps what a
// host sends: the output is the output at the bound, and one warning line says so. A value at
// the bound is sent as it is, without a word.
TEST(RenderModule, SettingsPastTheRangeAreClampedWithAWarning) {
    struct Case {
        std::string library;
        std::string setting;
        std::string atTheBound;  // what the output must equal
        const char* warning;     // "" for none
    };
    const std::vector<Case> cases{
        {vcaPath(), "level=20dB", "level=12dB",
         "--set level=20dB: 20 dB is above the described maximum; 12 dB is sent, as the LV2 bridge would"},
        {vcaPath(), "level=12.001dB", "level=12dB", "12.001 dB is above the described maximum"},
        {vcaPath(), "level=12dB", "level=12dB", ""},
        {vcaPath(), "level=-61dB", "level=-60dB", "-61 dB is below the described minimum; -60 dB is sent"},
        {vcaPath(), "control=1.5", "control=1", "1.5 is above the described maximum; 1 is sent"},
        {vcaPath(), "control=0", "control=0", ""},
        // A plain number is the pin value: 1.5 is 1000 s through the envelope's mapping.
        {adsrLibraryPath(), "attack=1.5", "attack=10s",
         "1000 s is above the described maximum; 10 s is sent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        const std::vector<std::string> common{"--set", "input=0.5", "--length", "2000smp", "--csv", "-"};
        std::vector<std::string> args{c.library, "--set", c.setting};
        args.insert(args.end(), common.begin(), common.end());
        std::vector<std::string> bound{c.library, "--set", c.atTheBound};
        bound.insert(bound.end(), common.begin(), common.end());
        if (c.library != vcaPath()) {  // the envelope has no input "input": play a note instead
            args.erase(args.begin() + 3, args.begin() + 5);
            bound.erase(bound.begin() + 3, bound.begin() + 5);
        }
        const ToolRun run = render(args);
        const ToolRun expected = render(bound);
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(expected.status, 0) << expected.err;
        EXPECT_EQ(run.out, expected.out);
        const size_t warned = run.err.find("kvx render: warning: ");
        if (std::string(c.warning).empty()) {
            EXPECT_EQ(warned, std::string::npos) << run.err;
        } else {
            EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("warning", warned + 20), std::string::npos) << "one warning: " << run.err;
        }
    }
}

}  // namespace
}  // namespace kvx::test
