// SPDX-License-Identifier: MIT
// kvx render PATCH --midi FILE.mid through the built tool: MIDI files written here with libsmf
// (format 0 and 1, a tempo change, a chord at tick 0 past the voices, the pedal case, a bend,
// velocity 0, events at one tick in both orders) against host::Instrument driven directly with
// the events at sample positions worked out by hand from the ticks and tempi; the same bits at
// every --block; the demo on the example instrument; the default length; and what --midi refuses, in one line.
#include <gtest/gtest.h>
#include <smf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/patch_instrument.h"
#include "tests/host/instrument_harness.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

using host::NoteEventKind;

struct MidiMessage {
    int32_t tick;
    std::vector<uint8_t> bytes;
};

constexpr int32_t PPQN = 480;
constexpr int32_t RATE = 48000;
// 120 bpm (500000 us a quarter) to tick 960, then 240 bpm: 50 samples a tick, then 25.
int64_t sampleOfTick(int32_t tick) { return tick < 960 ? tick * 50 : 48000 + (tick - 960) * 25; }

const MidiMessage TEMPO_120{0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}};
const MidiMessage TEMPO_240{960, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}};

// Writes one track per list (one track: format 0, more: format 1).
void writeMidi(const std::string& path, const std::vector<std::vector<MidiMessage>>& tracks) {
    smf_t* smf = smf_new();
    ASSERT_EQ(smf_set_ppqn(smf, PPQN), 0);
    for (std::vector<MidiMessage> messages : tracks) {  // a copy: libsmf takes non-const bytes
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        for (MidiMessage& message : messages) {
            smf_event_t* event =
                smf_event_new_from_pointer(message.bytes.data(), static_cast<int>(message.bytes.size()));
            ASSERT_NE(event, nullptr);
            smf_track_add_event_pulses(track, event, message.tick);
        }
    }
    ASSERT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
}

// Chords at tick 0 beyond the two voices (a steal), the pedal case on key 72 ("on, pedal down,
// off, the same key on, pedal up": still sounding), a bend, a velocity-0 off, and an off and an
// on of one key at one tick in both orders; the tempo changes at tick 960.
const std::vector<MidiMessage> NOTES = {
    {0, {0x90, 60, 100}},   {0, {0x90, 64, 90}},       {0, {0x91, 67, 80}},    {300, {0x80, 60, 0}},
    {300, {0x90, 64, 0}},   {400, {0x90, 72, 127}},    {500, {0xB0, 64, 127}}, {600, {0x80, 72, 0}},
    {700, {0x90, 72, 110}}, {800, {0xE0, 0x00, 0x60}}, {900, {0xB0, 64, 0}},   {1000, {0x90, 50, 70}},
    {1100, {0x80, 50, 0}},  {1100, {0x90, 50, 60}},    {1200, {0x90, 55, 70}}, {1200, {0x80, 55, 0}},
    {1300, {0xB0, 7, 20}},  // a controller the instrument ignores
};
// The same, as the instrument takes them, at the samples the tempo map gives.
std::vector<Played> expectedEvents() {
    const auto at = [](int32_t tick, NoteEventKind kind, uint8_t key, float value) {
        return Played{sampleOfTick(tick), host::NoteEvent{0, kind, key, value}};
    };
    using K = NoteEventKind;
    return {at(0, K::NoteOn, 60, 100 / 127.0f),   at(0, K::NoteOn, 64, 90 / 127.0f),
            at(0, K::NoteOn, 67, 80 / 127.0f),    at(300, K::NoteOff, 60, 0.0f),
            at(300, K::NoteOff, 64, 0.0f),        at(400, K::NoteOn, 72, 1.0f),
            at(500, K::Sustain, 0, 1.0f),         at(600, K::NoteOff, 72, 0.0f),
            at(700, K::NoteOn, 72, 110 / 127.0f), at(800, K::PitchBend, 0, 0.5f),
            at(900, K::Sustain, 0, 0.0f),         at(1000, K::NoteOn, 50, 70 / 127.0f),
            at(1100, K::NoteOff, 50, 0.0f),       at(1100, K::NoteOn, 50, 60 / 127.0f),
            at(1200, K::NoteOn, 55, 70 / 127.0f), at(1200, K::NoteOff, 55, 0.0f)};
}

std::vector<std::string> modulePathEnvironment() {
    return {"KVX_PATH=" + std::filesystem::path(testModulePath("VCA")).parent_path().string()};
}

// The example patch with two voices.
std::string twoVoicePatch(const ScratchFolder& folder) {
    std::string text = readFile(KVX_EXAMPLE_PATCH);
    text.replace(text.find("\"format\": 1,"), 12, "\"format\": 1, \"voices\": 2,");
    const std::string path = folder.path("two.kvxpatch.json");
    writeFile(path, text);
    return path;
}

ToolRun render(const std::string& patch, const std::string& midi, const std::string& out,
               const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"render", patch, "--midi", midi, "--out", out};
    args.insert(args.end(), more.begin(), more.end());
    return runKvx(args, modulePathEnvironment());
}

