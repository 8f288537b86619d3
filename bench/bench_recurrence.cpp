// SPDX-License-Identifier: MIT
// Cases 1 and 2: the floor loop and the module's generateEnvelope on the same long moving
// segment, CHUNK samples per call, both restarted from the same level every call.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/floor_loop.h"
#include "bench/guards.h"
#include "bench/in_process_voice.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {
namespace {

// An in-process voice whose attack of 100000 s has just been set up.
struct LongSegment {
    LongSegment() : voice(LONG_SEGMENT, CHUNK) {
        on = {boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
        linkEvents(on);
        voice.process(0, on.data());
    }
    InProcessVoice voice;
    std::vector<HostEvent> on;
};

void floorMoving(benchmark::State& state) {
    LongSegment setup;
    const FloorSegment start = floorSegmentOf(setup.voice.module().runningSegment());
    std::vector<float> out(CHUNK);
    for (auto _ : state) {
        FloorSegment segment = start;
        benchmark::DoNotOptimize(runFloor(segment, out.data(), CHUNK));
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = CHUNK;
}

void moduleMoving(benchmark::State& state) {
    LongSegment setup;  // leaves the module at block position 0
    adsr::Adsr& module = setup.voice.module();
    const adsr::Adsr::SegmentSnapshot start = module.runningSegment();
    for (auto _ : state) {
        module.restoreSegment(start);
        module.generateEnvelope(CHUNK);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = CHUNK;
}

}  // namespace

BENCHMARK(floorMoving)->Name("floor/moving");
BENCHMARK(moduleMoving)->Name("module/moving");

}  // namespace kvx::bench
