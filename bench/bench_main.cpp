// The benchmark program: runs the correctness guards, records their figures (moving samples,
// memory per instance) in the benchmark context, then runs the timed cases.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

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

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
