// SPDX-License-Identifier: MIT
// A patch of voices as an LV2 instrument, written by `kvx lv2 PATCH` and played by the lilv host:
// an lv2:InstrumentPlugin whose manifest names only files the bundle holds; its presets listed and
// applied by lilv with the patch file's values; a score of chords, steals, the pedal case and
// pitch bend gives the same bits in runs of 1, 64, 1000, 4096 and random sizes as host::Instrument
// played the same events directly and as kvx render --midi of the score as a MIDI file; controls past their
// bounds or NaN clamp as the ports declare; deactivate and activate mid-note leave silence.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <smf.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "host/midi_note_event.h"
#include "patch/patch_instrument.h"
#include "patch/patch_reader.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/sample_difference.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* URI = "https://kvx.example.org/modules/patches/poly-vca-osc/instrument";

std::string moduleFolder() { return fs::path(testModulePath("VCA")).parent_path().string(); }
std::string patchPath() {
    return std::string(KVX_SOURCE_DIR) + "/tests/lv2/patches/poly-vca-osc.kvxpatch.json";
}

struct Bundle {
    ScratchFolder folder;
    std::string path = folder.path("poly-vca-osc.lv2");
    Bundle() {
        const ToolRun run = runKvx({"lv2", patchPath(), "--out", path, "--quiet"},
                                   {"KVX_PATH=" + moduleFolder() + ":" + buildDir()});
        EXPECT_EQ(run.status, 0) << run.err;
    }
};

// Four voices: a chord, six notes at once (two steals), a bend in the tails, then the pedal case
// (note on, pedal down, note off, the same note on, pedal up) and a note off and on at one frame.
std::vector<MidiAt> score() {
    std::vector<MidiAt> midi{{100, 0x90, 60, 100}, {100, 0x90, 64, 90}, {100, 0x91, 67, 80}};
    for (uint8_t i = 0; i < 6; ++i) midi.push_back(MidiAt{15000 + 100 * i, 0x90, uint8_t(48 + 2 * i), 100});
    midi.push_back(MidiAt{12000, 0x80, 60, 0});
    midi.push_back(MidiAt{12000, 0x90, 64, 0});  // velocity 0: a note off
    midi.push_back(MidiAt{12000, 0x81, 67, 0});
    for (uint8_t i = 0; i < 6; ++i) midi.push_back(MidiAt{24000, 0x80, uint8_t(48 + 2 * i), 0});
    midi.push_back(MidiAt{26000, 0xE0, 0x7F, 0x7F});
    midi.push_back(MidiAt{30000, 0xE0, 0x00, 0x40});
    midi.push_back(MidiAt{45000, 0x90, 72, 100});
    midi.push_back(MidiAt{46000, 0xB0, 64, 127});
    midi.push_back(MidiAt{47000, 0x80, 72, 0});
    midi.push_back(MidiAt{48000, 0x90, 72, 60});
    midi.push_back(MidiAt{49000, 0xB0, 64, 0});
    midi.push_back(MidiAt{70000, 0x80, 72, 0});
    midi.push_back(MidiAt{70000, 0x90, 72, 127});
    midi.push_back(MidiAt{75000, 0xE0, 0x00, 0x00});
    midi.push_back(MidiAt{80000, 0xB0, 123, 0});
    midi.push_back(MidiAt{85000, 0x90, 76, 100});  // an on and an off at one frame
    midi.push_back(MidiAt{85000, 0x80, 76, 0});
    std::stable_sort(midi.begin(), midi.end(),
                     [](const MidiAt& a, const MidiAt& b) { return a.frame < b.frame; });
    return midi;
}
constexpr int64_t LENGTH = 100000;

