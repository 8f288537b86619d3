// SPDX-License-Identifier: MIT
// The envelope's midi plug-in fed as DAWs feed it, each case through the lilv host against
// `kvx render` of the same notes: note ons of velocity 0, note offs and ons of one key at one
// frame in both orders, several messages at one frame, note offs of keys not sounding, short and
// status-less events, CC 120/123 mid-note, events on the edges of runs and slices, runs of 0
// frames; control values outside their range (clamped: the output is the output at the bound),
// and controls changed in every run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "tests/lv2/lilv_host.h"
#include "tests/support/sample_difference.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

constexpr int RATE = 48000;
const std::string MIDI_URI = std::string(ADSR_URI_BASE) + "midi";

const Lv2World& sharedWorld() {
    static const Lv2World world({buildDir() + "/ADSR.lv2"});
    return world;
}

std::string smp(int64_t frame) { return "\"" + std::to_string(frame) + "smp\""; }

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// `kvx render` of a score: `members` are its JSON members after the length.
std::vector<float> render(int64_t length, const std::string& members) {
    ScratchFolder folder;
    writeFile(folder.path("score.json"), "{\"length\": " + smp(length) + ", " + members + "}");
    const ToolRun run =
        runKvx({"render", adsrLibraryPath(), "--score", folder.path("score.json"), "--rate",
                std::to_string(RATE), "--format", "float", "--out", folder.path("render.wav")});
    EXPECT_EQ(run.status, 0) << run.err;
    return readWav(folder.path("render.wav")).samples;
}

MidiAt on(int64_t frame, uint8_t key = 60, uint8_t channel = 0) {
    return MidiAt{frame, static_cast<uint8_t>(0x90 | channel), key, 100};
}
MidiAt off(int64_t frame, uint8_t key = 60, uint8_t channel = 0) {
    return MidiAt{frame, static_cast<uint8_t>(0x80 | channel), key, 64};
}
MidiAt cc(int64_t frame, uint8_t controller, uint8_t channel = 0) {
    return MidiAt{frame, static_cast<uint8_t>(0xB0 | channel), controller, 0};
}

// What the gate does, as a score says it: Open triggers and opens the gate, Close closes it.
// Sent as the score's pin events, which keep the order they are listed in at one sample.
enum class Gate {
    Open,
    Close
};
struct GateAt {
    int64_t frame;
    Gate gate;
};

std::string gateEvents(const std::vector<GateAt>& gates) {
    std::string events;
    auto event = [&](int64_t frame, const char* pin, const char* value) {
        events += std::string(events.empty() ? "" : ", ") + "{\"at\": " + smp(frame) + ", \"pin\": \"" + pin +
                  "\", \"value\": \"" + value + "\"}";
    };
    for (const GateAt& g : gates) {
        if (g.gate == Gate::Open) event(g.frame, "trigger", "on");
        event(g.frame, "gate", g.gate == Gate::Open ? "on" : "off");
    }
    return "\"events\": [" + events + "]";
}

// Times whose pin values the time mapping gives exactly: 10 ms is 0.25, 100 ms is 0.5.
const std::map<std::string, float> PORTS{
    {"attack", 0.01f}, {"decay", 0.1f}, {"sustain", 0.5f}, {"release", 0.1f}};
const char* const PARAMETERS =
    R"("parameters": {"attack": 0.25, "decay": 0.5, "sustain": 0.5, "release": 0.5})";

using Schedule = std::function<std::function<int32_t(int64_t)>()>;

Schedule fixed(int32_t size) {
    return [size] { return fixedBlocks(size); };
}
// Runs of 0 frames between runs of `size` (and two in a row now and then).
Schedule withEmptyRuns(int32_t size) {
    return [size] {
        auto count = std::make_shared<int>(0);
        return std::function<int32_t(int64_t)>([count, size](int64_t) {
            const int n = (*count)++;
            return n % 2 == 0 || n % 7 == 3 ? 0 : size;
        });
    };
}

struct MidiCase {
    const char* name;
    std::vector<MidiAt> midi;
    std::vector<GateAt> expected;
    Schedule schedule = fixed(64);
    int32_t maxBlock = 0;  // > 0: offered as bufsz:maxBlockLength
};

