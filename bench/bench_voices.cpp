// Case 6: 1024 instances of the dlopen'd module in one process, each a voice playing the
// many-voice note (gate 3 s of every 4 s) from its own random start, through the real host.
// One iteration is one 4 s period; the session is warmed up by one period first.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench/host_note.h"

namespace kvx::bench {
namespace {

const int64_t PERIOD_SAMPLES = secondsToSamples(VOICE_PERIOD);

void runPeriod(std::vector<PeriodicVoice>& voices) {
    for (int64_t block = 0; block < PeriodicVoice::periodBlocks(); ++block)
        for (PeriodicVoice& voice : voices) voice.runBlock(block);
}

void manyVoices(benchmark::State& state, HostMode mode) {
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int64_t> start(0, PERIOD_SAMPLES - 1);
    // The voices' scheduling state side by side, as a host keeps it.
    std::vector<PeriodicVoice> voices;
    voices.reserve(VOICE_COUNT);
    for (int32_t v = 0; v < VOICE_COUNT; ++v) voices.emplace_back(start(random), mode);
    runPeriod(voices);
    int64_t blocks = 0, slept = 0;
    for (auto& voice : voices) {
        blocks -= voice.host.stats().blocks;
        slept -= voice.host.stats().blocksSlept;
    }
    for (auto _ : state) {
        runPeriod(voices);
        benchmark::ClobberMemory();
    }
    for (auto& voice : voices) {
        blocks += voice.host.stats().blocks;
        slept += voice.host.stats().blocksSlept;
    }
    // Seconds of audio per iteration: one period of every voice.
    state.counters["samples_per_iter"] = static_cast<double>(PERIOD_SAMPLES) * VOICE_COUNT;
    state.counters["blocks_skipped_share"] =
        blocks > 0 ? static_cast<double>(slept) / static_cast<double>(blocks) : 0.0;
}

void voicesSleeping(benchmark::State& state) { manyVoices(state, HostMode::SleepingRunner); }
void voicesLean(benchmark::State& state) { manyVoices(state, HostMode::LeanSleep); }
void voicesEveryBlock(benchmark::State& state) { manyVoices(state, HostMode::EveryBlock); }

}  // namespace

BENCHMARK(voicesSleeping)->Name("voices/1024_host_honouring_sleep")->Unit(benchmark::kMillisecond);
BENCHMARK(voicesLean)->Name("voices/1024_lean_host_honouring_sleep")->Unit(benchmark::kMillisecond);
BENCHMARK(voicesEveryBlock)->Name("voices/1024_host_calling_every_block")->Unit(benchmark::kMillisecond);

}  // namespace kvx::bench
