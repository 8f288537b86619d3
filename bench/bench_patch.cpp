// SPDX-License-Identifier: MIT
// Case 8: patches through host::Patch, with the dlopen'd envelope, the VCA and the test module
// Sum. A patch in which every module sleeps (one runBlock of 64 samples, against the same
// patch calling every module every block), and a loop closed by a one-sample delay (sum -> vca
// -> sum one sample late, running sample by sample) against the same modules without the loop
// (running block by block), both kept moving by a signal the caller streams into the sum. And
// a whole note through envelope -> VCA <- oscillator, against the sum of the three modules' own
// costs on the same samples, each timed alone in a patch of its own.
#include <benchmark/benchmark.h>

#include <algorithm>
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
host::PatchGraph sleepingPatch() {
    host::PatchGraph graph;
    graph.source = "bench";
    for (int32_t voice = 0; voice < 2; ++voice) {
        const auto first = static_cast<int32_t>(graph.modules.size());
        graph.modules.push_back(envelope("env"));
        graph.modules.push_back(vca("vca", 0.5f, 0.0f));
        graph.modules.push_back(vca("out", 0.0f, 0.8f));
        graph.connections.push_back({first, adsr::PIN_OUTPUT, first + 1, 1, false});
        graph.connections.push_back({first + 1, 3, first + 2, 0, false});
        graph.outputs.push_back({"out", first + 2, 3});
    }
    return graph;
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
host::PatchGraph sumIntoVca(bool loop) {
    host::PatchGraph graph{
        "bench", {sum("sum"), vca("vca", 0.0f, 0.5f)}, {{0, 2, 1, 0, false}}, {{"out", 1, 3}}};
    if (loop) graph.connections.push_back({1, 3, 0, 1, true});
    return graph;
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

// --- a whole note: envelope -> VCA <- oscillator ------------------------------------------

// The note of examples/patches/envelope-vca-osc: A 5 ms, D 200 ms, S 0.6, R 300 ms, the gate
// held 0.5 s of a second; a band-limited saw at 440 Hz; the VCA at -6 dB.
constexpr int32_t NOTE_SAMPLES = 48000;
constexpr int32_t NOTE_OFF = 24000;
constexpr int32_t NOTE_BLOCKS = NOTE_SAMPLES / BLOCK;
constexpr int32_t OSC_FREQUENCY = 0, OSC_WAVEFORM = 1, OSC_SYNC = 2, OSC_OUTPUT = 3;
constexpr int32_t VCA_INPUT = 0, VCA_CONTROL = 1, VCA_LEVEL = 2, VCA_OUTPUT = 3;

host::PatchModule noteEnvelope() {
    host::PatchModule m = envelope("env");
    for (host::PatchPin& pin : m.pins) {
        // The description's mapping, 0.25 log10(seconds) + 0.75.
        auto time = [](double seconds) { return static_cast<float>(0.25 * std::log10(seconds) + 0.75); };
        if (pin.id == adsr::PIN_ATTACK_TIME) pin.initial = time(0.005);
        if (pin.id == adsr::PIN_DECAY_TIME) pin.initial = time(0.2);
        if (pin.id == adsr::PIN_SUSTAIN_LEVEL) pin.initial = 0.6f;
        if (pin.id == adsr::PIN_RELEASE_TIME) pin.initial = time(0.3);
    }
    return m;
}

host::PatchModule oscillator() {
    // 440 Hz through the description's mapping, 0.1 log2(Hz) - 0.4; waveform 1, the saw.
    return host::PatchModule{
        "osc",
        KVX_OSC_PATH,
        u"KV OSC",
        0,
        {{OSC_FREQUENCY, PatchPinKind::AudioIn, static_cast<float>(0.1 * std::log2(440.0) - 0.4)},
         {OSC_WAVEFORM, PatchPinKind::FloatIn, 1.0f},
         {OSC_SYNC, PatchPinKind::BoolIn, 0.0f},
         {OSC_OUTPUT, PatchPinKind::AudioOut, 0.0f}}};
}

host::PatchModule noteVca() {
    host::PatchModule m = vca("vca", 0.0f, 1.0f);
    m.pins[VCA_LEVEL].initial = -6.0f;
    return m;
}

// The note's events for the envelope (module `envelope`) and, with `sync`, the oscillator's
// phase reset at the note's start (module `osc`), for the block starting at `start`.
int32_t noteEvents(int32_t start, int32_t envelopeModule, int32_t oscModule, host::PatchEvent* events) {
    int32_t count = 0;
    if (start == 0) {
        if (oscModule >= 0)
            events[count++] = {oscModule, 0, EV_PIN_VALUE, OSC_SYNC, 1.0f, host::EventRank::Note};
        if (envelopeModule >= 0) {
            events[count++] = {envelopeModule,    0,    EV_PIN_VALUE,
                               adsr::PIN_TRIGGER, 1.0f, host::EventRank::Note};
            events[count++] = {envelopeModule, 0, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f, host::EventRank::Note};
        }
    }
    if (envelopeModule >= 0 && start <= NOTE_OFF && NOTE_OFF < start + BLOCK)
        events[count++] = {envelopeModule, NOTE_OFF - start,     EV_PIN_VALUE, adsr::PIN_GATE,
                           0.0f,           host::EventRank::Note};
    return count;
}

// One note a run of NOTE_BLOCKS blocks of `patch`, whose envelope and oscillator are the modules
// given (-1: not in it); `before` runs ahead of each block (the VCA alone gets its inputs).
template <typename Before>
void playNotes(benchmark::State& state, host::Patch& patch, int32_t envelopeModule, int32_t oscModule,
               const Before& before) {
    host::PatchEvent events[4];
    for (auto _ : state) {
        for (int32_t b = 0; b < NOTE_BLOCKS; ++b) {
            before(b);
            const int32_t count = noteEvents(b * BLOCK, envelopeModule, oscModule, events);
            patch.runBlock(BLOCK, {events, static_cast<size_t>(count)});
        }
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = NOTE_SAMPLES;
}

// The envelope's and the oscillator's outputs over one note, and for each block whether the
// envelope's output moved in it: what the VCA alone is fed, with the stream changes it would
// be told.
struct VcaFeed {
    std::vector<float> envelope, oscillator;
    std::vector<bool> envelopeMoving;  // per block
};

VcaFeed recordNote() {
    host::PatchGraph graph{
        "bench", {noteEnvelope(), oscillator()}, {}, {{"env", 0, adsr::PIN_OUTPUT}, {"osc", 1, OSC_OUTPUT}}};
    host::Patch patch(graph, 48000.0f, BLOCK);
    VcaFeed feed{std::vector<float>(NOTE_SAMPLES), std::vector<float>(NOTE_SAMPLES),
                 std::vector<bool>(NOTE_BLOCKS)};
    host::PatchEvent events[4];
    for (int32_t b = 0; b < NOTE_BLOCKS; ++b) {
        const int32_t count = noteEvents(b * BLOCK, 0, 1, events);
        patch.runBlock(BLOCK, {events, static_cast<size_t>(count)});
        std::copy_n(patch.output(0), BLOCK, feed.envelope.begin() + b * BLOCK);
        std::copy_n(patch.output(1), BLOCK, feed.oscillator.begin() + b * BLOCK);
        const float* level = patch.output(0);
        feed.envelopeMoving[static_cast<size_t>(b)] =
            !patch.asleep(0) && std::any_of(level, level + BLOCK, [&](float v) { return v != level[0]; });
    }
    return feed;
}

void noteThroughPatch(benchmark::State& state) {
    host::PatchGraph graph{"bench",
                         {oscillator(), noteEnvelope(), noteVca()},
                         {{0, OSC_OUTPUT, 2, VCA_INPUT, false}, {1, adsr::PIN_OUTPUT, 2, VCA_CONTROL, false}},
                         {{"out", 2, VCA_OUTPUT}}};
    host::Patch patch(graph, 48000.0f, BLOCK);
    playNotes(state, patch, 1, 0, [](int32_t) {});
}

void noteEnvelopeAlone(benchmark::State& state) {
    host::Patch patch(host::PatchGraph{"bench", {noteEnvelope()}, {}, {{"out", 0, adsr::PIN_OUTPUT}}},
                      48000.0f, BLOCK);
    playNotes(state, patch, 0, -1, [](int32_t) {});
}

void noteOscillatorAlone(benchmark::State& state) {
    host::Patch patch(host::PatchGraph{"bench", {oscillator()}, {}, {{"out", 0, OSC_OUTPUT}}}, 48000.0f,
                      BLOCK);
    playNotes(state, patch, -1, 0, [](int32_t) {});
}

// The VCA on the samples the patch gives it: the oscillator's and the envelope's outputs copied
// into its inputs, told when the envelope starts and stops moving. The copies alone are timed
// too (noteVcaFeed), and run_bench.py takes them off the VCA's cost.
void noteVcaAlone(benchmark::State& state) {
    const VcaFeed feed = recordNote();
    host::Patch patch(host::PatchGraph{"bench", {noteVca()}, {}, {{"out", 0, VCA_OUTPUT}}}, 48000.0f, BLOCK);
    float* input = patch.input(0, VCA_INPUT);
    float* control = patch.input(0, VCA_CONTROL);
    bool controlMoving = false;
    host::PatchEvent events[4];
    for (auto _ : state) {
        for (int32_t b = 0; b < NOTE_BLOCKS; ++b) {
            int32_t count = 0;
            if (b == 0) events[count++] = {0, 0, EV_STREAM_BEGIN, VCA_INPUT, 0.0f, host::EventRank::Stream};
            const bool moving = feed.envelopeMoving[static_cast<size_t>(b)];
            if (moving != controlMoving)
                events[count++] = {0,           0,    moving ? EV_STREAM_BEGIN : EV_STREAM_END,
                                   VCA_CONTROL, 0.0f, host::EventRank::Stream};
            controlMoving = moving;
            std::copy_n(feed.oscillator.begin() + b * BLOCK, BLOCK, input);
            std::copy_n(feed.envelope.begin() + b * BLOCK, BLOCK, control);
            patch.runBlock(BLOCK, {events, static_cast<size_t>(count)});
        }
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = NOTE_SAMPLES;
}

void noteVcaFeed(benchmark::State& state) {
    const VcaFeed feed = recordNote();
    host::Patch patch(host::PatchGraph{"bench", {noteVca()}, {}, {{"out", 0, VCA_OUTPUT}}}, 48000.0f, BLOCK);
    float* input = patch.input(0, VCA_INPUT);
    float* control = patch.input(0, VCA_CONTROL);
    for (auto _ : state) {
        for (int32_t b = 0; b < NOTE_BLOCKS; ++b) {
            std::copy_n(feed.oscillator.begin() + b * BLOCK, BLOCK, input);
            std::copy_n(feed.envelope.begin() + b * BLOCK, BLOCK, control);
            benchmark::ClobberMemory();
        }
    }
    state.counters["samples_per_iter"] = NOTE_SAMPLES;
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
BENCHMARK(noteThroughPatch)->Name("patch/note_envelope_vca_osc_block64");
BENCHMARK(noteEnvelopeAlone)->Name("patch/note_envelope_alone_block64");
BENCHMARK(noteOscillatorAlone)->Name("patch/note_oscillator_alone_block64");
BENCHMARK(noteVcaAlone)->Name("patch/note_vca_alone_block64");
BENCHMARK(noteVcaFeed)->Name("patch/note_vca_feed_copies_block64");

}  // namespace kvx::bench
