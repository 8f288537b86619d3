// SPDX-License-Identifier: MIT
// Patches' bundles, written by `kvx lv2 PATCH` as a person writes them and played by the lilv
// host: a patch of one module gives `kvx render` of that module; the example patches and a patch
// with a free audio input give the samples of the same patch run by the host library directly,
// every note's event in a block of its own, at blocks of 1, 64 and random sizes; a note's pitch
// is 12-TET from A4 = 440 Hz with pitch bend and its velocity sets the level; bad patches are
// refused with one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "describe/user_value.h"
#include "host/patch.h"
#include "patch/patch_reader.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

std::string moduleFolder() { return fs::path(testModulePath("VCA")).parent_path().string(); }
std::vector<std::string> toolEnvironment() { return {"KVX_PATH=" + moduleFolder() + ":" + buildDir()}; }

std::string patchUri(const std::string& name, const std::string& flavour) {
    return "https://kvx.example.org/modules/patches/" + name + "/" + flavour;
}

std::string examplePatch(const std::string& name) {
    return std::string(KVX_SOURCE_DIR) + "/examples/patches/" + name + ".kvxpatch.json";
}
std::string testPatch(const std::string& name) {
    return std::string(KVX_SOURCE_DIR) + "/tests/lv2/patches/" + name + ".kvxpatch.json";
}

// `kvx lv2 PATCH --out FOLDER/NAME.lv2`; the bundle's path.
std::string writeBundle(const ScratchFolder& folder, const std::string& patchPath) {
    const std::string name = fs::path(patchPath).filename().string();
    const std::string bundle = folder.path(name.substr(0, name.find('.')) + ".lv2");
    const ToolRun run = runKvx({"lv2", patchPath, "--out", bundle, "--quiet"}, toolEnvironment());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    return bundle;
}