const std::vector<MidiCase>& midiCases() {
    static const std::vector<MidiCase> cases{
        {"a note on of velocity 0 is that key's note off",
         {on(1000), MidiAt{4000, 0x90, 60, 0}},
         {{1000, Gate::Open}, {4000, Gate::Close}}},
        {"a note on of velocity 0 for another key or channel changes nothing",
         {on(1000), MidiAt{2000, 0x90, 61, 0}, MidiAt{2500, 0x91, 60, 0}, off(4000)},
         {{1000, Gate::Open}, {4000, Gate::Close}}},
        {"note offs for keys not sounding change nothing",
         {off(500), cc(700, 123), on(1000), off(2000, 61), off(2500, 60, 1), off(4000), off(6000),
          cc(7000, 120)},
         {{1000, Gate::Open}, {4000, Gate::Close}}},
        {"an off then an on of one key at one frame retrigger",
         {on(1000), off(5000), on(5000), off(9000)},
         {{1000, Gate::Open}, {5000, Gate::Close}, {5000, Gate::Open}, {9000, Gate::Close}}},
        {"an on then an off of one key at one frame trigger and leave the gate closed",
         {on(1000), off(3000), on(6000), off(6000), on(9000), off(9000), on(9000)},
         {{1000, Gate::Open},
          {3000, Gate::Close},
          {6000, Gate::Open},
          {6000, Gate::Close},
          {9000, Gate::Open},
          {9000, Gate::Close},
          {9000, Gate::Open}}},
        {"several messages at one frame act in their MIDI order",
         {on(1000), on(8000, 62), on(8000, 64), off(8000, 64), off(8000, 62), on(12000, 65), cc(12000, 123),
          on(12000, 67), off(12000, 65), off(15000, 67)},
         {{1000, Gate::Open},
          {8000, Gate::Open},
          {8000, Gate::Open},
          {8000, Gate::Close},
          {12000, Gate::Open},
          {12000, Gate::Close},
          {12000, Gate::Open},
          {15000, Gate::Close}}},
        {"status-less (running status), short and empty events are ignored",
         {on(1000), MidiAt{2000, 60, 0, 0, 2}, MidiAt{2100, 60, 0, 0, 3}, MidiAt{2200, 0x80, 60, 0, 2},
          MidiAt{2300, 0xF8, 0, 0, 1}, MidiAt{2400, 0, 0, 0, 0}, MidiAt{2500, 0xC0, 5, 0, 2},
          MidiAt{2600, 0x90, 62, 0, 2}, off(5000), MidiAt{6000, 62, 100, 0, 2}},
         {{1000, Gate::Open}, {5000, Gate::Close}}},
        {"CC 123 and CC 120 end a note mid-attack and mid-decay, on any channel; other controllers do not",
         {on(1000), cc(1200, 123), off(3000), on(5000, 62, 3), cc(6000, 120, 9), on(11000, 64),
          cc(12000, 121), cc(12500, 7), off(15000, 64)},
         {{1000, Gate::Open},
          {1200, Gate::Close},
          {5000, Gate::Open},
          {6000, Gate::Close},
          {11000, Gate::Open},
          {15000, Gate::Close}}},
        {"events at a run's last frame and at the next run's first",
         {on(63), off(64), on(127), off(1280), on(2047), off(2048), on(4095)},
         {{63, Gate::Open},
          {64, Gate::Close},
          {127, Gate::Open},
          {1280, Gate::Close},
          {2047, Gate::Open},
          {2048, Gate::Close},
          {4095, Gate::Open}}},
        {"events at a slice's last frame and at the next slice's first, within one run",
         {on(1023), off(1024), on(2047), off(4095), on(4096), off(5119), on(5120), off(9000)},
         {{1023, Gate::Open},
          {1024, Gate::Close},
          {2047, Gate::Open},
          {4095, Gate::Close},
          {4096, Gate::Open},
          {5119, Gate::Close},
          {5120, Gate::Open},
          {9000, Gate::Close}},
         fixed(4096)},
        {"the same with the host's maximum block smaller than its runs",
         {on(99), off(100), on(299), off(4095), on(4096), off(9000)},
         {{99, Gate::Open},
          {100, Gate::Close},
          {299, Gate::Open},
          {4095, Gate::Close},
          {4096, Gate::Open},
          {9000, Gate::Close}},
         fixed(4096),
         100},
        {"runs of 0 frames between runs change nothing",
         {on(111), off(370), on(1000), off(2000), on(2997)},
         {{111, Gate::Open}, {370, Gate::Close}, {1000, Gate::Open}, {2000, Gate::Close}, {2997, Gate::Open}},
         withEmptyRuns(37)},
    };
    return cases;
}

