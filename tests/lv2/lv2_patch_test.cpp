// SPDX-License-Identifier: MIT
// Patches' bundles, written by `kvx lv2 PATCH` as a person writes them and played by the lilv
// host: a patch of one module gives `kvx render` of that module; the example patches and a patch
// with a free audio input give `kvx render` of the patch with the same notes (keys, velocities),
// control changes and input, at blocks of 1, 64 and random sizes; a note's pitch is 12-TET from
// A4 = 440 Hz with pitch bend (which a score cannot play) and its velocity sets the level; bad
// patches are refused with one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "patch/patch_reader.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/sample_difference.h"
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

// --- the reference: kvx render of the patch with the same notes --------------------------

// A note as a score writes it and as MIDI plays it: note on at `on`, note off (or, with
// `allOff`, CC 123) at `off` unless it is held to the end.
struct Note {
    int64_t on;
    int64_t off;  // -1: held
    uint8_t key = 69;
    uint8_t velocity = 127;
    bool allOff = false;
};

struct Play {
    std::map<std::string, double> controls;  // user values, held from the start
    std::vector<Note> notes;
    struct Change {
        int64_t frame;
        std::string control;
        double user;
    };
    std::vector<Change> changes;
    std::map<std::string, std::vector<float>> inputs;  // by pin ("vca.input")
    int64_t length = 0;
    // At a frame where one note ends and the next begins, MIDI sends the next note on first.
    bool onsFirst = false;
};

std::string samples(int64_t frame) { return "\"" + std::to_string(frame) + "smp\""; }

// `kvx render PATCH --score S` of `play`, at 48 kHz in blocks of 64: the patch's first output.
std::vector<float> rendered(const ScratchFolder& folder, const std::string& patchPath, const Play& play) {
    std::string score = "{\"length\": " + samples(play.length) + ", \"parameters\": {";
    for (const auto& [name, user] : play.controls)
        score += (score.ends_with("{") ? "\"" : ", \"") + name + "\": " + std::to_string(user);
    score += "}, \"notes\": [";
    for (const Note& note : play.notes)
        score += (score.ends_with("[") ? "" : ", ") + std::string("{\"on\": ") + samples(note.on) +
                 (note.off >= 0 ? ", \"off\": " + samples(note.off) : "") +
                 ", \"key\": " + std::to_string(note.key) +
                 ", \"velocity\": " + std::to_string(note.velocity) + "}";
    score += "], \"events\": [";
    for (const Play::Change& change : play.changes)
        score += (score.ends_with("[") ? "" : ", ") + std::string("{\"at\": ") + samples(change.frame) +
                 ", \"pin\": \"" + change.control + "\", \"value\": " + std::to_string(change.user) + "}";
    score += "], \"inputs\": {";
    for (const auto& [pin, signal] : play.inputs) {
        EXPECT_TRUE(writeWav(folder.path(pin + ".wav"), signal, 48000));
        score += (score.ends_with("{") ? "\"" : ", \"") + pin + "\": \"" + pin + ".wav\"";
    }
    score += "}}";
    writeFile(folder.path("score.json"), score);
    const ToolRun run = runKvx({"render", patchPath, "--score", folder.path("score.json"), "--rate", "48000",
                                "--format", "float", "--out", folder.path("render.wav")},
                               toolEnvironment());
    EXPECT_EQ(run.status, 0) << run.err << score;
    return readWav(folder.path("render.wav")).samples;
}

// The notes of `play` as MIDI messages in frame order.
std::vector<MidiAt> midiOf(const Play& play) {
    struct Timed {
        int64_t frame;
        int order;
        MidiAt message;
    };
    std::vector<Timed> timed;
    for (const Note& note : play.notes) {
        timed.push_back({note.on, play.onsFirst ? 0 : 1, {note.on, 0x90, note.key, note.velocity}});
        if (note.off >= 0)
            timed.push_back(
                {note.off, play.onsFirst ? 1 : 0,
                 note.allOff ? MidiAt{note.off, 0xB0, 123, 0} : MidiAt{note.off, 0x80, note.key, 0}});
    }
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.order < b.order;
    });
    std::vector<MidiAt> midi;
    for (const Timed& item : timed) midi.push_back(item.message);
    return midi;
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
    bool onsFirst = false;
};
// GoogleTest would print the struct's bytes, padding included.
void PrintTo(const ExampleCase& example, std::ostream* out) {
    *out << example.name << (example.onsFirst ? ", note ons first" : "");
}

class ExamplePatches : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(ExamplePatches, GiveKvxRenderOfTheSameNotesAtEveryBlockSchedule) {
    const ExampleCase& example = GetParam();
    ScratchFolder folder;
    const std::string patchPath = example.ours ? testPatch(example.name) : examplePatch(example.name);
    const std::string bundle = writeBundle(folder, patchPath);
    // Keys and velocities at their bounds; a note starting while one sounds (whose off then
    // changes nothing), a note ending where the next begins (MIDI in both orders across the
    // rows), notes off by CC 123, a note at frame 0 and one held to the end.
    Play play;
    play.length = 40000;
    play.controls = example.controls;
    play.onsFirst = example.onsFirst;
    play.notes = {{0, 300, 69, 127},        {700, 9500, 57, 100},       {9000, 20000, 64, 40},
                  {20000, 26000, 127, 127}, {26000, 30000, 0, 1, true}, {30001, 33333, 81, 1, true},
                  {36000, -1, 60, 64}};
    const std::vector<float> expected = rendered(folder, patchPath, play);
    ASSERT_EQ(expected.size(), static_cast<size_t>(play.length));
    ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 0.05f);

    const Lv2World world({bundle});
    for (const auto& [name, schedule] : schedules())
        for (int32_t offered : {0, 256}) {
            SCOPED_TRACE("blocks " + name + ", maxBlockLength " + std::to_string(offered));
            LilvPluginHost host(world, patchUri(example.name, "midi"), {.maxBlock = offered});
            ASSERT_NE(host.instance(), nullptr) << host.messages();
            for (const auto& [control, value] : example.controls)
                host.setControl(control, static_cast<float>(value));
            EXPECT_EQ(firstDifference(host.run(play.length, schedule, midiOf(play)).at("out"), expected), "");
        }
}

