// SPDX-License-Identifier: MIT
// Case 5: the peers on the same whole note, rendered in 64-sample blocks.
#include <benchmark/benchmark.h>

#include <xmmintrin.h>

#include <memory>

#include "bench/peers.h"

namespace kvx::bench {
namespace {

void peerNote(benchmark::State& state, std::unique_ptr<PeerEnvelope> peer) {
    for (auto _ : state) {
        peer->renderNote(nullptr);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = static_cast<double>(noteSamples(SINGLE_NOTE));
}

void jucePerSample(benchmark::State& state) { peerNote(state, makeJucePerSample()); }
void juceBuffer(benchmark::State& state) {
    const unsigned int saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040);  // flush-to-zero and denormals-are-zero: see JuceBuffer
    peerNote(state, makeJuceBuffer());
    _mm_setcsr(saved);
}
void faust(benchmark::State& state) { peerNote(state, makeFaust()); }

}  // namespace

BENCHMARK(jucePerSample)->Name("peer/juce_getNextSample");
BENCHMARK(juceBuffer)->Name("peer/juce_applyEnvelopeToBuffer");
BENCHMARK(faust)->Name("peer/faust_adsre");

}  // namespace kvx::bench