class DawMidi : public ::testing::TestWithParam<size_t> {};

TEST_P(DawMidi, GivesTheRenderOfTheSameNotes) {
    const MidiCase& row = midiCases()[GetParam()];
    SCOPED_TRACE(row.name);
    const int64_t length = 16000;
    const std::vector<float> expected =
        render(length, std::string(PARAMETERS) + ", " + gateEvents(row.expected));
    ASSERT_EQ(expected.size(), static_cast<size_t>(length));
    // The row's schedule, and runs of random length as a second angle.
    const std::vector<std::pair<const char*, std::function<int32_t(int64_t)>>> schedules{
        {"the row's runs", row.schedule()},
        {"random runs", randomBlocks(static_cast<uint32_t>(GetParam()), 300)}};
    for (const auto& [name, schedule] : schedules) {
        SCOPED_TRACE(name);
        LilvPluginHost host(sharedWorld(), MIDI_URI, {.sampleRate = RATE, .maxBlock = row.maxBlock});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        for (const auto& [symbol, value] : PORTS) host.setControl(symbol, value);
        EXPECT_EQ(firstDifference(host.run(length, schedule, row.midi).at("output"), expected), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DawMidi, ::testing::Range<size_t>(0, midiCases().size()));

// Control values outside the declared range: the output is the output at the bound.
struct ControlCase {
    const char* name;
    std::map<std::string, float> ports;  // over PORTS
    const char* parameters;              // the render's, at the bounds
};

constexpr float INF = std::numeric_limits<float>::infinity();

TEST(DawControls, ValuesOutsideTheRangePlayAsTheBound) {
    const std::vector<ControlCase> cases{
        {"below the minimum",
         {{"attack", -1.0f},
          {"decay", 0.0f},
          {"sustain", -0.5f},
          {"release", -INF},
          {"attack_curve", -3.0f},
          {"decay_curve", -1.0001f},
          {"release_curve", -INF}},
         R"("attack": "1ms", "decay": "1ms", "sustain": 0, "release": "1ms", "attack-curve": -1,
            "decay-curve": -1, "release-curve": -1)"},
        {"just below the minimum",
         {{"attack", 0.0009f}, {"sustain", -1e-7f}, {"attack_curve", -1.0000001f}},
         R"("attack": "1ms", "decay": 0.5, "sustain": 0, "release": 0.5, "attack-curve": -1)"},
        {"above the maximum",
         {{"attack", 11.0f},
          {"decay", INF},
          {"sustain", 1.5f},
          {"release", 1e30f},
          {"attack_curve", 2.0f},
          {"decay_curve", INF},
          {"release_curve", 1.0001f}},
         R"("attack": "10s", "decay": "10s", "sustain": 1, "release": "10s", "attack-curve": 1,
            "decay-curve": 1, "release-curve": 1)"},
        {"just above the maximum",
         {{"attack", 10.000001f}, {"sustain", 1.0000001f}, {"decay_curve", 1.0000001f}},
         R"("attack": "10s", "decay": 0.5, "sustain": 1, "release": 0.5, "decay-curve": 1)"},
        {"at the bounds",
         {{"attack", 10.0f}, {"sustain", 0.0f}, {"attack_curve", -1.0f}, {"release_curve", 1.0f}},
         R"("attack": "10s", "decay": 0.5, "sustain": 0, "release": 0.5, "attack-curve": -1,
            "release-curve": 1)"},
        {"not a number: the default",
         {{"attack", NAN}, {"decay", NAN}, {"sustain", NAN}, {"release", NAN}, {"decay_curve", NAN}},
         R"("attack": "100ms", "decay": "400ms", "sustain": 0.5, "release": "800ms", "decay-curve": 0.4)"},
    };
    const int64_t length = 30000;
    const std::vector<MidiAt> midi{on(100), off(9000), on(12000), off(20000)};
    for (const ControlCase& row : cases) {
        SCOPED_TRACE(row.name);
        const std::vector<float> expected = render(
            length,
            std::string("\"parameters\": {") + row.parameters + "}, " +
                gateEvents(
                    {{100, Gate::Open}, {9000, Gate::Close}, {12000, Gate::Open}, {20000, Gate::Close}}));
        LilvPluginHost host(sharedWorld(), MIDI_URI, {.sampleRate = RATE});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        for (const auto& [symbol, value] : PORTS) host.setControl(symbol, value);
        for (const auto& [symbol, value] : row.ports) host.setControl(symbol, value);
        EXPECT_EQ(firstDifference(host.run(length, randomBlocks(7, 500), midi).at("output"), expected), "");
    }
}

// Every run moves the level controls; the render gets the same values as steps at the runs'
// first frames (the input streams for that one frame, as the bridge sends a change).
TEST(DawControls, AControlChangedInEveryRunReachesTheModuleAtEachRunsFirstFrame) {
    const std::vector<std::string> moving{"sustain", "attack_curve", "decay_curve", "release_curve"};
    const std::vector<std::pair<const char*, Schedule>> schedules{
        {"runs of 1", fixed(1)},
        {"random runs up to 40", [] { return randomBlocks(3, 40); }},
        {"runs of 0 and 23", withEmptyRuns(23)}};
    const int64_t length = 6000;
    const std::vector<MidiAt> midi{on(10), off(2000), on(2500), off(4000), on(4500)};
    for (const auto& [name, schedule] : schedules) {
        SCOPED_TRACE(name);
        LilvPluginHost host(sharedWorld(), MIDI_URI, {.sampleRate = RATE});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        for (const auto& [symbol, value] : PORTS) host.setControl(symbol, value);
        host.setControl("attack", 0.001f);  // short segments: the levels are read often
        host.setControl("decay", 0.001f);
        std::map<std::string, std::string> automation;
        for (size_t i = 0; i < moving.size(); ++i)
            automation[moving[i]] = "[" + smp(0) + ", " + number(host.control(moving[i])) + "]";
        int runs = 0;
        const auto outputs = host.run(length, schedule(), midi, {}, [&](int64_t start) {
            ++runs;
            if (start == 0) return;  // the values at the start are the automation's first points
            for (size_t i = 0; i < moving.size(); ++i) {
                const float before = host.control(moving[i]);
                // A new value in every run, different from the last: levels for the sustain,
                // curves from -0.9 to 0.9 for the rest.
                const float step = static_cast<float>((runs * 37 + static_cast<int>(i) * 11) % 97) / 96.0f;
                float value = i == 0 ? step : step * 1.8f - 0.9f;
                if (value == before) value = i == 0 ? 1.0f - value : -value;
                host.setControl(moving[i], value);
                automation[moving[i]] += ", [" + smp(start) + ", " + number(before) + "], [" + smp(start) +
                                         ", " + number(value) + "]";
            }
        });
        std::string members = R"("parameters": {"attack": 0, "decay": 0, "release": 0.5}, "automation": {)";
        for (size_t i = 0; i < moving.size(); ++i)
            members += std::string(i ? ", " : "") + "\"" + moving[i] + "\": [" + automation[moving[i]] + "]";
        members += "}, " + gateEvents({{10, Gate::Open},
                                       {2000, Gate::Close},
                                       {2500, Gate::Open},
                                       {4000, Gate::Close},
                                       {4500, Gate::Open}});
        EXPECT_EQ(firstDifference(outputs.at("output"), render(length, members)), "");
    }
}

}  // namespace
}  // namespace kvx::test
