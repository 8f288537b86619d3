// SPDX-License-Identifier: MIT
// Case 8: patches through host::Patch, with the dlopen'd envelope, the VCA and the test module
// Sum. A patch in which every module sleeps (one runBlock of 64 samples, against the same
// patch calling every module every block), and a loop closed by a one-sample delay (sum -> vca
// -> sum one sample late, running sample by sample) against the same modules without the loop
// (running block by block), both kept moving by a signal the caller streams into the sum.
// The whole note through envelope -> VCA <- oscillator waits for the oscillator module.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/patch.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::bench {
namespace {

using host::PatchPinKind;

constexpr int32_t BLOCK = 64;

host::PatchModule envelope(const std::string& name) {
    host::PatchModule m{name, KVX_MODULE_PATH, adsr::MODULE_ID, 0, {}};
    m.pins = {{adsr::PIN_TRIGGER, PatchPinKind::BoolIn, 0.0f}, {adsr::PIN_GATE, PatchPinKind::BoolIn, 0.0f}};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        m.pins.push_back({pin, PatchPinKind::AudioIn, pin == adsr::PIN_SUSTAIN_LEVEL ? 0.5f : 0.1f});
    m.pins.push_back({adsr::PIN_OUTPUT, PatchPinKind::AudioOut, 0.0f});
    m.pins.push_back({adsr::PIN_RESET, PatchPinKind::FloatIn, 0.0f});
    return m;
}

host::PatchModule vca(const std::string& name, float input, float control) {
    return host::PatchModule{name,
                             KVX_VCA_PATH,
                             u"KV VCA",
                             0,
                             {{0, PatchPinKind::AudioIn, input},
                              {1, PatchPinKind::AudioIn, control},
                              {2, PatchPinKind::FloatIn, 0.0f},
                              {3, PatchPinKind::AudioOut, 0.0f}}};
}

host::PatchModule sum(const std::string& name) {
    return host::PatchModule{name,
                             KVX_SUM_PATH,
                             u"KVX TEST SUM",
                             0,
                             {{0, PatchPinKind::AudioIn, 0.0f},
                              {1, PatchPinKind::AudioIn, 0.0f},
                              {2, PatchPinKind::AudioOut, 0.0f}}};
}

// Two voices of envelope -> VCA (control) -> VCA (input), no note: six modules, all asleep.
host::PatchSpec sleepingPatch() {
    host::PatchSpec spec;
    spec.source = "bench";
    for (int32_t voice = 0; voice < 2; ++voice) {
        const auto first = static_cast<int32_t>(spec.modules.size());
        spec.modules.push_back(envelope("env"));
        spec.modules.push_back(vca("vca", 0.5f, 0.0f));
        spec.modules.push_back(vca("out", 0.0f, 0.8f));
        spec.connections.push_back({first, adsr::PIN_OUTPUT, first + 1, 1, false});
        spec.connections.push_back({first + 1, 3, first + 2, 0, false});
        spec.outputs.push_back({"out", first + 2, 3});
    }
    return spec;
}

void asleep(benchmark::State& state, bool honourSleep) {
    host::Patch patch(sleepingPatch(), 48000.0f, BLOCK);
    patch.honourSleep = honourSleep;
    for (int32_t b = 0; b < 16; ++b) patch.runBlock(BLOCK);
    const int64_t calls = patch.stats().calls;
    for (auto _ : state) {
        patch.runBlock(BLOCK);
        benchmark::ClobberMemory();
    }
    if (honourSleep && patch.stats().calls != calls)
        state.SkipWithError("a module of the sleeping patch was called");
    state.counters["modules"] = static_cast<double>(patch.moduleCount());
}

// sum.a streams the caller's signal; sum -> vca (control 0.5); with the loop, vca -> sum.b one
// sample late.
host::PatchSpec sumIntoVca(bool loop) {
    host::PatchSpec spec{
        "bench", {sum("sum"), vca("vca", 0.0f, 0.5f)}, {{0, 2, 1, 0, false}}, {{"out", 1, 3}}};
    if (loop) spec.connections.push_back({1, 3, 0, 1, true});
    return spec;
}

void moving(benchmark::State& state, bool loop) {
    host::Patch patch(sumIntoVca(loop), 48000.0f, BLOCK);
    float* signal = patch.input(0, 0);
    for (int32_t i = 0; i < BLOCK; ++i) signal[i] = 0.25f * static_cast<float>(std::sin(0.05 * i));
    const host::PatchEvent start{0, 0, EV_STREAM_BEGIN, 0, 0.0f, host::EventRank::Stream};
    patch.runBlock(BLOCK, {&start, 1});
    for (auto _ : state) {
        patch.runBlock(BLOCK);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = BLOCK;
    if (patch.asleep(0) || patch.asleep(1)) state.SkipWithError("the modules should keep moving");
}

void patchAsleep(benchmark::State& state) { asleep(state, true); }
void patchAsleepEveryBlock(benchmark::State& state) { asleep(state, false); }
void patchLoop(benchmark::State& state) { moving(state, true); }
void patchNoLoop(benchmark::State& state) { moving(state, false); }

}  // namespace

BENCHMARK(patchAsleep)->Name("patch/all_asleep_block64");
BENCHMARK(patchAsleepEveryBlock)->Name("patch/all_asleep_calling_every_block64");
BENCHMARK(patchLoop)->Name("patch/loop_one_sample_delay_block64");
BENCHMARK(patchNoLoop)->Name("patch/same_modules_no_loop_block64");

}  // namespace kvx::bench