std::string firstDifference(const std::vector<float>& got, const std::vector<float>& expected) {
    if (got.size() != expected.size())
        return "lengths differ: " + std::to_string(got.size()) + " and " + std::to_string(expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (std::memcmp(&got[i], &expected[i], sizeof(float)) != 0) {
            char text[160];
            std::snprintf(text, sizeof text, "sample %zu: %.9g, expected %.9g", i,
                          static_cast<double>(got[i]), static_cast<double>(expected[i]));
            return text;
        }
    return "";
}

// --- the reference: the patch run by the host library directly -----------------------------

struct Score {
    std::map<std::string, double> controls;            // user values, held from the start
    std::vector<MidiAt> midi;                          // in frame order
    std::map<std::string, std::vector<float>> inputs;  // by pin ("vca.input"), streaming throughout
    // Controls set at a frame: an audio pin steps there, streaming for one sample; another pin
    // gets the value there.
    struct Change {
        int64_t frame;
        std::string control;
        double user;
    };
    std::vector<Change> changes;
    int64_t length = 0;
    float rate = 48000.0f;
};

// The patch's outputs for `score`: the controls' values are the patch's own values from the start;
// blocks are cut at every MIDI message's frame and the frame after it, so that each message is
// at the first sample of a block and an audio pin a note sets streams over a block of one sample.
std::vector<std::vector<float>> reference(const std::string& patchPath, const Score& score) {
    patch::PathModuleSource modules({{moduleFolder(), true}, {buildDir(), true}});
    patch::PatchFile file = patch::loadPatch(patchPath, modules);
    auto specPin = [&file](const patch::PinRef& ref) -> host::PatchPin& {
        for (host::PatchPin& pin : file.spec.modules[static_cast<size_t>(ref.module)].pins)
            if (pin.id == ref.pin) return pin;
        ADD_FAILURE() << "no pin " << file.pinName(ref);
        std::abort();
    };
    for (const auto& [name, user] : score.controls) {
        const patch::Control* control = file.control(name);
        EXPECT_NE(control, nullptr) << name;
        for (const patch::PinRef& ref : control->pins)
            specPin(ref).initial = file.pin(ref).datatype == describe::Datatype::Bool
                                       ? (user > 0.5 ? 1.0f : 0.0f)
                                       : describe::pinValueFor(file.pin(ref), static_cast<float>(user));
    }
    constexpr int32_t MAX_BLOCK = 4096;
    host::Patch engine(file.spec, score.rate, MAX_BLOCK);
    std::vector<std::pair<patch::PinRef, const std::vector<float>*>> inputs;
    for (const auto& [name, samples] : score.inputs)
        for (const patch::PinRef& ref : file.inputs)
            if (file.pinName(ref) == name) inputs.emplace_back(ref, &samples);
    EXPECT_EQ(inputs.size(), score.inputs.size());

    std::set<int64_t> cuts;
    for (const MidiAt& message : score.midi) cuts.insert({message.frame, message.frame + 1});
    for (const Score::Change& change : score.changes) cuts.insert({change.frame, change.frame + 1});
    std::vector<std::vector<float>> outputs(file.spec.outputs.size());
    int key = -1, sounding = -1;
    double bend = 0.0;
    std::set<std::pair<int32_t, int32_t>> streaming;  // audio pins set in the block before
    size_t next = 0;
    for (int64_t start = 0; start < score.length;) {
        int64_t end = std::min<int64_t>(start + MAX_BLOCK, score.length);
        if (auto cut = cuts.upper_bound(start); cut != cuts.end()) end = std::min(end, *cut);
        std::vector<host::PatchEvent> events;
        std::set<std::pair<int32_t, int32_t>> setNow;
        auto set = [&](const patch::PinRef& ref, double user, host::EventRank rank) {
            const float value = describe::pinValueFor(file.pin(ref), user);
            if (float* buffer = engine.input(ref.module, ref.pin)) {
                std::fill(buffer, buffer + MAX_BLOCK, value);
                if (!streaming.contains({ref.module, ref.pin}) && !setNow.contains({ref.module, ref.pin}))
                    events.push_back(
                        {ref.module, 0, EV_STREAM_BEGIN, ref.pin, 0.0f, host::EventRank::Stream});
                setNow.insert({ref.module, ref.pin});
            } else {
                events.push_back({ref.module, 0, EV_PIN_VALUE, ref.pin, value, rank});
            }
        };
        for (const Score::Change& change : score.changes)
            if (change.frame == start)
                for (const patch::PinRef& ref : file.control(change.control)->pins)
                    set(ref, static_cast<float>(change.user), host::EventRank::Change);
        auto setPitch = [&] {
            for (const patch::PinRef& ref : file.notes.pitch)
                set(ref, 440.0 * std::pow(2.0, (key - 69 + bend * file.notes.bendRange) / 12.0),
                    host::EventRank::Note);
        };
        auto gates = [&](float value) {
            for (const patch::PinRef& ref : file.notes.gate)
                events.push_back({ref.module, 0, EV_PIN_VALUE, ref.pin, value, host::EventRank::Note});
        };
        for (; next < score.midi.size() && score.midi[next].frame == start; ++next) {
            const MidiAt& m = score.midi[next];
            const int status = m.status & 0xF0, channelKey = (m.status & 0x0F) * 128 + m.data1;
            if (status == 0x90 && m.data2 > 0) {
                key = m.data1;
                sounding = channelKey;
                setPitch();
                for (const patch::PinRef& ref : file.notes.velocity)
                    set(ref, m.data2 / 127.0, host::EventRank::Note);
                for (const patch::PinRef& ref : file.notes.trigger)
                    events.push_back({ref.module, 0, EV_PIN_VALUE, ref.pin, 1.0f, host::EventRank::Note});
                gates(1.0f);
            } else if (((status == 0x80 || status == 0x90) && channelKey == sounding) ||
                       (status == 0xB0 && (m.data1 == 123 || m.data1 == 120) && sounding >= 0)) {
                sounding = -1;
                gates(0.0f);
            } else if (status == 0xE0) {
                bend = ((m.data2 << 7 | m.data1) - 8192) / 8192.0;
                if (key >= 0) setPitch();
            }
        }
        for (const auto& [module, pin] : streaming)
            if (!setNow.contains({module, pin}))
                events.push_back({module, 0, EV_STREAM_END, pin, 0.0f, host::EventRank::Stream});
        streaming = setNow;
        for (const auto& [ref, samples] : inputs) {
            if (start == 0)
                events.push_back({ref.module, 0, EV_STREAM_BEGIN, ref.pin, 0.0f, host::EventRank::Stream});
            std::copy(samples->begin() + start, samples->begin() + end, engine.input(ref.module, ref.pin));
        }
        std::stable_sort(
            events.begin(), events.end(),
            [](const host::PatchEvent& a, const host::PatchEvent& b) { return a.rank < b.rank; });
        engine.runBlock(static_cast<int32_t>(end - start), events);
        for (size_t o = 0; o < outputs.size(); ++o)
            outputs[o].insert(outputs[o].end(), engine.output(o), engine.output(o) + (end - start));
        start = end;
    }
    return outputs;
}

const std::vector<std::pair<std::string, std::function<int32_t(int64_t)>>>& schedules() {
    static const std::vector<std::pair<std::string, std::function<int32_t(int64_t)>>> all{
        {"1", fixedBlocks(1)}, {"64", fixedBlocks(64)}, {"random", randomBlocks(11)}};
    return all;
}

MidiAt noteOn(int64_t frame, uint8_t key, uint8_t velocity = 100) { return {frame, 0x90, key, velocity}; }
MidiAt noteOff(int64_t frame, uint8_t key) { return {frame, 0x80, key, 0}; }
MidiAt bendTo(int64_t frame, int value) {  // -8192 .. 8191
    const int raw = value + 8192;
    return {frame, 0xE0, static_cast<uint8_t>(raw & 0x7F), static_cast<uint8_t>(raw >> 7)};
}

// --- tests -----------------------------------------------------------------------------------

TEST(Lv2Patch, APatchOfOneModulePlaysAsKvxRenderOfTheModule) {
    ScratchFolder folder;
    writeFile(folder.path("envelope.kvxpatch.json"), R"({
      "format": 1,
      "modules": [{"name": "env", "module": "adsr"}],
      "outputs": [{"name": "out", "from": "env.output"}],
      "controls": [{"name": "attack", "pins": "env.attack"}, {"name": "decay", "pins": "env.decay"},
                   {"name": "sustain", "pins": "env.sustain"}, {"name": "release", "pins": "env.release"}],
      "notes": {"gate": "env.gate", "trigger": "env.trigger"}
    })");
    const std::string bundle = writeBundle(folder, folder.path("envelope.kvxpatch.json"));
    const int64_t length = 60000;
    // Times whose pin values the time mapping gives exactly: 10 ms is 0.25, 100 ms 0.5.
    const ToolRun render = runKvx({"render",    adsrLibraryPath(),
                                   "--attack",  "0.25",
                                   "--decay",   "0.5",
                                   "--sustain", "0.5",
                                   "--release", "0.5",
                                   "--note",    "1001smp:17777smp",
                                   "--note",    "19001smp:40000smp",
                                   "--note",    "52345smp:",
                                   "--rate",    "48000",
                                   "--length",  std::to_string(length) + "smp",
                                   "--format",  "float",
                                   "--out",     folder.path("render.wav")});
    ASSERT_EQ(render.status, 0) << render.err;
    const std::vector<float> expected = readWav(folder.path("render.wav")).samples;
    const std::vector<MidiAt> midi{noteOn(1001, 60), noteOff(17777, 60), noteOn(19001, 62),
                                   noteOff(40000, 62), noteOn(52345, 64)};
    const Lv2World world({bundle});
    for (const auto& [name, schedule] : schedules())
        for (int32_t offered : {0, 256}) {
            SCOPED_TRACE("blocks " + name + ", maxBlockLength " + std::to_string(offered));
            LilvPluginHost host(world, patchUri("envelope", "midi"), {.maxBlock = offered});
            ASSERT_NE(host.instance(), nullptr) << host.messages();
            host.setControl("attack", 0.01f);
            host.setControl("decay", 0.1f);
            host.setControl("sustain", 0.5f);
            host.setControl("release", 0.1f);
            EXPECT_EQ(firstDifference(host.run(length, schedule, midi).at("out"), expected), "");
        }
}