// host::Instrument of the same patch, played the same messages in blocks of 1000, the controls
// held at the values a host reads from the Turtle (floats).
std::vector<float> direct(const std::vector<MidiAt>& midi) {
    patch::PathModuleSource modules({{moduleFolder(), true}, {buildDir(), true}});
    const patch::PatchFile file = patch::loadPatch(patchPath(), modules);
    auto instrument = patch::makeInstrument(file, 48000.0f, 1000);
    for (size_t c = 0; c < file.controls.size(); ++c)
        patch::holdControl(*instrument, file, c, static_cast<float>(*file.controls[c].range.defaultValue));
    std::vector<float> out;
    size_t next = 0;
    for (int64_t start = 0; start < LENGTH; start += 1000) {
        std::vector<host::NoteEvent> events;
        for (; next < midi.size() && midi[next].frame < start + 1000; ++next) {
            const uint8_t bytes[3] = {midi[next].status, midi[next].data1, midi[next].data2};
            if (auto event = host::noteEventFromMidi(bytes, static_cast<int32_t>(midi[next].frame - start)))
                events.push_back(*event);
        }
        instrument->runBlock(1000, events);
        out.insert(out.end(), instrument->output(0), instrument->output(0) + 1000);
    }
    return out;
}

float peak(const std::vector<float>& samples, int64_t from, int64_t to) {
    float most = 0.0f;
    for (int64_t i = from; i < to; ++i) most = std::max(most, std::fabs(samples[static_cast<size_t>(i)]));
    return most;
}

// The score as a Standard MIDI File written with libsmf: 480 ticks a quarter at the default
// 120 bpm, 50 frames a tick at 48 kHz (every frame of the score is a multiple of 50).
void writeMidi(const std::string& path, const std::vector<MidiAt>& midi) {
    smf_t* smf = smf_new();
    ASSERT_EQ(smf_set_ppqn(smf, 480), 0);
    smf_track_t* track = smf_track_new();
    smf_add_track(smf, track);
    for (const MidiAt& message : midi) {
        ASSERT_EQ(message.frame % 50, 0);
        smf_event_t* event = smf_event_new_from_bytes(message.status, message.data1, message.data2);
        ASSERT_NE(event, nullptr);
        smf_track_add_event_pulses(track, event, static_cast<int>(message.frame / 50));
    }
    ASSERT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
}

bool silent(const std::vector<float>& samples, int64_t from, int64_t to) {
    return std::all_of(samples.begin() + from, samples.begin() + to, [](float s) { return s == 0.0f; });
}

TEST(Lv2Instrument, IsAnInstrumentWhoseManifestNamesOnlyFilesTheBundleHolds) {
    const Bundle bundle;
    std::ifstream manifest(bundle.path + "/manifest.ttl");
    const std::string text((std::istreambuf_iterator<char>(manifest)), std::istreambuf_iterator<char>());
    const std::regex named("(rdfs:seeAlso|lv2:binary) <([^>]*)>");
    int files = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), named); it != std::sregex_iterator();
         ++it, ++files)
        EXPECT_TRUE(fs::is_regular_file(bundle.path + "/" + (*it)[2].str())) << (*it)[2];
    EXPECT_GE(files, 4);  // binary, plug-in data, and presets.ttl for each preset

    const Lv2World world({bundle.path});
    const LilvPlugin* plugin = world.plugin(URI);
    ASSERT_NE(plugin, nullptr);
    LilvNode* type = lilv_new_uri(world.world(), "http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    LilvNode* instrument = lilv_new_uri(world.world(), "http://lv2plug.in/ns/lv2core#InstrumentPlugin");
    LilvNodes* types = lilv_plugin_get_value(plugin, type);
    EXPECT_TRUE(lilv_nodes_contains(types, instrument));
    lilv_nodes_free(types);
    lilv_node_free(instrument);
    lilv_node_free(type);
    EXPECT_EQ(world.plugin("https://kvx.example.org/modules/patches/poly-vca-osc/midi"), nullptr);
}