TEST(MidiRender, PlaysTheFileAsTheInstrumentPlaysItsEventsAtEveryBlockSize) {
    ScratchFolder folder;
    const std::string patch = twoVoicePatch(folder);
    const int64_t length = sampleOfTick(1400) + 200;
    const std::string lengthFlag = std::to_string(length) + "smp";
    auto instrument = patch::makeInstrument(examplePatch(), RATE, 1, 2);
    const std::vector<float> expected = play(*instrument, expectedEvents(), std::vector<int32_t>(length, 1));
    EXPECT_GE(instrument->stats().steals, 1);
    EXPECT_GT(std::fabs(expected.back()), 1e-3f) << "key 72, held again under the pedal, sounds to the end";

    std::vector<MidiMessage> format0 = {TEMPO_120};
    format0.insert(format0.end(), NOTES.begin(), NOTES.end());
    format0.insert(format0.begin() + 12, TEMPO_240);  // in tick order, after tick 900
    writeMidi(folder.path("f0.mid"), {format0});
    writeMidi(folder.path("f1.mid"), {{TEMPO_120, TEMPO_240}, NOTES});
    struct Case {
        const char* file;
        std::vector<std::string> flags;
    } cases[] = {{"f1.mid", {}},
                 {"f0.mid", {}},
                 {"f1.mid", {"--block", "1"}},
                 {"f1.mid", {"--block", "4096"}},
                 {"f1.mid", {"--block", "random", "--seed", "3"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.flags.empty() ? "" : " " + c.flags[0] + " " + c.flags[1]));
        std::vector<std::string> flags = c.flags;
        flags.insert(flags.end(), {"--length", lengthFlag});
        const ToolRun run = render(patch, folder.path(c.file), folder.path("out.wav"), flags);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(readWav(folder.path("out.wav")).samples == expected);
    }
}

TEST(MidiRender, LastsToTheFilesEndPlusTheLongestRelease) {
    ScratchFolder folder;
    const std::string patch = twoVoicePatch(folder);
    // The example's release is its "release" control's default, 300 ms: 14400 samples.
    writeMidi(folder.path("one.mid"), {{{0, {0x90, 69, 100}}, {480, {0x80, 69, 0}}}});
    ASSERT_EQ(render(patch, folder.path("one.mid"), folder.path("one.wav")).status, 0);
    const std::vector<float> one = readWav(folder.path("one.wav")).samples;
    ASSERT_EQ(one.size(), 24000u + 14400u);
    // The release sounds past the note's end and is over, exactly 0, by the end of the render.
    const auto last = std::find_if(one.rbegin(), one.rend(), [](float v) { return v != 0.0f; });
    const auto lastSounding = static_cast<int64_t>(one.rend() - last) - 1;
    EXPECT_GT(lastSounding, 24000 + 14400 / 2);
    EXPECT_LT(lastSounding, 24000 + 14400);
    // A file of no events is the release's silence.
    writeMidi(folder.path("empty.mid"), {{}});
    ASSERT_EQ(render(patch, folder.path("empty.mid"), folder.path("empty.wav")).status, 0);
    const std::vector<float> empty = readWav(folder.path("empty.wav")).samples;
    EXPECT_EQ(empty.size(), 14400u);
    EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](float v) { return v == 0.0f; }));
}

TEST(MidiRender, TheDemoPlaysOnTheExampleInstrumentAlikeAtEveryBlockSize) {
    ScratchFolder folder;
    const std::string patch = std::string(KVX_EXAMPLE_PATCHES) + "/instrument.kvxpatch.json";
    const ToolRun run = render(patch, KVX_DEMO_MIDI, folder.path("a.wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("voices         16"), std::string::npos) << run.out;
    const std::vector<float> demo = readWav(folder.path("a.wav")).samples;
    EXPECT_GT(*std::max_element(demo.begin(), demo.end()), 0.3f);
    ASSERT_EQ(render(patch, KVX_DEMO_MIDI, folder.path("b.wav"), {"--block", "random", "--seed", "5"}).status, 0);
    EXPECT_TRUE(readWav(folder.path("b.wav")).samples == demo);
}

TEST(MidiRender, RefusesWhatItCannotPlayInOneLine) {
    ScratchFolder folder;
    const std::string patch = twoVoicePatch(folder);
    writeMidi(folder.path("good.mid"), {NOTES});
    const std::string good = readFile(folder.path("good.mid"));
    writeFile(folder.path("truncated.mid"), good.substr(0, good.size() - 9));
    std::string shortTrack = good;  // the track's end-of-track event cut off, its length to match
    shortTrack.resize(shortTrack.size() - 3);
    shortTrack[21] = static_cast<char>(shortTrack[21] - 3);
    writeFile(folder.path("short.mid"), shortTrack);
    writeFile(folder.path("zero.mid"), "");
    writeFile(folder.path("text.mid"), "MThd is not enough\n");
    writeFile(folder.path("silent.kvxpatch.json"),
              R"({"format": 1, "modules": [{"name": "vca", "module": "vca"}], )"
              R"("outputs": [{"name": "out", "from": "vca.output"}]})");
    struct Case {
        const char* name;
        std::string target, midi, says;
    } cases[] = {
        {"a truncated file", patch, "truncated.mid", "truncated.mid: not a Standard MIDI File"},
        {"a track without its end", patch, "short.mid", "short.mid: not a Standard MIDI File"},
        {"an empty file", patch, "zero.mid", "zero.mid: not a Standard MIDI File"},
        {"text", patch, "text.mid", "text.mid: not a Standard MIDI File"},
        {"a missing file", patch, "missing.mid", "missing.mid: not a Standard MIDI File"},
        {"a patch without notes", folder.path("silent.kvxpatch.json"), "good.mid", "has no \"notes\""},
        {"a module", testModulePath("VCA"), "good.mid", "--midi plays a patch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = render(c.target, folder.path(c.midi), folder.path("x.wav"));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    const ToolRun withScore = render(patch, folder.path("good.mid"), folder.path("x.wav"), {"--note", "0:1"});
    EXPECT_EQ(withScore.status, 1);
}

}  // namespace
}  // namespace kvx::test