struct ExampleCase {
    const char* name;
    std::map<std::string, double> controls;  // also set on the control ports
    bool ours = false;                       // tests/lv2/patches/, not examples/patches/
};

class ExamplePatches : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(ExamplePatches, GiveTheHostLibrarysSamplesAtEveryBlockSchedule) {
    const ExampleCase& example = GetParam();
    ScratchFolder folder;
    const std::string patchPath = example.ours ? testPatch(example.name) : examplePatch(example.name);
    const std::string bundle = writeBundle(folder, patchPath);
    // Retriggers, a note off of a key no longer sounding, a bend during a note and at a note's
    // frame, events at one frame in both orders (off then on; on then bend), all notes off.
    Score score;
    score.length = 40000;
    score.controls = example.controls;
    score.midi = {noteOn(700, 57),      bendTo(5000, 4096),   noteOn(9000, 64, 40),   noteOff(9500, 57),
                  bendTo(12000, -8192), noteOff(20000, 64),   noteOn(20000, 69, 127), bendTo(20000, 0),
                  noteOn(30001, 81, 1), {33333, 0xB0, 123, 0}};
    const std::vector<float> expected = reference(patchPath, score).at(0);
    ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 0.05f);

    const Lv2World world({bundle});
    for (const auto& [name, schedule] : schedules())
        for (int32_t offered : {0, 256}) {
            SCOPED_TRACE("blocks " + name + ", maxBlockLength " + std::to_string(offered));
            LilvPluginHost host(world, patchUri(example.name, "midi"), {.maxBlock = offered});
            ASSERT_NE(host.instance(), nullptr) << host.messages();
            for (const auto& [control, value] : example.controls)
                host.setControl(control, static_cast<float>(value));
            EXPECT_EQ(firstDifference(host.run(score.length, schedule, score.midi).at("out"), expected), "");
        }
}

