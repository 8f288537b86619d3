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
    const adsr::Adsr& module = setup.voice.module();
    const FloorSegment start{module.level, module.asymptote, module.coefficient, module.threshold};
    std::vector<float> out(CHUNK);
    for (auto _ : state) {
        FloorSegment segment = start;
        benchmark::DoNotOptimize(runFloor(segment, out.data(), CHUNK));
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = CHUNK;
}

void moduleMoving(benchmark::State& state) {
    LongSegment setup;
    adsr::Adsr& module = setup.voice.module();
    const double level = module.level;
    const int64_t steps = module.stepsLeft;
    module.blockOffset = 0;
    for (auto _ : state) {
        module.level = level;
        module.stepsLeft = steps;
        module.generateEnvelope(CHUNK);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = CHUNK;
}

}  // namespace

BENCHMARK(floorMoving)->Name("floor/moving");
BENCHMARK(moduleMoving)->Name("module/moving");

}  // namespace kvx::bench