// Every preset lilv lists for the plug-in, its label and the port values restoring it sets: the
// values the patch file writes, in the ports' units (seconds, dB).
TEST(Lv2Instrument, LilvListsAndAppliesEveryPreset) {
    const Bundle bundle;
    const Lv2World world({bundle.path});
    LilvPluginHost host(world, URI, {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    const PresetValues applied = presetValues(world, host, URI);
    const std::map<std::string, std::map<std::string, float>> expected{
        {"Long and quiet", {{"release", 1.5f}, {"level", -18.0f}}}, {"Short", {{"release", 0.02f}}}};
    EXPECT_EQ(applied, expected);
}

TEST(Lv2Instrument, EveryRunScheduleGivesTheBitsOfTheInstrumentAndOfKvxRenderMidi) {
    const Bundle bundle;
    const Lv2World world({bundle.path});
    const std::vector<MidiAt> midi = score();
    const std::vector<float> expected = direct(midi);
    // The score really sounds: the chord; the pedal case's note at its sustain (0.6 of a saw at
    // -6 dB) long after the pedal went up, where its release would have faded it; nothing after 123.
    EXPECT_FALSE(silent(expected, 5000, 6000));
    EXPECT_NEAR(peak(expected, 68000, 69000), 0.6 * std::pow(10.0, -6.0 / 20.0), 0.02);
    EXPECT_TRUE(silent(expected, 99000, LENGTH));
    struct Schedule {
        const char* name;
        std::function<int32_t(int64_t)> blocks;
        int32_t maxBlock;
    };
    for (const Schedule& schedule :
         {Schedule{"1", fixedBlocks(1), 0}, Schedule{"64", fixedBlocks(64), 64},
          Schedule{"1000", fixedBlocks(1000), 0}, Schedule{"4096", fixedBlocks(4096), 4096},
          Schedule{"4096 in slices", fixedBlocks(4096), 0}, Schedule{"random", randomBlocks(7), 0}}) {
        SCOPED_TRACE(schedule.name);
        LilvPluginHost host(world, URI, {.maxBlock = schedule.maxBlock});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        const std::vector<float> played = host.run(LENGTH, schedule.blocks, midi).at("out");
        EXPECT_EQ(firstDifference(played, expected), "");
    }
    // kvx render --midi of the same score as a MIDI file: the same bits.
    const std::string midiFile = bundle.folder.path("score.mid");
    writeMidi(midiFile, midi);
    const ToolRun run = runKvx({"render", patchPath(), "--midi", midiFile, "--length",
                                std::to_string(LENGTH) + "smp", "--out", bundle.folder.path("score.wav")},
                               {"KVX_PATH=" + moduleFolder() + ":" + buildDir()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(firstDifference(readWav(bundle.folder.path("score.wav")).samples, expected), "");
}

TEST(Lv2Instrument, ControlsClampToTheirPortsRangeAndNanIsTheDefault) {
    const Bundle bundle;
    const Lv2World world({bundle.path});
    const std::vector<MidiAt> midi = score();
    // release 1 ms to 10 s (the envelope's), level up to 0 dB (the patch's).
    const auto play = [&](float release, float level) {
        LilvPluginHost host(world, URI, {});
        EXPECT_NE(host.instance(), nullptr) << host.messages();
        return host
            .run(LENGTH, randomBlocks(3), midi, {},
                 [&](int64_t start) {
                     if (start < 20000) return;
                     host.setControl("release", release);
                     host.setControl("level", level);
                 })
            .at("out");
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> atTop = play(10.0f, 0.0f);
    EXPECT_EQ(firstDifference(play(11.0f, 3.0f), atTop), "");
    EXPECT_EQ(firstDifference(play(std::numeric_limits<float>::infinity(), 0.0f), atTop), "");
    EXPECT_EQ(firstDifference(play(0.0f, -1e9f), play(0.001f, -1e9f)), "");
    EXPECT_EQ(firstDifference(play(nan, nan), play(0.3f, -6.0f)), "");
    EXPECT_NE(firstDifference(play(2.0f, -3.0f), atTop), "");  // a change below the top is heard
}

TEST(Lv2Instrument, DeactivateAndActivateEndEveryNote) {
    const Bundle bundle;
    const Lv2World world({bundle.path});
    LilvPluginHost host(world, URI, {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    const std::vector<float> held =
        host.run(10000, fixedBlocks(256), {{100, 0x90, 60, 100}, {200, 0x90, 67, 100}, {300, 0xB0, 64, 127}})
            .at("out");
    EXPECT_FALSE(silent(held, 9000, 10000));
    lilv_instance_deactivate(host.instance());
    lilv_instance_activate(host.instance());
    EXPECT_TRUE(silent(host.run(20000, fixedBlocks(256)).at("out"), 0, 20000));
    // It plays again afterwards, pedal up.
    const std::vector<float> again =
        host.run(30000, fixedBlocks(256), {{0, 0x90, 60, 100}, {100, 0x80, 60, 0}}).at("out");
    EXPECT_FALSE(silent(again, 0, 1000));
    EXPECT_TRUE(silent(again, 25000, 30000));
}

}  // namespace
}  // namespace kvx::test