INSTANTIATE_TEST_SUITE_P(
    Lv2Patch, ExamplePatches,
    ::testing::Values(ExampleCase{"envelope-vca-osc", {{"release", 0.25}, {"level", -3.0}}},
                      ExampleCase{"envelope-frequency", {{"depth", -12.0}}}, ExampleCase{"feedback-loop", {}},
                      // Without a sync at the note, a pitch a frame off
                      // shows in the phase.
                      ExampleCase{"sine-velocity", {}, true}),
    [](const ::testing::TestParamInfo<ExampleCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(Lv2Patch, AControlChangedBetweenRunsReachesItsPinsAtTheRunsFirstFrame) {
    // The release (an audio pin: a one-sample step) and the level (a float pin: a value) change
    // during a held note and again during its release, at frames where a run starts.
    ScratchFolder folder;
    const std::string patchPath = examplePatch("envelope-vca-osc");
    const std::string bundle = writeBundle(folder, patchPath);
    Score score;
    score.length = 30000;
    score.controls = {{"release", 0.3}, {"level", -6.0}};
    score.midi = {noteOn(100, 60), noteOff(12800, 60)};
    score.changes = {{6400, "level", -20.0}, {6400, "release", 0.05}, {16000, "release", 1.0}};
    const std::vector<float> expected = reference(patchPath, score).at(0);
    Score unchanged = score;
    unchanged.changes.clear();
    ASSERT_NE(firstDifference(reference(patchPath, unchanged).at(0), expected), "");

    const Lv2World world({bundle});
    for (int32_t block : {1, 64}) {
        SCOPED_TRACE("blocks of " + std::to_string(block));
        LilvPluginHost host(world, patchUri("envelope-vca-osc", "midi"), {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl("release", 0.3f);
        host.setControl("level", -6.0f);
        const auto outputs = host.run(score.length, fixedBlocks(block), score.midi, {}, [&](int64_t start) {
            for (const Score::Change& change : score.changes)
                if (change.frame == start) host.setControl(change.control, static_cast<float>(change.user));
        });
        EXPECT_EQ(firstDifference(outputs.at("out"), expected), "");
    }
}

TEST(Lv2Patch, TheEffectPluginFeedsThePatchsFreeAudioInput) {
    ScratchFolder folder;
    const std::string patchPath = testPatch("envelope-on-input");
    const std::string bundle = writeBundle(folder, patchPath);
    Score score;
    score.length = 30000;
    score.controls = {{"release", 0.05}, {"level", -6.0}};
    score.midi = {noteOn(500, 60), noteOff(12000, 60), noteOn(20000, 60)};
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> input(static_cast<size_t>(score.length));
    for (float& sample : input) sample = noise(generator);
    score.inputs = {{"vca.input", input}};
    const std::vector<float> expected = reference(patchPath, score).at(0);
    ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 0.1f);

    const Lv2World world({bundle});
    EXPECT_NE(world.plugin(patchUri("envelope-on-input", "midi")), nullptr);
    for (const auto& [name, schedule] : schedules()) {
        SCOPED_TRACE("blocks " + name);
        LilvPluginHost host(world, patchUri("envelope-on-input", "effect"), {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl("release", 0.05f);
        host.setControl("level", -6.0f);
        const auto outputs = host.run(score.length, schedule, score.midi, {{"vca_input", input}});
        EXPECT_EQ(firstDifference(outputs.at("out"), expected), "");
    }
}

// Rising zero crossings per second over [from, to) of a sine, and its peak.
struct Measured {
    double hertz;
    float peak;
};
Measured measure(const std::vector<float>& samples, int64_t from, int64_t to, double rate) {
    int64_t first = -1, last = -1, crossings = 0;
    float peak = 0.0f;
    for (int64_t i = from + 1; i < to; ++i) {
        peak = std::max(peak, std::fabs(samples[i]));
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (first < 0) first = i;
            last = i;
            ++crossings;
        }
    }
    return {crossings > 1 ? (crossings - 1) * rate / static_cast<double>(last - first) : 0.0, peak};
}

TEST(Lv2Patch, ANotesPitchIsTwelveToneEqualTemperamentWithBendAndItsVelocityTheLevel) {
    ScratchFolder folder;
    const std::string bundle = writeBundle(folder, testPatch("sine-velocity"));
    const double rate = 48000.0;
    const int64_t second = 48000;
    // Each case sounds for a second, measured over its last 0.9 s: A4, A3 at half velocity, A4
    // bent a full octave down and (almost, 8191/8192 of it) up, middle C.
    struct Case {
        std::vector<MidiAt> messages;
        double hertz;
        float peak;
    };
    const std::vector<Case> cases{{{noteOn(0, 69, 127)}, 440.0, 1.0f},
                                  {{noteOn(0, 57, 64)}, 220.0, 64.0f / 127.0f},
                                  {{noteOn(0, 69, 127), bendTo(0, -8192)}, 220.0, 1.0f},
                                  {{bendTo(0, 8191)}, 440.0 * std::pow(2.0, 8191.0 / 8192.0), 1.0f},
                                  {{bendTo(0, 0), noteOn(0, 60, 127)}, 261.6255653, 1.0f}};
    std::vector<MidiAt> midi;
    for (size_t i = 0; i < cases.size(); ++i)
        for (MidiAt message : cases[i].messages) {
            message.frame += static_cast<int64_t>(i) * second;
            midi.push_back(message);
        }
    const Lv2World world({bundle});
    LilvPluginHost host(world, patchUri("sine-velocity", "midi"), {.sampleRate = rate});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    const std::vector<float> out =
        host.run(static_cast<int64_t>(cases.size()) * second, randomBlocks(5, 1000), midi).at("out");
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const int64_t start = static_cast<int64_t>(i) * second;
        const Measured measured = measure(out, start + second / 10, start + second, rate);
        EXPECT_NEAR(measured.hertz, cases[i].hertz, cases[i].hertz * 2e-4);
        EXPECT_NEAR(measured.peak, cases[i].peak, 2e-3);
    }
}

TEST(Lv2Patch, ActivatingAgainStartsThePatchAfresh) {
    ScratchFolder folder;
    const Lv2World world({writeBundle(folder, examplePatch("envelope-vca-osc"))});
    LilvPluginHost host(world, patchUri("envelope-vca-osc", "midi"), {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    const std::vector<MidiAt> midi{noteOn(10, 60), bendTo(2000, 3000)};
    const auto first = host.run(6000, fixedBlocks(64), midi).at("out");
    lilv_instance_deactivate(host.instance());
    lilv_instance_activate(host.instance());
    EXPECT_EQ(firstDifference(host.run(6000, fixedBlocks(64), midi).at("out"), first), "");
}

TEST(Lv2Patch, BrokenPatchBundlesFailInInstantiateWithAMessage) {
    ScratchFolder folder;
    const std::string bundle = writeBundle(folder, examplePatch("envelope-vca-osc"));
    const std::string patchFile = "/envelope-vca-osc.lv2/envelope-vca-osc.kvxpatch.json";
    auto replace = [](const std::string& path, const std::string& from, const std::string& to) {
        std::string text = readFile(path);
        ASSERT_NE(text.find(from), std::string::npos) << from;
        text.replace(text.find(from), from.size(), to);
        writeFile(path, text);
    };
    const struct {
        const char* name;
        std::function<void(const std::string& folder)> breakIt;
        const char* message;
    } breakages[] = {
        {"a library missing", [](const std::string& f) { fs::remove(f + "/envelope-vca-osc.lv2/OSC.kvx"); },
         "no library file"},
        {"a control renamed in the patch",
         [&](const std::string& f) { replace(f + patchFile, R"("name": "level")", R"("name": "gain")"); },
         "write the bundle again"},
        {"a patch the reader refuses",
         [&](const std::string& f) { replace(f + patchFile, R"("to": "vca.input")", R"("to": "vca.gain")"); },
         "module 'vca' has no input 'gain'"},
    };
    for (const auto& breakage : breakages) {
        SCOPED_TRACE(breakage.name);
        const Lv2World world({bundle}, breakage.breakIt);
        LilvPluginHost host(world, patchUri("envelope-vca-osc", "midi"), {});
        EXPECT_EQ(host.instance(), nullptr);
        EXPECT_NE(host.messages().find(breakage.message), std::string::npos) << host.messages();
    }
}

TEST(KvxLv2Patch, RefusesABadPatchWithItsOneLineMessageAndWritesNothing) {
    const std::string module =
        R"("modules": [{"name": "env", "module": "adsr"}, {"name": "vca", "module": "vca"}],
      "connections": [{"from": "env.output", "to": "vca.control"}],
      "outputs": [{"name": "out", "from": "vca.output"}])";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> extra;
        std::string message;
    };
    const std::vector<Case> cases{
        {"unknown module",
         R"({"format": 1, "modules": [{"name": "m", "module": "nosuch"}],
            "outputs": [{"name": "out", "from": "m.output"}]})",
         {},
         "bad.kvxpatch.json: $.modules[0].module: no module 'nosuch' along the module path"},
        {"unknown pin",
         "{\"format\": 1, " + module + ", \"notes\": {\"gate\": \"env.gait\"}}",
         {},
         "bad.kvxpatch.json: $.notes.gate"},
        {"a control named as the MIDI port",
         "{\"format\": 1, " + module + ", \"controls\": [{\"name\": \"midi_in\", \"pins\": \"vca.level\"}]}",
         {},
         "two ports of the midi plug-in would be named 'midi_in'"},
        {"a control named as the effect's input",
         "{\"format\": 1, " + module +
             ", \"controls\": [{\"name\": \"vca_input\", \"pins\": \"vca.level\"}]}",
         {},
         "two ports of the effect plug-in would be named 'vca_input'"},
        {"--describe with a patch",
         "{\"format\": 1, " + module + "}",
         {"--describe", "x.kvx.json"},
         "--describe is for a module library"},
        {"not JSON", "{\"format\": 1,", {}, "bad.kvxpatch.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        writeFile(folder.path("bad.kvxpatch.json"), c.text);
        std::vector<std::string> args{"lv2", folder.path("bad.kvxpatch.json"), "--out",
                                      folder.path("bad.lv2")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun run = runKvx(args, toolEnvironment());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("kvx lv2: ")) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(folder.path("bad.lv2")));
    }
}

TEST(KvxLv2Patch, SaysThatAPatchAskingForMoreVoicesPlaysOne) {
    ScratchFolder folder;
    writeFile(folder.path("poly.kvxpatch.json"), R"({"format": 1, "voices": 3,
      "modules": [{"name": "env", "module": "adsr"}], "outputs": [{"name": "out", "from": "env.output"}],
      "notes": {"gate": "env.gate"}})");
    const ToolRun run = runKvx({"lv2", folder.path("poly.kvxpatch.json"), "--out", folder.path("poly.lv2")},
                               toolEnvironment());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("asks for 3 voices; its plug-ins play one"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(patchUri("poly", "midi")), std::string::npos) << run.out;
}

