// SPDX-License-Identifier: MIT
// Patches through the built tool, as a person runs it: every example patch rendered, the same bits
// at every block schedule; a patch of one module against `kvx render` of that module, bit for bit
// (controls through each pin's own mapping, a control on two pins, notes, a control change, an
// audio input fed from a file); a control set outside its range; kvx info and kvx validate of a
// patch; and bad patches refused by render, info and validate with the reader's one line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

// Where the example modules (the VCA, the oscillator) are found by symbol.
std::vector<std::string> modulePathEnvironment() {
    return {"KVX_PATH=" + std::filesystem::path(testModulePath("VCA")).parent_path().string()};
}

ToolRun kvx(const std::vector<std::string>& args) { return runKvx(args, modulePathEnvironment()); }

std::string examplePatch(const std::string& name) {
    return std::string(KVX_EXAMPLE_PATCHES) + "/" + name + ".kvxpatch.json";
}

// kvx render of `target` (a patch or a library) with `args`; the WAV's samples.
std::vector<float> rendered(const ScratchFolder& folder, const std::string& target,
                            std::vector<std::string> args) {
    static int count = 0;
    const std::string out = folder.path("r" + std::to_string(++count) + ".wav");
    args.insert(args.begin(), {"render", target});
    args.insert(args.end(), {"--out", out});
    const ToolRun run = kvx(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return readWav(out).samples;
}

float peak(const std::vector<float>& samples) {
    float high = 0.0f;
    for (float v : samples) high = std::max(high, std::fabs(v));
    return high;
}

TEST(PatchRender, EveryExamplePatchGivesTheSameBitsAtEveryBlockSchedule) {
    ScratchFolder folder;
    for (const char* name : {"envelope-vca-osc", "envelope-frequency", "feedback-loop"}) {
        SCOPED_TRACE(name);
        const std::string patch = examplePatch(name);
        // The default score: one note, a second long, then a second of release.
        const std::vector<float> reference = rendered(folder, patch, {"--block", "64"});
        ASSERT_EQ(reference.size(), 96000u);
        EXPECT_GT(peak(reference), 0.1f) << "the note should sound";
        for (const std::vector<std::string>& blocks : {std::vector<std::string>{"--block", "1"},
                                                       {"--block", "7"},
                                                       {"--block", "4096"},
                                                       {"--block", "random", "--seed", "1"},
                                                       {"--block", "random", "--seed", "9"}}) {
            SCOPED_TRACE(blocks[1] + (blocks.size() > 2 ? " seed " + blocks[3] : ""));
            EXPECT_EQ(rendered(folder, patch, blocks), reference);
        }
    }
}

long long sleptBlocks(const std::string& report, const std::string& module) {
    const std::string line = module + std::string(15 - module.size(), ' ') + "called in ";
    const size_t at = report.find(line);
    if (at == std::string::npos) return -1;
    const size_t slept = report.find("slept through ", at);
    return slept == std::string::npos ? -1 : std::atoll(report.c_str() + slept + 14);
}

TEST(PatchRender, TablesFiguresAndEachModulesSleepAreReported) {
    ScratchFolder folder;
    const ToolRun run = kvx({"render", examplePatch("envelope-vca-osc"), "--csv", folder.path("t.csv"),
                             "--plot", folder.path("f.svg")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string csv = readFile(folder.path("t.csv"));
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "sample,time_s,out,gate");
    EXPECT_NE(readFile(folder.path("f.svg")).find("<svg"), std::string::npos);
    // The envelope holds its sustain and then 0 after its release: it sleeps; the oscillator
    // never stands still.
    EXPECT_GT(sleptBlocks(run.out, "env"), 0) << run.out;
    EXPECT_EQ(sleptBlocks(run.out, "osc"), 0) << run.out;
}

// One module alone in a patch, rendered as a patch and as the module, with the same settings.
TEST(PatchRender, APatchOfOneModuleEqualsKvxRenderOfThatModule) {
    ScratchFolder folder;
    const std::string source = folder.path("source.wav");
    std::vector<float> wave(9600);
    for (size_t n = 0; n < wave.size(); ++n)
        wave[n] = static_cast<float>(0.7 * std::sin(0.01 * static_cast<double>(n)));
    ASSERT_TRUE(writeWav(source, wave, 48000));
    const std::string envelopePatch = R"({"format": 1,
      "modules": [{"name": "env", "module": "adsr", "values": {"sustain": 0.3}}],
      "outputs": [{"name": "out", "from": "env.output"}],
      "controls": [{"name": "times", "pins": ["env.attack", "env.decay"]},
                   {"name": "release", "pins": "env.release"}],
      "notes": {"gate": "env.gate", "trigger": "env.trigger"}})";
    // The release changes at 0.5 s: a control event in the patch's score, a jump in the module's.
    writeFile(folder.path("patch-score.json"),
              R"({"events": [{"at": "0.5s", "pin": "release", "value": "1s"}]})");
    writeFile(folder.path("module-score.json"),
              R"({"automation": {"release": [[0, "300ms"], ["0.5s", "300ms"], ["0.5s", "1s"]]}})");
    const std::string oscillatorPatch = R"({"format": 1,
      "modules": [{"name": "osc", "module": "osc"}],
      "outputs": [{"name": "out", "from": "osc.output"}],
      "controls": [{"name": "frequency", "pins": "osc.frequency"}, {"name": "waveform", "pins": "osc.waveform"}]})";
    const std::string vcaPatch = R"({"format": 1,
      "modules": [{"name": "vca", "module": "vca"}],
      "outputs": [{"name": "out", "from": "vca.output"}],
      "controls": [{"name": "level", "pins": "vca.level"}]})";
    struct Row {
        const char* what;
        std::string patch;
        std::vector<std::string> patchArgs;
        std::string library;
        std::vector<std::string> moduleArgs;
    };
    const std::vector<std::string> notes = {"--note", "0:0.2s", "--note", "0.2s:0.6s", "--length", "1.5s"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Row rows[] = {
        {"envelope: a control on two pins, notes that retrigger", envelopePatch,
         with(notes, {"--set", "times=20ms", "--set", "release=0.3"}), adsrLibraryPath(),
         with(notes, {"--set", "attack=20ms", "--set", "decay=20ms", "--set", "sustain=0.3", "--set",
                      "release=300ms"})},
        {"envelope: the same notes written in the other order",
         envelopePatch,
         {"--note", "0.2s:0.6s", "--note", "0:0.2s", "--length", "1.5s", "--set", "times=20ms"},
         adsrLibraryPath(),
         with(notes, {"--set", "attack=20ms", "--set", "decay=20ms", "--set", "sustain=0.3"})},
        {"envelope: a control change during the note", envelopePatch,
         with(notes, {"--set", "times=5ms", "--score", folder.path("patch-score.json")}), adsrLibraryPath(),
         with(notes, {"--set", "attack=5ms", "--set", "decay=5ms", "--set", "sustain=0.3", "--score",
                      folder.path("module-score.json")})},
        {"oscillator: a frequency through its log mapping",
         oscillatorPatch,
         {"--set", "frequency=1234.5Hz", "--set", "waveform=2", "--length", "4800smp"},
         testModulePath("OSC"),
         {"--set", "frequency=1234.5Hz", "--set", "waveform=2", "--length", "4800smp"}},
        {"VCA: the patch's audio inputs fed from a file and held",
         vcaPatch,
         {"--input", "vca.input=" + source, "--set", "vca.control=0.5", "--set", "level=-6dB"},
         testModulePath("VCA"),
         {"--input", "input=" + source, "--set", "control=0.5", "--set", "level=-6dB"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string patch = folder.path("one.kvxpatch.json");
        writeFile(patch, row.patch);
        const std::vector<float> fromPatch = rendered(folder, patch, row.patchArgs);
        const std::vector<float> fromModule = rendered(folder, row.library, row.moduleArgs);
        ASSERT_FALSE(fromModule.empty());
        EXPECT_GT(peak(fromModule), 0.1f);
        EXPECT_EQ(fromPatch, fromModule);
    }
}

TEST(PatchRender, TheLatestNoteSoundsAndTheEndOfANoteItReplacedChangesNothing) {
    ScratchFolder folder;
    const std::string patch = examplePatch("envelope-vca-osc");
    // The second note starts while the first is held: the first's end at 100 is no end at all,
    // as if the first had ended where the second began.
    const std::vector<float> overlapping = rendered(folder, patch,
                                                    {"--note", "0:100smp", "--note", "50smp:200smp:60:90",
                                                     "--length", "300smp", "--csv", folder.path("gate.csv")});
    const std::vector<float> backToBack =
        rendered(folder, patch, {"--note", "0:50smp", "--note", "50smp:200smp:60:90", "--length", "300smp"});
    EXPECT_EQ(overlapping, backToBack);
    EXPECT_NE(overlapping,
              rendered(folder, patch, {"--note", "0:100smp", "--note", "50smp:200smp", "--length", "300smp"}))
        << "the key reaches the oscillator";
    const std::string csv = readFile(folder.path("gate.csv"));
    auto gateAt = [&csv](int sample) {  // the row's last column
        const size_t row = csv.find("\n" + std::to_string(sample) + ",");
        return row == std::string::npos ? '?' : csv[csv.find('\n', row + 1) - 1];
    };
    EXPECT_EQ(gateAt(100), '1');
    EXPECT_EQ(gateAt(199), '1');
    EXPECT_EQ(gateAt(200), '0');
}

TEST(PatchRender, WrongSettingsAreRefusedNamingTheControl) {
    const std::string patch = examplePatch("envelope-vca-osc");
    struct Row {
        std::vector<std::string> args;
        const char* words;
    };
    const Row rows[] = {
        {{"--set", "attack=5ms"}, "has no input \"attack\" (its inputs: release, level, notes)"},
        {{"--set", "notes=on"}, "the notes are played with --note"},
        // A note's MIDI key 0 to 127 and velocity 1 to 127.
        {{"--note", "0:1s:128"}, "--note 0:1s:128: the key: expected a whole number from 0 to 127"},
        {{"--note", "0:1s:-1"}, "--note 0:1s:-1: the key: expected a whole number from 0 to 127"},
        {{"--note", "0::60:0"}, "--note 0::60:0: the velocity: expected a whole number from 1 to 127"},
        {{"--note", "0:1s:60:128"}, "the velocity: expected a whole number from 1 to 127"},
        {{"--note", "0:1s:60:64:1"}, "--note 0:1s:60:64:1: expected ON:OFF"},
        {{"--score", "@key.json"}, "key.json: notes[0].key: expected a whole number from 0 to 127, got 60.5"},
        {{"--score", "@velocity.json"},
         "velocity.json: notes[0].velocity: expected a whole number from 1 to 127, got 0"},
        {{"--reset", "0.5s"}, "has no reset input"},
        {{"--id", "KV VCA"}, "a patch names its modules itself"},
        {{"--subtype", "1"}, "a patch names its modules itself"},
    };
    ScratchFolder folder;
    writeFile(folder.path("key.json"), R"({"notes": [{"on": 0, "key": 60.5}]})");
    writeFile(folder.path("velocity.json"), R"({"notes": [{"on": 0, "key": 60, "velocity": 0}]})");
    for (const Row& row : rows) {
        std::vector<std::string> args = {"render", patch, "--out", "/dev/null"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (args.back().starts_with("@")) args.back() = folder.path(args.back().substr(1));
        const ToolRun run = kvx(args);
        SCOPED_TRACE(row.args[1]);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(row.words), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    // Just past a bound a control is clamped to it with one warning, as the LV2 plug-in clamps its
    // port: the render equals the render at the bound. (level: -60 dB to 0 dB, the patch narrowing
    // the VCA's +12 dB.)
    const struct {
        const char* past;
        const char* bound;
        const char* words;
    } clamped[] = {
        {"level=0.5dB", "level=0dB", "--set level=0.5dB: 0.5 dB is above the described maximum; 0 dB is sent"},
        {"level=-60.1dB", "level=-60dB", "-60.1 dB is below the described minimum; -60 dB is sent"},
        {"release=11s", "release=10s", "11 s is above the described maximum; 10 s is sent"}};
    for (const auto& row : clamped) {
        const ToolRun past = kvx({"render", patch, "--out", folder.path("past.wav"), "--length", "2000smp",
                                  "--format", "float", "--set", row.past});
        const ToolRun bound = kvx({"render", patch, "--out", folder.path("bound.wav"), "--length", "2000smp",
                                   "--format", "float", "--set", row.bound});
        ASSERT_EQ(past.status, 0) << row.past << ": " << past.err;
        ASSERT_EQ(bound.status, 0) << row.bound << ": " << bound.err;
        EXPECT_NE(past.err.find(row.words), std::string::npos) << past.err;
        EXPECT_EQ(past.err.find('\n'), past.err.size() - 1) << "one line: " << past.err;
        EXPECT_EQ(bound.err, "");
        EXPECT_EQ(readWav(folder.path("past.wav")).samples, readWav(folder.path("bound.wav")).samples)
            << row.past;
    }
    // At the bounds themselves the control is accepted.
    for (const char* setting : {"level=0dB", "level=-60dB", "release=10s", "release=1ms"}) {
        const ToolRun run =
            kvx({"render", patch, "--out", "/dev/null", "--length", "100smp", "--set", setting});
        EXPECT_EQ(run.status, 0) << setting << ": " << run.err;
    }
    for (const char* note : {"0:50smp:0:1", "0::127:127", "0:50smp:69"}) {
        const ToolRun run =
            kvx({"render", patch, "--out", "/dev/null", "--length", "100smp", "--note", note});
        EXPECT_EQ(run.status, 0) << note << ": " << run.err;
    }
}

TEST(PatchInfo, ModulesInRunOrderConnectionsAndControls) {
    const ToolRun loop = kvx({"info", examplePatch("feedback-loop")});
    ASSERT_EQ(loop.status, 0) << loop.err;
    // The envelope feeds the loop, so it runs first although the file lists it second.
    const size_t env = loop.out.find("  env "), osc = loop.out.find("  osc "),
                 amount = loop.out.find("  amount ");
    ASSERT_NE(env, std::string::npos) << loop.out;
    EXPECT_LT(env, osc);
    EXPECT_LT(osc, amount);
    EXPECT_NE(loop.out.find("run one sample per call: osc, amount"), std::string::npos) << loop.out;
    EXPECT_NE(loop.out.find("amount.output     -> osc.frequency  (one-sample delay)"), std::string::npos)
        << loop.out;

    const ToolRun voice = kvx({"info", examplePatch("envelope-vca-osc")});
    ASSERT_EQ(voice.status, 0) << voice.err;
    EXPECT_NE(voice.out.find("level       vca.level               default -6 dB, from -60 dB to 0 dB"),
              std::string::npos)
        << voice.out;
    EXPECT_NE(voice.out.find("trigger     env.trigger, osc.sync"), std::string::npos) << voice.out;
}

TEST(PatchValidate, ExamplesPassAndALibraryThatDisagreesFails) {
    for (const char* name : {"envelope-vca-osc", "envelope-frequency", "feedback-loop"}) {
        const ToolRun run = kvx({"validate", examplePatch(name)});
        EXPECT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_NE(run.out.find("PASS"), std::string::npos) << run.out;
    }
    // A library without a description reads as the envelope (the built-in description), but its
    // factory makes no envelope.
    ScratchFolder folder;
    const std::string patch = folder.path("other.kvxpatch.json");
    writeFile(patch, std::string(R"({"format": 1, "modules": [{"name": "e", "library": ")") +
                         KVX_RENDER_OTHER_MODULE + R"("}], "outputs": [{"name": "o", "from": "e.output"}]})");
    const ToolRun run = kvx({"validate", patch});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("module 'e' (" + std::string(KVX_RENDER_OTHER_MODULE) +
                           "): the factory does not create it"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("FAIL"), std::string::npos);
}

TEST(PatchCommands, BadPatchesGiveTheReadersOneLineAndExitOne) {
    ScratchFolder folder;
    struct Row {
        const char* patch;
        const char* words;
    };
    const Row rows[] = {
        {R"({"format": 1, "modules": [{"name": "v", "module": "vca"}], "outputs": [{"name": "o", "from": "v.gain"}]})",
         "$.outputs[0].from: module 'v' has no output 'gain' (its outputs: output)"},
        {R"({"format": 1, "modules": [{"name": "v", "module": "vca"}, {"name": "w", "module": "vca"}],
             "connections": [{"from": "v.output", "to": "w.input"}, {"from": "w.output", "to": "v.input"}],
             "outputs": [{"name": "o", "from": "w.output"}]})",
         "a loop of connections without a delay: v \u2192 w \u2192 v"},
        {R"({"format": 1, "modules": [{"name": "v", "module": "vca", "values": {"level": "13dB"}}],
             "outputs": [{"name": "o", "from": "v.output"}]})",
         "$.modules[0].values.level: expected a value of 'v.level' from -60 dB to 12 dB"},
        {R"({"format": 1, "modules": [{"name": "v", "module": "nosuch"}], "outputs": []})",
         "$.modules[0].module: no module 'nosuch' along the module path"},
        {R"({"format": 1, "modules": [)", "bad.kvxpatch.json"},
    };
    for (const Row& row : rows) {
        const std::string patch = folder.path("bad.kvxpatch.json");
        writeFile(patch, row.patch);
        for (const char* command : {"render", "info", "validate"}) {
            SCOPED_TRACE(std::string(command) + " " + row.patch);
            const ToolRun plain = std::string(command) == "render"
                                      ? kvx({command, patch, "--out", "/dev/null"})
                                      : kvx({command, patch});
            EXPECT_EQ(plain.status, 1);
            EXPECT_EQ(plain.err.rfind(std::string("kvx ") + command + ": " + patch + ": ", 0), 0u)
                << plain.err;
            EXPECT_NE(plain.err.find(row.words), std::string::npos) << plain.err;
            EXPECT_EQ(plain.err.find('\n'), plain.err.size() - 1) << "one line: " << plain.err;
            EXPECT_TRUE(plain.out.empty()) << plain.out;
        }
    }
}

}  // namespace
}  // namespace kvx::test
