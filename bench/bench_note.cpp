// SPDX-License-Identifier: MIT
// Case 4: the whole single note through the real host and the dlopen'd ADSR.kvx: our host
// library's VoicePool (one voice) honouring sleep and calling every block, the SleepingRunner
// that kvx render uses, and a lean host honouring sleep (output left alone while asleep).
#include <benchmark/benchmark.h>

#include "bench/host_note.h"

namespace kvx::bench {
namespace {

void hostNote(benchmark::State& state, HostMode mode) {
    HostNote note(mode);
    note.render(nullptr);
    const BlockCounts before = note.counts();
    for (auto _ : state) {
        note.render(nullptr);
        benchmark::ClobberMemory();
    }
    const BlockCounts after = note.counts();
    state.counters["samples_per_iter"] = static_cast<double>(noteSamples(SINGLE_NOTE));
    state.counters["blocks_skipped_share"] = 1.0 - static_cast<double>(after.called - before.called) /
                                                       static_cast<double>(after.blocks - before.blocks);
}

void notePool(benchmark::State& state) { hostNote(state, HostMode::Pool); }
void noteLean(benchmark::State& state) { hostNote(state, HostMode::LeanSleep); }
void noteEveryBlock(benchmark::State& state) { hostNote(state, HostMode::PoolEveryBlock); }
void noteRunner(benchmark::State& state) { hostNote(state, HostMode::SleepingRunner); }

}  // namespace

BENCHMARK(notePool)->Name("note/host_honouring_sleep");
BENCHMARK(noteLean)->Name("note/lean_host_honouring_sleep");
BENCHMARK(noteEveryBlock)->Name("note/host_calling_every_block");
BENCHMARK(noteRunner)->Name("note/sleeping_runner");

}  // namespace kvx::bench