TEST(KvxLv2Patch, TheBundleHoldsEveryLibraryItsDescriptionAndThePatchNamingThem) {
    ScratchFolder folder;
    const std::string bundle = writeBundle(folder, examplePatch("envelope-vca-osc"));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(bundle))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"ADSR.kvx", "ADSR.kvx.json", "OSC.kvx", "OSC.kvx.json",
                                               "VCA.kvx", "VCA.kvx.json", "envelope-vca-osc.kvxpatch.json",
                                               "envelope-vca-osc.ttl", "kvx-lv2-bridge.so", "kvx-lv2.json",
                                               "manifest.ttl"}));
    EXPECT_EQ(readFile(bundle + "/OSC.kvx"), readFile(testModulePath("OSC")));
    // The bundle's patch reads with no module path at all, into the same graph.
    patch::PathModuleSource nowhere({});
    const patch::PatchFile bundled = patch::loadPatch(bundle + "/envelope-vca-osc.kvxpatch.json", nowhere);
    patch::PathModuleSource modules({{moduleFolder(), true}, {buildDir(), true}});
    const patch::PatchFile original = patch::loadPatch(examplePatch("envelope-vca-osc"), modules);
    ASSERT_EQ(bundled.spec.modules.size(), original.spec.modules.size());
    for (size_t m = 0; m < original.spec.modules.size(); ++m) {
        EXPECT_EQ(fs::path(bundled.spec.modules[m].libraryPath).parent_path(), fs::path(bundle));
        EXPECT_EQ(bundled.spec.modules[m].id, original.spec.modules[m].id);
        ASSERT_EQ(bundled.spec.modules[m].pins.size(), original.spec.modules[m].pins.size());
        for (size_t p = 0; p < original.spec.modules[m].pins.size(); ++p)
            EXPECT_EQ(bundled.spec.modules[m].pins[p].initial, original.spec.modules[m].pins[p].initial);
    }
    EXPECT_EQ(bundled.name, original.name);
}

}  // namespace
}  // namespace kvx::test
