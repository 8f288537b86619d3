// SPDX-License-Identifier: MIT
// The benchmark program: runs the correctness guards, records their figures (moving samples,
// memory per instance, the LV2 plug-ins over block sizes) in the benchmark context, then runs the
// timed cases.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_instrument.h"
#include "bench/bench_lv2.h"
#include "bench/guards.h"

int main(int argc, char** argv) {
    const kvx::bench::GuardFigures figures = kvx::bench::runGuardsOrExit();
    std::printf(
        "instance: %lld bytes (object %lld, %lld allocations, %lld bytes requested), %lld allocations after "
        "creation\n",
        static_cast<long long>(figures.instanceBytes), static_cast<long long>(figures.objectBytes),
        static_cast<long long>(figures.instanceAllocations),
        static_cast<long long>(figures.instanceRequestedBytes),
        static_cast<long long>(figures.allocationsAfterCreation));
    std::fflush(stdout);
    benchmark::AddCustomContext("note_moving_samples", std::to_string(figures.noteMovingSamples));
    benchmark::AddCustomContext("voice_note_moving_samples", std::to_string(figures.voiceMovingSamples));
    benchmark::AddCustomContext("instance_bytes", std::to_string(figures.instanceBytes));
    benchmark::AddCustomContext("instance_requested_bytes", std::to_string(figures.instanceRequestedBytes));
    benchmark::AddCustomContext("instance_allocations", std::to_string(figures.instanceAllocations));
    benchmark::AddCustomContext("object_bytes", std::to_string(figures.objectBytes));
    benchmark::AddCustomContext("allocations_after_creation",
                                std::to_string(figures.allocationsAfterCreation));

    // The LV2 bridge must not change by one bit with the host's block size; Faust's may.
    const kvx::bench::Lv2BlockStudy lv2 = kvx::bench::studyLv2BlockSizes();
    if (!lv2.bridgeIdentical) {
        std::fprintf(stderr,
                     "guard failed: the LV2 bridge's note differs between runs of 1, 64 and 512 frames\n");
        return 1;
    }
    benchmark::AddCustomContext("lv2_bridge_onset", std::to_string(lv2.bridgeOnset));
    for (const auto& [block, onset] : lv2.faustOnset)
        benchmark::AddCustomContext("lv2_faust_onset_" + std::to_string(block), std::to_string(onset));
    for (const auto& [block, largest] : lv2.faustLargestDifference)
        benchmark::AddCustomContext("lv2_faust_largest_difference_" + std::to_string(block),
                                    std::to_string(largest));

    // The voices replayed alone must add up to the instrument, or their row times other work.
    const kvx::bench::InstrumentGuard instrument = kvx::bench::checkInstrumentReplay();
    std::printf("instrument: %lld voice runs replayed alone (the instrument ran %lld), %lld steals, identical: %s "
                "(largest difference %g)\n",
                static_cast<long long>(instrument.replayedRuns), static_cast<long long>(instrument.instrumentVoiceRuns),
                static_cast<long long>(instrument.steals), instrument.identical ? "yes" : "no",
                instrument.largestDifference);
    std::fflush(stdout);
    if (!instrument.identical || instrument.steals == 0) {
        std::fprintf(stderr, "guard failed: the voices replayed alone do not add up to the instrument's output, "
                             "or the score steals no voice\n");
        return 1;
    }
    benchmark::AddCustomContext("instrument_steals", std::to_string(instrument.steals));
    benchmark::AddCustomContext("instrument_voice_runs", std::to_string(instrument.replayedRuns));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
