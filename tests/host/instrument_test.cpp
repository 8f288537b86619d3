// SPDX-License-Identifier: MIT
// host::Instrument playing the example patch (oscillator -> VCA <- envelope) through the built
// modules: steals without a jump, a free voice's note the same on any voice after anything, the
// sustain pedal's orders, the off messages, the same bits at any block size, an idle instrument
// that calls nothing; and MIDI bytes as note events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/midi_note_event.h"
#include "patch/patch_instrument.h"
#include "tests/host/instrument_harness.h"
#include "tests/host/patch_harness.h"

namespace kvx::test {
namespace {

using host::NoteEventKind;
using host::VoicePhase;

constexpr float SINE = 0.0f;

std::vector<int32_t> ones(int64_t length) { return std::vector<int32_t>(static_cast<size_t>(length), 1); }

bool allFree(const host::Instrument& instrument) {
    for (int32_t v = 0; v < instrument.voiceCount(); ++v)
        if (instrument.voice(v).phase != VoicePhase::Free) return false;
    return true;
}

float peak(const std::vector<float>& out, int64_t from, int64_t to) {
    float most = 0.0f;
    for (int64_t i = from; i < to; ++i) most = std::max(most, std::fabs(out[static_cast<size_t>(i)]));
    return most;
}

TEST(Instrument, AStealChangesTheOutputNoMoreThanTheModulesDoInASample) {
    // A sine, so that a phase reset or a restart from 0 would stand far above a sample's change.
    struct Case {
        const char* name;
        int32_t voices;
        std::vector<Played> score;
        int64_t at;  // the note that takes a sounding voice
        int32_t voice;
    } cases[] = {
        {"a held voice", 1, {noteOn(100, 60), noteOn(6000, 67)}, 6000, 0},
        {"a released voice", 1, {noteOn(100, 60), noteOff(3000, 60), noteOn(6000, 64)}, 6000, 0},
        {"its own key, released", 2, {noteOn(100, 60), noteOff(3000, 60), noteOn(5000, 60)}, 5000, 0},
        {"the oldest held", 2, {noteOn(100, 60), noteOn(200, 64), noteOn(6000, 67)}, 6000, 0},
        {"the released before the older held",
         2,
         {noteOn(100, 60), noteOn(200, 64), noteOff(3000, 64), noteOn(6000, 67)},
         6000,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto instrument = exampleInstrument(c.voices, SINE);
        const std::vector<float> out = play(*instrument, c.score, blockSizes(12000, 64));
        EXPECT_EQ(instrument->voice(c.voice).key, c.score.back().event.key);
        EXPECT_EQ(instrument->voice(c.voice).phase, VoicePhase::Held);
        float ownChange = 0.0f;
        for (size_t i = 1; i < out.size(); ++i)
            if (static_cast<int64_t>(i) != c.at)
                ownChange = std::max(ownChange, std::fabs(out[i] - out[i - 1]));
        const auto at = static_cast<size_t>(c.at);
        EXPECT_GT(std::fabs(out[at - 1]), 0.01f);  // the stolen voice was sounding
        EXPECT_LE(std::fabs(out[at] - out[at - 1]), ownChange);
    }
}

TEST(Instrument, AFreeVoicesNoteSoundsTheSameOnAnyVoiceAfterAnything) {
    constexpr int64_t LENGTH = 24000;  // the note, its release and its rest
    auto fresh = exampleInstrument(3);
    std::vector<std::vector<float>> reference;
    play(*fresh, {noteOn(0, 64, 0.7f), noteOff(4000, 64)}, ones(LENGTH), &reference);
    ASSERT_GT(peak(reference[0], 0, LENGTH), 0.1f);

    struct Case {
        const char* name;
        std::vector<Played> before;  // what the voices play first
        int64_t at;
        int32_t voice;
    } cases[] = {
        {"voice 1, voice 0 held", {noteOn(0, 60)}, 1000, 1},
        {"voice 0 again, after a louder bent note",
         {noteOn(0, 50, 1.0f), control(100, NoteEventKind::PitchBend, 0.5f), noteOff(2000, 50),
          control(2500, NoteEventKind::PitchBend, 0.0f)},
         30000,
         0},
        {"voice 1 again, voice 0 held", {noteOn(0, 60), noteOn(100, 50, 1.0f), noteOff(2000, 50)}, 30000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto instrument = exampleInstrument(3);
        std::vector<Played> score = c.before;
        score.push_back(noteOn(c.at, 64, 0.7f));
        score.push_back(noteOff(c.at + 4000, 64));
        std::vector<std::vector<float>> voices;
        play(*instrument, score, ones(c.at + LENGTH), &voices);
        const std::vector<float>& played = voices[static_cast<size_t>(c.voice)];
        EXPECT_TRUE(std::equal(reference[0].begin(), reference[0].end(), played.begin() + c.at));
        EXPECT_EQ(instrument->voice(c.voice).phase, VoicePhase::Free);
    }
}

TEST(Instrument, TheSustainPedalHoldsReleasedNotesUntilItGoesUp) {
    const auto down = [](int64_t at) { return control(at, NoteEventKind::Sustain, 1.0f); };
    const auto up = [](int64_t at) { return control(at, NoteEventKind::Sustain, 0.0f); };
    struct Case {
        const char* name;
        std::vector<Played> score;
        bool sounding;
    } cases[] = {
        {"on, down, off, on again, up",
         {noteOn(0, 60), down(100), noteOff(200, 60), noteOn(300, 60), up(400)},
         true},
        {"on, down, off, up", {noteOn(0, 60), down(100), noteOff(200, 60), up(400)}, false},
        {"on, down, off, on, off, up",
         {noteOn(0, 60), down(100), noteOff(200, 60), noteOn(300, 60), noteOff(350, 60), up(400)},
         false},
        {"up and on at one sample",
         {noteOn(0, 60), down(100), noteOff(200, 60), up(300), noteOn(300, 60)},
         true},
        {"on and up at one sample",
         {noteOn(0, 60), down(100), noteOff(200, 60), noteOn(300, 60), up(300)},
         true},
        {"off and up at one sample", {noteOn(0, 60), down(100), noteOff(200, 60), up(200)}, false},
        {"down before the note, never up", {down(0), noteOn(100, 60), noteOff(200, 60)}, true},
        {"down twice, up once", {down(0), noteOn(100, 60), down(150), noteOff(200, 60), up(300)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto instrument = exampleInstrument(4);
        const std::vector<float> out = play(*instrument, c.score, blockSizes(48000, 0, 7));
        if (c.sounding) {
            EXPECT_GT(peak(out, 47000, 48000), 0.05f);
            const VoicePhase phase = instrument->voice(0).phase;
            EXPECT_TRUE(phase == VoicePhase::Held || phase == VoicePhase::Sustained);
        } else {
            EXPECT_EQ(peak(out, 47000, 48000), 0.0f);
            EXPECT_TRUE(allFree(*instrument));
        }
    }
}

host::NoteEvent midi(std::vector<uint8_t> bytes) {
    const std::optional<host::NoteEvent> event = host::noteEventFromMidi(bytes, 0);
    EXPECT_TRUE(event.has_value());
    return event.value_or(host::NoteEvent{});
}

TEST(Instrument, AllNotesOffAllSoundOffAndResetLeaveNothingSounding) {
    constexpr int64_t AT = 5000;
    // Held notes, a sustained one, a bend and the pedal down when the message comes.
    const std::vector<Played> before = {
        noteOn(0, 60),  noteOn(10, 64),  control(20, NoteEventKind::Sustain, 1.0f),
        noteOn(30, 67), noteOff(40, 67), control(50, NoteEventKind::PitchBend, 1.0f)};
    struct Case {
        const char* name;
        host::NoteEvent message;
        bool cut;  // silent from the message on, rather than after the release
    } cases[] = {
        {"all notes off (CC 123)", midi({0xB3, 123, 0}), false},
        {"all sound off (CC 120)", midi({0xB0, 120, 0}), true},
        {"reset", host::NoteEvent{0, NoteEventKind::Reset}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto instrument = exampleInstrument(4);
        std::vector<Played> score = before;
        score.push_back({AT, c.message});
        const std::vector<float> out = play(*instrument, score, blockSizes(40000, 0, 3));
        EXPECT_EQ(peak(out, 40000 - 100, 40000), 0.0f);
        EXPECT_TRUE(allFree(*instrument));
        if (c.cut)
            EXPECT_EQ(peak(out, AT, 40000), 0.0f);
        else
            EXPECT_GT(peak(out, AT, AT + 100), 0.05f);  // the release
    }

    // After a reset the pedal is up and the bend centred: a note sounds and ends as on a new
    // instrument.
    auto instrument = exampleInstrument(4);
    std::vector<Played> score = before;
    score.push_back({AT, host::NoteEvent{0, NoteEventKind::Reset}});
    score.push_back(noteOn(30000, 60));
    score.push_back(noteOff(32000, 60));
    const std::vector<float> out = play(*instrument, score, blockSizes(60000, 64));
    auto fresh = exampleInstrument(4);
    const std::vector<float> alone = play(*fresh, {noteOn(0, 60), noteOff(2000, 60)}, blockSizes(30000, 64));
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), out.begin() + 30000));
    EXPECT_TRUE(allFree(*instrument));
}

// Chords, overlaps beyond the voices (steals), a note ending and another starting at one
// sample, the pedal, and bends.
std::vector<Played> busyScore() {
    std::vector<Played> score;
    for (int32_t i = 0; i < 40; ++i) {
        const int64_t on = i * 1500 + (i % 3) * 7;
        const auto key = static_cast<uint8_t>(48 + (i * 7) % 24);
        score.push_back(noteOn(on, key, 0.3f + 0.1f * static_cast<float>(i % 7)));
        score.push_back(noteOff(on + 2500 + (i % 5) * 300, key));
        if (i % 4 == 0) score.push_back(noteOn(on, static_cast<uint8_t>(key + 4)));  // a chord
    }
    score.push_back(noteOff(3000, 48));
    score.push_back(noteOn(3000, 48));
    score.push_back(control(20000, NoteEventKind::Sustain, 1.0f));
    score.push_back(control(40000, NoteEventKind::Sustain, 0.0f));
    for (int32_t i = 0; i < 20; ++i)
        score.push_back(control(50000 + i * 500, NoteEventKind::PitchBend, std::sin(static_cast<float>(i))));
    std::stable_sort(score.begin(), score.end(),
                     [](const Played& a, const Played& b) { return a.sample < b.sample; });
    return score;
}

// One key held on voice 0 while voice 1 plays short notes, each after a longer rest than the one
// before: some arrive just after voice 1 falls free, which a block may end well after.
std::vector<Played> freeingScore() {
    std::vector<Played> score = {noteOn(0, 40)};
    int64_t at = 100;
    for (int32_t i = 0; i < 24; ++i) {
        const auto key = static_cast<uint8_t>(70 + i % 5);
        score.push_back(noteOn(at, key));
        score.push_back(noteOff(at + 500, key));
        at += 500 + 9000 + i * 400;
    }
    return score;
}

TEST(Instrument, TheSameNotesGiveTheSameBitsAtEveryBlockSize) {
    struct Case {
        const char* name;
        int32_t voices;
        std::vector<Played> score;
        int64_t length;
        int64_t leastSteals;
    } cases[] = {{"chords, steals, the pedal and bends", 4, busyScore(), 90000, 10},
                 {"notes just after a voice falls free", 2, freeingScore(), 500000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto reference = exampleInstrument(c.voices);
        const std::vector<float> expected = play(*reference, c.score, ones(c.length));
        EXPECT_GT(peak(expected, 0, c.length), 0.3f);
        EXPECT_GE(reference->stats().steals, c.leastSteals);
        for (const int32_t size : {64, INSTRUMENT_MAX_BLOCK, 0}) {
            for (const uint32_t seed : {1u, 2u}) {
                SCOPED_TRACE("blocks of " + std::to_string(size) + ", seed " + std::to_string(seed));
                auto instrument = exampleInstrument(c.voices);
                const std::vector<float> out = play(*instrument, c.score, blockSizes(c.length, size, seed));
                EXPECT_TRUE(out == expected);
                EXPECT_EQ(instrument->stats().steals, reference->stats().steals);
                if (size != 0) break;
            }
        }
    }
}

TEST(Instrument, AnIdleInstrumentCallsNoModule) {
    auto instrument = exampleInstrument(16);
    const std::vector<float> idle = play(*instrument, {}, blockSizes(64 * 2000, 64));
    EXPECT_EQ(instrument->moduleCalls(), 0);
    EXPECT_EQ(instrument->stats().voiceRuns, 0);
    EXPECT_EQ(peak(idle, 0, 64 * 2000), 0.0f);

    // A note and its release, then nothing again: once its voice is free nothing is called.
    const std::vector<float> note =
        play(*instrument, {noteOn(0, 60), noteOff(1000, 60)}, blockSizes(48000, 64));
    EXPECT_GT(peak(note, 0, 48000), 0.1f);
    EXPECT_TRUE(allFree(*instrument));
    const int64_t calls = instrument->moduleCalls();
    const int64_t runs = instrument->stats().voiceRuns;
    play(*instrument, {}, blockSizes(64 * 2000, 64));
    EXPECT_EQ(instrument->moduleCalls(), calls);
    EXPECT_EQ(instrument->stats().voiceRuns, runs);
}

TEST(Instrument, RefusesWhatItCannotPlayBeforeRunningAnything) {
    auto instrument = exampleInstrument(2);
    const host::NoteEvent on{0, NoteEventKind::NoteOn, 60, 1.0f};
    const auto at = [on](int32_t timestamp, uint8_t key = 60) {
        host::NoteEvent event = on;
        event.timestamp = timestamp;
        event.key = key;
        return event;
    };
    struct Case {
        const char* name;
        int32_t count;
        std::vector<host::NoteEvent> events;
    } cases[] = {
        {"a block of -1", -1, {}},
        {"a block past the buffers", INSTRUMENT_MAX_BLOCK + 1, {}},
        {"an event at the block's end", 64, {at(64)}},
        {"events out of order", 64, {at(10), at(9)}},
        {"key 128", 64, {at(0, 128)}},
        {"too many events", 64, std::vector<host::NoteEvent>(513, at(0))},
        {"control 2 of 2", 64, {host::NoteEvent{0, NoteEventKind::Control, 0, 0.5f, 2}}},
        {"control -1", 64, {host::NoteEvent{0, NoteEventKind::Control, 0, 0.5f, -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(instrument->runBlock(c.count, c.events), host::HostError);
        EXPECT_EQ(instrument->moduleCalls(), 0);
    }
    instrument->runBlock(64, std::vector<host::NoteEvent>{at(0), at(63, 127)});  // the edges are fine
    EXPECT_GT(instrument->moduleCalls(), 0);

    // Note pins the patch cannot take: a gate on an audio input, a pitch on a connected one.
    const patch::PatchFile file = examplePatch();
    host::InstrumentNotes gateOnAudio = patch::instrumentNotes(file);
    gateOnAudio.gate.push_back({0, 0});  // osc.frequency
    EXPECT_THROW(host::Instrument(file.graph, gateOnAudio, 2, 48000.0f, 64), host::HostError);
    host::InstrumentNotes pitchOnFed = patch::instrumentNotes(file);
    pitchOnFed.pitch.push_back({2, 1, {}});  // vca.control, which the envelope feeds
    EXPECT_THROW(host::Instrument(file.graph, pitchOnFed, 2, 48000.0f, 64), host::HostError);
    EXPECT_THROW(host::Instrument(file.graph, patch::instrumentNotes(file), 0, 48000.0f, 64), host::HostError);
}

// The example patch's controls through patch::controlEvents: the events of `name` set to `user`.
std::vector<Played> controlSet(const patch::PatchFile& file, const char* name, int64_t sample, double user) {
    const size_t index = static_cast<size_t>(file.control(name) - file.controls.data());
    host::NoteEvent events[4];
    std::vector<Played> played;
    const size_t count = patch::controlEvents(file, index, user, 0, events);
    for (size_t i = 0; i < count; ++i) played.push_back({sample, events[i]});
    return played;
}

std::vector<Played> merged(std::vector<Played> score, const std::vector<Played>& more) {
    score.insert(score.end(), more.begin(), more.end());
    std::stable_sort(score.begin(), score.end(),
                     [](const Played& a, const Played& b) { return a.sample < b.sample; });
    return score;
}

int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) return static_cast<int64_t>(i);
    return -1;
}

TEST(Instrument, AControlReachesEveryVoiceAtItsSampleAndAFreeVoiceWhenItWakes) {
    const patch::PatchFile file = examplePatch();
    const std::vector<Played> chord = {noteOn(100, 60),   noteOn(100, 64),   noteOn(100, 67),
                                       noteOff(9000, 60), noteOff(9000, 64), noteOff(9000, 67)};
    const auto make = [&file] { return patch::makeInstrument(file, 48000.0f, INSTRUMENT_MAX_BLOCK, 4); };
    std::vector<std::vector<float>> plainVoices, louderVoices;
    auto plain = make();
    play(*plain, chord, ones(30000), &plainVoices);
    // The level from -6 dB to 0 dB at sample 4321, with the three notes held and one voice free.
    const std::vector<Played> louder = merged(chord, controlSet(file, "level", 4321, 0.0));
    auto changed = make();
    const std::vector<float> expected = play(*changed, louder, ones(30000), &louderVoices);
    for (size_t v = 0; v < 3; ++v) {
        SCOPED_TRACE("voice " + std::to_string(v));
        ASSERT_EQ(firstDifference(plainVoices[v], louderVoices[v]), 4321);
        // 0 dB against -6 dB: the voice's output doubles, within the float rounding of the VCA.
        EXPECT_NEAR(louderVoices[v][5000], plainVoices[v][5000] * std::pow(10.0, 6.0 / 20.0),
                    1e-5 + 1e-5 * std::fabs(plainVoices[v][5000]));
    }
    EXPECT_EQ(changed->voice(3).phase, VoicePhase::Free);
    EXPECT_EQ(changed->voicePatch(3).stats().calls, 0);  // a free voice is not called for a control
    for (const int32_t size : {64, INSTRUMENT_MAX_BLOCK, 0}) {
        SCOPED_TRACE("blocks of " + std::to_string(size));
        auto instrument = make();
        EXPECT_TRUE(play(*instrument, louder, blockSizes(30000, size)) == expected);
    }

    // Set while every voice is free, the level and the release reach a note that wakes a voice
    // later exactly as if they had been the patch's own start values.
    const std::vector<Played> note = {noteOn(2000, 62), noteOff(5000, 62)};
    auto held = make();
    ASSERT_TRUE(patch::holdControl(*held, file, 1, 0.0));   // "level", 0 dB
    ASSERT_TRUE(patch::holdControl(*held, file, 0, 0.05));  // "release", 50 ms
    const std::vector<float> fromTheStart = play(*held, note, ones(20000));
    EXPECT_FALSE(patch::holdControl(*held, file, 0, 0.3));  // too late once a block has run
    auto woken = make();
    const std::vector<float> out =
        play(*woken,
             merged(note, merged(controlSet(file, "level", 10, 0.0), controlSet(file, "release", 10, 0.05))),
             blockSizes(20000, 0));
    EXPECT_TRUE(out == fromTheStart);
    auto unchanged = make();
    EXPECT_NE(firstDifference(play(*unchanged, note, ones(20000)), fromTheStart), -1);
}

TEST(MidiNoteEvent, ChannelMessagesBecomeNoteEvents) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::optional<NoteEventKind> kind;
        uint8_t key;
        float value;
    } cases[] = {
        {{0x90, 60, 127}, NoteEventKind::NoteOn, 60, 1.0f},
        {{0x9F, 0, 1}, NoteEventKind::NoteOn, 0, 1.0f / 127.0f},  // channel 16, the lowest note and velocity
        {{0x90, 60, 0}, NoteEventKind::NoteOff, 60, 0.0f},        // velocity 0 is a note off
        {{0x85, 127, 64}, NoteEventKind::NoteOff, 127, 0.0f},
        {{0xE0, 0, 0x40}, NoteEventKind::PitchBend, 0, 0.0f},
        {{0xE0, 0, 0}, NoteEventKind::PitchBend, 0, -1.0f},
        {{0xE0, 0x7F, 0x7F}, NoteEventKind::PitchBend, 0, 8191.0f / 8192.0f},
        {{0xB0, 64, 63}, NoteEventKind::Sustain, 0, 0.0f},
        {{0xB0, 64, 64}, NoteEventKind::Sustain, 0, 1.0f},
        {{0xB2, 120, 0}, NoteEventKind::AllSoundOff, 0, 0.0f},
        {{0xB0, 123, 0}, NoteEventKind::AllNotesOff, 0, 0.0f},
        {{0xB0, 7, 100}, std::nullopt, 0, 0.0f},      // another controller
        {{0xC0, 5}, std::nullopt, 0, 0.0f},           // a program change
        {{0x90, 60}, std::nullopt, 0, 0.0f},          // cut short
        {{0x90, 60, 100, 0}, std::nullopt, 0, 0.0f},  // too long
        {{0x90, 0x80, 100}, std::nullopt, 0, 0.0f},   // a status byte where a data byte goes
        {{0xF8, 0, 0}, std::nullopt, 0, 0.0f},
        {{}, std::nullopt, 0, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const std::optional<host::NoteEvent> event = host::noteEventFromMidi(c.bytes, 17);
        ASSERT_EQ(event.has_value(), c.kind.has_value());
        if (!event) continue;
        EXPECT_EQ(event->kind, *c.kind);
        EXPECT_EQ(event->key, c.key);
        EXPECT_EQ(event->value, c.value);
        EXPECT_EQ(event->timestamp, 17);
    }
}

}  // namespace
}  // namespace kvx::test
