// Case 4: the whole single note through the real host and the dlopen'd ADSR.kvx: with the
// SleepingRunner honouring sleep (its buffer keeps the held value while asleep), with a lean host
// honouring sleep (output left alone while asleep), and with a host calling every block.
#include <benchmark/benchmark.h>

#include "bench/host_note.h"

namespace kvx::bench {
namespace {

void hostNote(benchmark::State& state, HostMode mode) {
    HostNote note(mode);
    note.render(nullptr);
    const host::RunnerStats before = note.stats();
    for (auto _ : state) {
        note.render(nullptr);
        benchmark::ClobberMemory();
    }
    const host::RunnerStats& after = note.stats();
    state.counters["samples_per_iter"] = static_cast<double>(noteSamples(SINGLE_NOTE));
    state.counters["blocks_skipped_share"] = static_cast<double>(after.blocksSlept - before.blocksSlept) /
                                             static_cast<double>(after.blocks - before.blocks);
}

void noteSleeping(benchmark::State& state) { hostNote(state, HostMode::SleepingRunner); }
void noteLean(benchmark::State& state) { hostNote(state, HostMode::LeanSleep); }
void noteEveryBlock(benchmark::State& state) { hostNote(state, HostMode::EveryBlock); }

}  // namespace

BENCHMARK(noteSleeping)->Name("note/host_honouring_sleep");
BENCHMARK(noteLean)->Name("note/lean_host_honouring_sleep");
BENCHMARK(noteEveryBlock)->Name("note/host_calling_every_block");

}  // namespace kvx::bench
