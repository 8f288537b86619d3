// SPDX-License-Identifier: MIT
// Case 3: process() on 64-sample blocks of a moving segment, without events, with one
// trigger+gate timestamp mid-block (restarting the attack), and with 8 value events at
// distinct timestamps (the gate re-sent while held: the block is split 8 times).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/guards.h"
#include "bench/in_process_voice.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {
namespace {

void runBlocks(benchmark::State& state, std::vector<HostEvent> events) {
    InProcessVoice voice(LONG_SEGMENT, BLOCK);
    std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    linkEvents(on);
    voice.process(0, on.data());
    linkEvents(events);
    const HostEvent* list = events.empty() ? nullptr : events.data();
    for (auto _ : state) {
        voice.process(BLOCK, list);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = BLOCK;
    state.counters["events_per_iter"] = static_cast<double>(events.size());
}

void movingBlock(benchmark::State& state) { runBlocks(state, {}); }

void triggerGateBlock(benchmark::State& state) {
    runBlocks(state,
              {boolEvent(BLOCK / 2, adsr::PIN_TRIGGER, true), boolEvent(BLOCK / 2, adsr::PIN_GATE, true)});
}

void eightValueBlock(benchmark::State& state) {
    std::vector<HostEvent> events;
    for (int32_t i = 0; i < 8; ++i) events.push_back(boolEvent(8 * i + 4, adsr::PIN_GATE, true));
    runBlocks(state, events);
}

}  // namespace

BENCHMARK(movingBlock)->Name("module/block64_moving");
BENCHMARK(triggerGateBlock)->Name("module/block64_trigger_gate");
BENCHMARK(eightValueBlock)->Name("module/block64_8_value_events");

}  // namespace kvx::bench
