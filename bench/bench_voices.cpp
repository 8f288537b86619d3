// SPDX-License-Identifier: MIT
// Case 6: 64, 256, 1024 and 4096 instances of the dlopen'd module in one process, each a voice
// playing the many-voice note (gate 3 s of every 4 s) from its own random start: through our
// host library's VoicePool (honouring sleep, and calling every block), and through the lean
// host, one instance of its own per voice. One iteration is one 4 s period; the session is
// warmed up by one period first.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/host_note.h"
#include "bench/voice_session.h"

namespace kvx::bench {
namespace {

const int64_t PERIOD_SAMPLES = secondsToSamples(VOICE_PERIOD);

void reportSession(benchmark::State& state, int64_t voiceCount, int64_t voiceBlocks, int64_t calls) {
    state.counters["voices"] = static_cast<double>(voiceCount);
    state.counters["samples_per_iter"] = static_cast<double>(PERIOD_SAMPLES * voiceCount);
    state.counters["blocks_skipped_share"] =
        voiceBlocks > 0 ? 1.0 - static_cast<double>(calls) / static_cast<double>(voiceBlocks) : 0.0;
}

void poolVoices(benchmark::State& state, bool honourSleep) {
    const int32_t count = static_cast<int32_t>(state.range(0));
    PoolSession session(randomStarts(count), honourSleep);
    session.runPeriod();
    const host::VoicePoolStats before = session.pool().stats();
    for (auto _ : state) {
        session.runPeriod();
        benchmark::ClobberMemory();
    }
    const host::VoicePoolStats& after = session.pool().stats();
    reportSession(state, count, (after.blocks - before.blocks) * count, after.calls - before.calls);
}

void leanVoices(benchmark::State& state) {
    const int32_t count = static_cast<int32_t>(state.range(0));
    // The voices' scheduling state side by side, as a host keeps it.
    std::vector<PeriodicVoice> voices;
    voices.reserve(static_cast<size_t>(count));
    for (int64_t start : randomStarts(count)) voices.emplace_back(start, HostMode::LeanSleep);
    auto runPeriod = [&voices] {
        for (int64_t block = 0; block < PeriodicVoice::periodBlocks(); ++block)
            for (PeriodicVoice& voice : voices) voice.runBlock(block);
    };
    runPeriod();
    BlockCounts before;
    for (const PeriodicVoice& voice : voices) {
        before.blocks += voice.host.counts().blocks;
        before.called += voice.host.counts().called;
    }
    for (auto _ : state) {
        runPeriod();
        benchmark::ClobberMemory();
    }
    BlockCounts after;
    for (const PeriodicVoice& voice : voices) {
        after.blocks += voice.host.counts().blocks;
        after.called += voice.host.counts().called;
    }
    reportSession(state, count, after.blocks - before.blocks, after.called - before.called);
}

void voicesPool(benchmark::State& state) { poolVoices(state, true); }
void voicesPoolEveryBlock(benchmark::State& state) { poolVoices(state, false); }

}  // namespace

BENCHMARK(voicesPool)
    ->Name("voices/host_honouring_sleep")
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(leanVoices)
    ->Name("voices/lean_host_honouring_sleep")
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(voicesPoolEveryBlock)
    ->Name("voices/host_calling_every_block")
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);

}  // namespace kvx::bench