INSTANTIATE_TEST_SUITE_P(
    Lv2Patch, ExamplePatches,
    ::testing::Values(ExampleCase{"envelope-vca-osc", {{"release", 0.25}, {"level", -3.0}}},
                      ExampleCase{"envelope-frequency", {{"depth", -12.0}}, false, true},
                      ExampleCase{"feedback-loop", {}},
                      // Without a sync at the note, a pitch a frame off shows in the phase.
                      ExampleCase{"sine-velocity", {}, true}, ExampleCase{"sine-velocity", {}, true, true}),
    [](const ::testing::TestParamInfo<ExampleCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name + (info.param.onsFirst ? "_ons_first" : "");
    });

TEST(Lv2Patch, AControlChangedBetweenRunsReachesItsPinsAtTheRunsFirstFrame) {
    // The release (an audio pin: a one-sample step) and the level (a float pin: a value) change
    // where one note ends and the next begins, and again during the release, at frames where a
    // run starts; kvx render gets the same changes as score events.
    ScratchFolder folder;
    const std::string patchPath = examplePatch("envelope-vca-osc");
    const std::string bundle = writeBundle(folder, patchPath);
    Play play;
    play.length = 30000;
    play.controls = {{"release", 0.3}, {"level", -6.0}};
    play.notes = {{100, 6400, 60, 90}, {6400, 12800, 64, 90}};
    play.changes = {{6400, "level", -20.0}, {6400, "release", 0.05}, {16000, "release", 1.0}};
    const std::vector<float> expected = rendered(folder, patchPath, play);
    Play unchanged = play;
    unchanged.changes.clear();
    ASSERT_NE(firstDifference(rendered(folder, patchPath, unchanged), expected), "");

    const Lv2World world({bundle});
    for (int32_t block : {1, 64}) {
        SCOPED_TRACE("blocks of " + std::to_string(block));
        LilvPluginHost host(world, patchUri("envelope-vca-osc", "midi"), {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl("release", 0.3f);
        host.setControl("level", -6.0f);
        const auto outputs = host.run(play.length, fixedBlocks(block), midiOf(play), {}, [&](int64_t start) {
            for (const Play::Change& change : play.changes)
                if (change.frame == start) host.setControl(change.control, static_cast<float>(change.user));
        });
        EXPECT_EQ(firstDifference(outputs.at("out"), expected), "");
    }
}

TEST(Lv2Patch, TheEffectPluginFeedsThePatchsFreeAudioInput) {
    ScratchFolder folder;
    const std::string patchPath = testPatch("envelope-on-input");
    const std::string bundle = writeBundle(folder, patchPath);
    Play play;
    play.length = 30000;
    play.controls = {{"release", 0.05}, {"level", -6.0}};
    play.notes = {{500, 12000, 60, 127}, {20000, -1, 60, 127}};
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> input(static_cast<size_t>(play.length));
    for (float& sample : input) sample = noise(generator);
    play.inputs = {{"vca.input", input}};
    const std::vector<float> expected = rendered(folder, patchPath, play);
    ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 0.1f);

    const Lv2World world({bundle});
    EXPECT_NE(world.plugin(patchUri("envelope-on-input", "midi")), nullptr);
    for (const auto& [name, schedule] : schedules()) {
        SCOPED_TRACE("blocks " + name);
        LilvPluginHost host(world, patchUri("envelope-on-input", "effect"), {});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        host.setControl("release", 0.05f);
        host.setControl("level", -6.0f);
        const auto outputs = host.run(play.length, schedule, midiOf(play), {{"vca_input", input}});
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

TEST(KvxLv2Patch, APatchOfVoicesIsAnInstrumentPluginInPlaceOfTheMidiOne) {
    ScratchFolder folder;
    writeFile(folder.path("poly.kvxpatch.json"), R"({"format": 1, "voices": 3, "name": "Three voices",
      "modules": [{"name": "env", "module": "adsr"}], "outputs": [{"name": "out", "from": "env.output"}],
      "notes": {"gate": "env.gate"}})");
    const ToolRun run = runKvx({"lv2", folder.path("poly.kvxpatch.json"), "--out", folder.path("poly.lv2")},
                               toolEnvironment());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(patchUri("poly", "instrument") + "  Three voices (instrument)"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find(patchUri("poly", "midi")), std::string::npos) << run.out;
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
    ASSERT_EQ(bundled.graph.modules.size(), original.graph.modules.size());
    for (size_t m = 0; m < original.graph.modules.size(); ++m) {
        EXPECT_EQ(fs::path(bundled.graph.modules[m].libraryPath).parent_path(), fs::path(bundle));
        EXPECT_EQ(bundled.graph.modules[m].id, original.graph.modules[m].id);
        ASSERT_EQ(bundled.graph.modules[m].pins.size(), original.graph.modules[m].pins.size());
        for (size_t p = 0; p < original.graph.modules[m].pins.size(); ++p)
            EXPECT_EQ(bundled.graph.modules[m].pins[p].initial, original.graph.modules[m].pins[p].initial);
    }
    EXPECT_EQ(bundled.name, original.name);
}

}  // namespace
}  // namespace kvx::test
