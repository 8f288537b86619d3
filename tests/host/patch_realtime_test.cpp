// SPDX-License-Identifier: MIT
// host::Patch::runBlock and host::Instrument::runBlock allocate nothing, free nothing and take
// no lock, counted by the conformance kit's interposer over thousands of blocks of every size:
// notes, caller streams, chains falling asleep and waking, a loop running sample by sample; and
// an instrument's notes, steals, pedal, bends, off messages and control changes.
#include <gtest/gtest.h>

#include <vector>

#include "conformance/heap_interposer.h"
#include "host/patch.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/host/instrument_harness.h"
#include "tests/host/patch_harness.h"

namespace kvx::test {
namespace {

using host::EventRank;

// env -> sum.a -> vca -> (delayed) sum.b, and env -> vca2.control with the caller's signal on
// vca2's input.
host::PatchGraph busyPatch() {
    return host::PatchGraph{
        "busy",
        {adsrModule("env"), sumModule("sum"), vcaModule("vca", 0.5f), vcaModule("vca2", 0.0f)},
        {{0, adsr::PIN_OUTPUT, 1, 0, false},
         {1, 2, 2, 0, false},
         {2, 3, 1, 1, true},
         {0, adsr::PIN_OUTPUT, 3, 1, false}},
        {{"loop", 1, 2}, {"vca2", 3, 3}}};
}

TEST(PatchRealtime, RunBlockAllocatesNothingAndTakesNoLock) {
    host::Patch patch(busyPatch(), 48000.0f, PATCH_MAX_BLOCK);
    const int32_t sizes[] = {1, 7, 64, 300, 4096, 33, 2, 512};
    // Everything built before counting: a note in most blocks, now and then the caller's input
    // starting or stopping, long quiet stretches in between.
    std::vector<std::vector<host::PatchEvent>> blocks(3000);
    for (size_t b = 0; b < blocks.size(); ++b) {
        const int32_t n = sizes[b % std::size(sizes)];
        const auto at = static_cast<int32_t>((b * 37) % static_cast<size_t>(n));
        if (b % 200 > 40) continue;
        if (b % 3 == 0)
            blocks[b].push_back(
                {0, at, EV_PIN_VALUE, adsr::PIN_GATE, b % 6 == 0 ? 1.0f : 0.0f, EventRank::Note});
        if (b % 6 == 0) blocks[b].push_back({0, at, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f, EventRank::Note});
        if (b % 5 == 0)
            blocks[b].push_back(
                {3, 0, b % 10 == 0 ? EV_STREAM_BEGIN : EV_STREAM_END, 0, 0.0f, EventRank::Stream});
        if (b % 11 == 0) blocks[b].push_back({2, at, EV_PIN_VALUE, 2, -6.0f, EventRank::Change});
    }
    float* signal = patch.input(3, 0);
    ASSERT_NE(signal, nullptr);

    conformance::startCounting();
    for (size_t b = 0; b < blocks.size(); ++b) {
        const int32_t n = sizes[b % std::size(sizes)];
        for (int32_t i = 0; i < n; ++i)
            signal[i] = static_cast<float>((b + static_cast<size_t>(i)) % 97) / 97.0f;
        patch.runBlock(n, blocks[b]);
    }
    const conformance::HeapCounts counts = conformance::stopCounting();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    EXPECT_EQ(counts.lockCalls, 0);
    // The session did what it is meant to: calls, sleep requests, skipped blocks.
    EXPECT_GT(patch.stats().calls, 3000);
    EXPECT_GT(patch.stats().sleepRequests, 0);
    EXPECT_LT(patch.moduleStats(3).blocksCalled, static_cast<int64_t>(blocks.size()));
}

TEST(InstrumentRealtime, RunBlockAllocatesNothingAndTakesNoLock) {
    auto instrument = exampleInstrument(6);
    const int32_t sizes[] = {1, 7, 64, 300, 4096, 33, 2, 512};
    // Everything built before counting: chords beyond the voices (steals), the pedal, bends, now
    // and then all sound off or a reset, and quiet stretches where every voice falls free.
    std::vector<std::vector<host::NoteEvent>> blocks(3000);
    for (size_t b = 0; b < blocks.size(); ++b) {
        const int32_t n = sizes[b % std::size(sizes)];
        if (b % 400 > 250) continue;
        const auto at = static_cast<int32_t>((b * 37) % static_cast<size_t>(n));
        const auto key = static_cast<uint8_t>(40 + (b * 5) % 40);
        auto& events = blocks[b];
        using K = host::NoteEventKind;
        if (b % 2 == 0) events.push_back({at, K::NoteOn, key, 0.7f});
        if (b % 3 == 0) events.push_back({at, K::NoteOff, static_cast<uint8_t>(key - 10), 0.0f});
        if (b % 17 == 0) events.push_back({at, K::Sustain, 0, b % 34 == 0 ? 1.0f : 0.0f});
        if (b % 5 == 0) events.push_back({at, K::PitchBend, 0, static_cast<float>(b % 11) / 10.0f - 0.5f});
        if (b % 97 == 0) events.push_back({at, b % 194 == 0 ? K::AllSoundOff : K::Reset, 0, 0.0f});
        if (b % 89 == 0) events.push_back({at, K::AllNotesOff, 0, 0.0f});
        // The patch's controls (release, level), now and then while every voice is free.
        if (b % 7 == 0)
            events.push_back(
                {at, K::Control, 0, 0.5f + 0.01f * static_cast<float>(b % 50), static_cast<int32_t>(b % 2)});
    }

    conformance::startCounting();
    for (size_t b = 0; b < blocks.size(); ++b) instrument->runBlock(sizes[b % std::size(sizes)], blocks[b]);
    const conformance::HeapCounts counts = conformance::stopCounting();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    EXPECT_EQ(counts.lockCalls, 0);
    EXPECT_GT(instrument->stats().steals, 10);
    EXPECT_GT(instrument->moduleCalls(), 3000);
}

}  // namespace
}  // namespace kvx::test
