// SPDX-License-Identifier: MIT
// The envelope's bundle played by a lilv host as LV2 hosts play it: MIDI notes at chosen frames
// in blocks of 1, 64, 4096 and random sizes at 44.1, 48 and 96 kHz give the very samples
// `kvx render` gives for the same notes and pin values; the amp flavour multiplies exactly; a
// control changed between runs reaches the module at the run's first frame; overlapping notes
// and "all notes off" do what the bridge promises; broken bundles fail in instantiate with a
// message, and the host carries on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/lv2/lilv_host.h"
#include "tests/support/sample_difference.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

std::string bundlePath() { return buildDir() + "/ADSR.lv2"; }
std::string uri(const std::string& flavour) { return ADSR_URI_BASE + flavour; }

const Lv2World& sharedWorld() {
    static const Lv2World world({bundlePath()});
    return world;
}

// `kvx render` of the envelope: its one output, float samples.
std::vector<float> render(std::vector<std::string> args, int rate, int64_t length) {
    ScratchFolder folder;
    args.insert(args.begin(), {"render", adsrLibraryPath()});
    const std::vector<std::string> tail{
        "--rate", std::to_string(rate),     "--length", std::to_string(length) + "smp", "--format", "float",
        "--out",  folder.path("render.wav")};
    args.insert(args.end(), tail.begin(), tail.end());
    const ToolRun run = runKvx(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return readWav(folder.path("render.wav")).samples;
}

MidiAt noteOn(int64_t frame, uint8_t key = 60) { return MidiAt{frame, 0x90, key, 100}; }
MidiAt noteOff(int64_t frame, uint8_t key = 60) { return MidiAt{frame, 0x80, key, 0}; }

// Times whose pin values the documented time mapping gives exactly (pin = 0.25 log10(s) + 0.75):
// 10 ms is 0.25, 100 ms is 0.5.
void setEnvelope(LilvPluginHost& host) {
    host.setControl("attack", 0.01f);
    host.setControl("decay", 0.1f);
    host.setControl("sustain", 0.5f);
    host.setControl("release", 0.1f);
}
const std::vector<std::string> ENVELOPE_PINS{"--attack",  "0.25", "--decay",   "0.5",
                                             "--sustain", "0.5",  "--release", "0.5"};

class MidiAgainstRender : public ::testing::TestWithParam<int> {};

TEST_P(MidiAgainstRender, EveryBlockScheduleGivesTheRendersSamples) {
    const int rate = GetParam();
    const int64_t length = 60000;
    // A note, a retrigger during its release, and one held to the end; frames off any block grid.
    const std::vector<MidiAt> midi{noteOn(1001), noteOff(17777), noteOn(19001), noteOff(40000),
                                   noteOn(52345)};
    std::vector<std::string> args = ENVELOPE_PINS;
    for (const char* note : {"1001smp:17777smp", "19001smp:40000smp", "52345smp:"})
        args.insert(args.end(), {"--note", note});
    const std::vector<float> expected = render(args, rate, length);
    ASSERT_EQ(expected.size(), static_cast<size_t>(length));

    const std::vector<std::pair<std::string, std::function<int32_t(int64_t)>>> schedules{
        {"1", fixedBlocks(1)},
        {"64", fixedBlocks(64)},
        {"4096", fixedBlocks(4096)},
        {"random", randomBlocks(rate)}};
    for (const auto& [name, schedule] : schedules)
        for (int32_t offered : {0, 4096}) {
            SCOPED_TRACE("blocks " + name + ", maxBlockLength " + (offered ? "4096" : "not offered"));
            LilvPluginHost host(sharedWorld(), uri("midi"),
                                {.sampleRate = double(rate), .maxBlock = offered});
            ASSERT_NE(host.instance(), nullptr) << host.messages();
            setEnvelope(host);
            const auto outputs = host.run(length, schedule, midi);
            EXPECT_EQ(firstDifference(outputs.at("output"), expected), "");
        }
}

INSTANTIATE_TEST_SUITE_P(Rates, MidiAgainstRender, ::testing::Values(44100, 48000, 96000));

TEST(Lv2Bridge, ThePortsFloatMappedOnceIsThePinValue) {
    // The port holds a float number of seconds; the pin value is the time mapping of that float
    // (0.25 log10(s) + 0.75), rounded once. For 15 ms that differs in the last bit from the
    // mapping of the double 0.015 that `kvx render --attack 15ms` uses, and the outputs differ.
    const float attack = 0.015f, decay = 0.4f, release = 0.8f;
    auto pin = [](float seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g",
                      static_cast<float>(0.25 * std::log10(double(seconds)) + 0.75));
        return std::string(text);
    };
    const std::vector<std::string> common{"--sustain", "0.3", "--note", "100smp:30000smp"};
    std::vector<std::string> byPin{"--attack", pin(attack), "--decay", pin(decay), "--release", pin(release)};
    std::vector<std::string> byDuration{"--attack", "15ms", "--decay", "0.4s", "--release", "0.8s"};
    byPin.insert(byPin.end(), common.begin(), common.end());
    byDuration.insert(byDuration.end(), common.begin(), common.end());
    const std::vector<float> expected = render(byPin, 48000, 80000);
    const std::vector<float> fromDurations = render(byDuration, 48000, 80000);

    LilvPluginHost host(sharedWorld(), uri("midi"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    host.setControl("attack", attack);
    host.setControl("decay", decay);
    host.setControl("sustain", 0.3f);
    host.setControl("release", release);
    const auto outputs = host.run(80000, fixedBlocks(256), {noteOn(100), noteOff(30000)});
    EXPECT_EQ(firstDifference(outputs.at("output"), expected), "");
    EXPECT_NE(firstDifference(outputs.at("output"), fromDurations), "");
}

TEST(Lv2Bridge, AmpMultipliesBothChannelsByTheEnvelopeExactly) {
    const int64_t length = 30000;
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> left(length), right(length);
    for (int64_t i = 0; i < length; ++i) {
        left[i] = noise(generator);
        right[i] = noise(generator);
    }
    const std::vector<MidiAt> midi{noteOn(500), noteOff(12000), noteOn(20000)};
    LilvPluginHost amp(sharedWorld(), uri("amp"), {});
    LilvPluginHost plain(sharedWorld(), uri("midi"), {});
    ASSERT_NE(amp.instance(), nullptr) << amp.messages();
    ASSERT_NE(plain.instance(), nullptr) << plain.messages();
    setEnvelope(amp);
    setEnvelope(plain);
    const auto out = amp.run(length, randomBlocks(3, 700), midi, {{"in_l", left}, {"in_r", right}});
    const auto envelope = plain.run(length, fixedBlocks(64), midi).at("output");
    EXPECT_EQ(firstDifference(out.at("output"), envelope), "");
    std::vector<float> expectedLeft(length), expectedRight(length);
    for (int64_t i = 0; i < length; ++i) {
        expectedLeft[i] = left[i] * envelope[i];
        expectedRight[i] = right[i] * envelope[i];
    }
    EXPECT_EQ(firstDifference(out.at("out_l"), expectedLeft), "");
    EXPECT_EQ(firstDifference(out.at("out_r"), expectedRight), "");
    EXPECT_GT(*std::max_element(envelope.begin(), envelope.end()), 0.99f);
}

TEST(Lv2Bridge, AControlChangedBetweenRunsReachesTheModuleAtTheRunsFirstFrame) {
    // The sustain level is read when the decay starts (after the 100 ms attack), so a change at
    // frame 2048 of the attack sets where the note sustains.
    ScratchFolder folder;
    writeFile(folder.path("score.json"),
              R"({"parameters": {"attack": 0.5, "decay": 0.5, "release": 0.5},
                  "automation": {"sustain": [["0smp", 0.5], ["2048smp", 0.5], ["2048smp", 0.2]]},
                  "notes": [{"on": "0smp", "off": "30000smp"}]})");
    const std::vector<float> expected = render({"--score", folder.path("score.json")}, 48000, 40000);
    for (int32_t block : {1, 64}) {
        SCOPED_TRACE("blocks of " + std::to_string(block));
        LilvPluginHost host(sharedWorld(), uri("midi"), {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl("attack", 0.1f);
        host.setControl("decay", 0.1f);
        host.setControl("release", 0.1f);
        host.setControl("sustain", 0.5f);
        const auto outputs =
            host.run(40000, fixedBlocks(block), {noteOn(0), noteOff(30000)}, {}, [&](int64_t start) {
                if (start >= 2048) host.setControl("sustain", 0.2f);
            });
        EXPECT_EQ(firstDifference(outputs.at("output"), expected), "");
        EXPECT_FLOAT_EQ(outputs.at("output")[25000], 0.2f);
    }
}

TEST(Lv2Bridge, TheLatestNoteSoundsAndAllNotesOffEndsIt) {
    // Key 64 retriggers while 60 is held; 60's note off is not the sounding note's and changes
    // nothing; 64's ends the gate. Then CC 123 (all notes off) ends a note, and CC 120 (all sound
    // off) another: as the render's notes with those ends.
    const std::vector<MidiAt> midi{noteOn(1000, 60),  noteOn(5000, 64),
                                   noteOff(8000, 60), noteOff(20000, 64),
                                   noteOn(30000, 62), MidiAt{40000, 0xB0, 123, 0},
                                   noteOn(45000, 65), MidiAt{50000, 0xB3, 120, 0},
                                   noteOff(52000, 65)};
    std::vector<std::string> args = ENVELOPE_PINS;
    for (const char* note : {"1000smp:", "5000smp:20000smp", "30000smp:40000smp", "45000smp:50000smp"})
        args.insert(args.end(), {"--note", note});
    const std::vector<float> expected = render(args, 48000, 60000);
    LilvPluginHost host(sharedWorld(), uri("midi"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    setEnvelope(host);
    EXPECT_EQ(firstDifference(host.run(60000, fixedBlocks(128), midi).at("output"), expected), "");
}

TEST(Lv2Bridge, ActivatingAgainStartsFromSilence) {
    LilvPluginHost host(sharedWorld(), uri("midi"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    setEnvelope(host);
    const auto first = host.run(4000, fixedBlocks(64), {noteOn(10)}).at("output");
    EXPECT_GT(first.back(), 0.4f);  // sustaining
    lilv_instance_deactivate(host.instance());
    lilv_instance_activate(host.instance());
    const auto again = host.run(4000, fixedBlocks(64), {noteOn(10)}).at("output");
    EXPECT_EQ(firstDifference(again, first), "");
}

TEST(Lv2Bridge, TheGateFlavourFollowsItsInputsEdgesAtTheirFrames) {
    std::vector<float> gate(20000, 0.0f);
    std::fill(gate.begin() + 333, gate.begin() + 9000, 0.8f);
    std::fill(gate.begin() + 12000, gate.begin() + 12001, 1.0f);  // a one-frame pulse
    std::vector<std::string> args = ENVELOPE_PINS;
    args.insert(args.end(), {"--note", "333smp:9000smp", "--note", "12000smp:12001smp"});
    const std::vector<float> expected = render(args, 48000, 20000);
    LilvPluginHost host(sharedWorld(), uri("gate"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    setEnvelope(host);
    EXPECT_EQ(
        firstDifference(host.run(20000, randomBlocks(11, 300), {}, {{"gate", gate}}).at("output"), expected),
        "");
}

TEST(Lv2Bridge, AModuleWithoutAGatePlaysAsAnAudioPlugin) {
    // The example VCA (output = input x control x level in dB): its audio plug-in with two audio
    // inputs and a level control gives kvx render's samples for the same input files and level.
    ScratchFolder folder;
    ASSERT_EQ(runKvx({"lv2", testModulePath("VCA"), "--out", folder.path("VCA.lv2"), "--quiet"}).status, 0);
    const int64_t length = 6000;
    std::vector<float> input(length), control(length);
    for (int64_t n = 0; n < length; ++n) {
        input[n] = static_cast<float>(0.8 * std::sin(0.05 * static_cast<double>(n)));
        control[n] = static_cast<float>(n) / static_cast<float>(length);
    }
    ASSERT_TRUE(writeWav(folder.path("input.wav"), input, 48000));
    ASSERT_TRUE(writeWav(folder.path("control.wav"), control, 48000));
    const ToolRun run =
        runKvx({"render", testModulePath("VCA"), "--input", "input=" + folder.path("input.wav"), "--input",
                "control=" + folder.path("control.wav"), "--set", "level=-6", "--format", "float", "--out",
                folder.path("render.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<float> expected = readWav(folder.path("render.wav")).samples;

    const Lv2World world({folder.path("VCA.lv2")});
    LilvPluginHost host(world, "https://kvx.example.org/modules/vca/audio", {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    host.setControl("level", -6.0f);
    const auto outputs = host.run(length, randomBlocks(2, 500), {}, {{"input", input}, {"control", control}});
    EXPECT_EQ(firstDifference(outputs.at("output"), expected), "");
    EXPECT_GT(*std::max_element(expected.begin(), expected.end()), 0.3f);
}

// The VCA's toggled mute port and its fade, an audio parameter on a control port, give kvx
// render's samples for the same settings; a mute gives silence.
TEST(Lv2Bridge, TheVcasMuteAndFadeArePortsOfItsAudioPlugin) {
    ScratchFolder folder;
    ASSERT_EQ(runKvx({"lv2", testModulePath("VCA"), "--out", folder.path("VCA.lv2"), "--quiet"}).status, 0);
    const int64_t length = 3000;
    std::vector<float> input(length);
    for (int64_t n = 0; n < length; ++n)
        input[n] = static_cast<float>(0.8 * std::sin(0.05 * static_cast<double>(n)));
    ASSERT_TRUE(writeWav(folder.path("input.wav"), input, 48000));
    const Lv2World world({folder.path("VCA.lv2")});
    struct Row {
        const char* port;
        float value;
        const char* set;
    };
    for (const Row& row : {Row{"mute", 1.0f, "mute=on"}, Row{"fade", -9.5f, "fade=-9.5dB"}}) {
        SCOPED_TRACE(row.set);
        const ToolRun run =
            runKvx({"render", testModulePath("VCA"), "--input", "input=" + folder.path("input.wav"), "--set",
                    "control=0.5", "--set", row.set, "--out", folder.path("render.wav")});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<float> expected = readWav(folder.path("render.wav")).samples;
        LilvPluginHost host(world, "https://kvx.example.org/modules/vca/audio", {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl(row.port, row.value);
        const auto outputs = host.run(length, randomBlocks(3, 500), {},
                                      {{"input", input}, {"control", std::vector<float>(length, 0.5f)}});
        EXPECT_EQ(firstDifference(outputs.at("output"), expected), "");
        const float loudest = *std::max_element(expected.begin(), expected.end());
        if (row.value == 1.0f)
            EXPECT_EQ(loudest, 0.0f);
        else
            EXPECT_NEAR(loudest, 0.4f * std::pow(10.0f, -9.5f / 20.0f), 1e-3f);
    }
}

// Broken bundles: instantiate returns null with a message in the host's log.
struct Breakage {
    const char* name;
    std::function<void(const std::string& bundle)> breakIt;
    const char* message;
};

void replaceInFile(const std::string& path, const std::string& from, const std::string& to) {
    std::string text = readFile(path);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    writeFile(path, text);
}

TEST(Lv2Bridge, BrokenBundlesFailInInstantiateWithAMessage) {
    const std::vector<Breakage> breakages{
        {"library missing", [](const std::string& b) { fs::remove(b + "/ADSR.kvx"); }, "cannot load"},
        {"wrong id",
         [](const std::string& b) { replaceInFile(b + "/ADSR.kvx.json", "KV ADSR4", "KV ADSR5"); },
         "cannot create module \"KV ADSR5\""},
        {"a pin less than the Turtle's ports",
         [](const std::string& b) {
             replaceInFile(
                 b + "/ADSR.kvx.json",
                 R"("role": "parameter", "unit": "none", "default": 0.4, "minimum": -1, "maximum": 1},
        {"id": 9)",
                 R"("role": "signal", "unit": "none", "default": 0.4, "minimum": -1, "maximum": 1},
        {"id": 9)");
         },
         "write the bundle again"},
        {"a pin's datatype contradicting the library, ports unchanged",
         [](const std::string& b) {
             replaceInFile(b + "/ADSR.kvx.json", R"("datatype": "float", "direction": "in",
         "role": "reset", "unit": "none", "default": 0, "minimum": 0, "maximum": 1})",
                           R"("datatype": "bool", "direction": "in",
         "role": "reset", "default": false})");
         },
         "contradicts its library: pin 10 (reset): described as a bool input, but the library's pin is a "
         "control "
         "input taking a float"},
        {"no index", [](const std::string& b) { fs::remove(b + "/kvx-lv2.json"); }, ""},
    };
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.name);
        const Lv2World world({bundlePath()},
                             [&](const std::string& folder) { breakage.breakIt(folder + "ADSR.lv2"); });
        if (std::string(breakage.message).empty()) {
            // Without its index the binary lists no plug-in: lilv cannot find a descriptor.
            const LilvPlugin* plugin = world.plugin(uri("midi"));
            ASSERT_NE(plugin, nullptr);
            EXPECT_EQ(lilv_plugin_instantiate(plugin, 48000.0, nullptr), nullptr);
            continue;
        }
        LilvPluginHost host(world, uri("midi"), {});
        EXPECT_EQ(host.instance(), nullptr);
        EXPECT_NE(host.messages().find(breakage.message), std::string::npos) << host.messages();
        EXPECT_NE(host.messages().find(uri("midi")), std::string::npos) << host.messages();
    }
    // The host carries on: the intact bundle still plays.
    LilvPluginHost host(sharedWorld(), uri("midi"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    EXPECT_GT(host.run(2000, fixedBlocks(64), {noteOn(0)}).at("output").back(), 0.0f);
}

TEST(Lv2Bridge, UnusableRatesAndMissingFeaturesFailInInstantiate) {
    for (double rate : {0.0, -48000.0, 1e9}) {
        LilvPluginHost host(sharedWorld(), uri("gate"), {.sampleRate = rate});
        EXPECT_EQ(host.instance(), nullptr) << rate;
        EXPECT_NE(host.messages().find("sample rate"), std::string::npos) << host.messages();
    }
    // Without urid:map MIDI cannot be read (and there is no log to say so: standard error).
    LilvPluginHost midi(sharedWorld(), uri("midi"), {.offerMap = false, .offerLog = false});
    EXPECT_EQ(midi.instance(), nullptr);
    // The gate flavour needs nothing from the host.
    LilvPluginHost gate(sharedWorld(), uri("gate"), {.offerMap = false, .offerLog = false});
    EXPECT_NE(gate.instance(), nullptr);
}

}  // namespace
}  // namespace kvx::test
