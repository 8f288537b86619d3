// SPDX-License-Identifier: MIT
// Case 7: the envelope as LV2 hosts play it: the whole note through the bridge binary of
// build/ADSR.lv2 (midi flavour) in a lilv host, the bridge's cost per run while the module
// sleeps, and Faust's en.adsre built as an LV2 plug-in by faust2lv2 in the same host. Also what
// each does when the host's block size changes (recorded in the benchmark context).
#include "bench/bench_lv2.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "bench/lv2_host.h"
#include "bench/note.h"
#include "modules/adsr/segment_math.h"

namespace kvx::bench {

namespace {

// The single note's settings on the midi plug-in's ports: full-scale durations in seconds.
void setNoteControls(Lv2Plugin& plugin) {
    const PinValues values = pinValuesFor(SINGLE_NOTE);
    auto seconds = [](float pin) { return static_cast<float>(adsr::timeValueToSeconds(pin)); };
    plugin.setControl("attack", seconds(values.attackTime));
    plugin.setControl("decay", seconds(values.decayTime));
    plugin.setControl("sustain", values.sustainLevel);
    plugin.setControl("release", seconds(values.releaseTime));
    plugin.setControl("attack_curve", values.attackCurve);
    plugin.setControl("decay_curve", values.decayCurve);
    plugin.setControl("release_curve", values.releaseCurve);
}

// A plug-in playing notes: the bridge takes MIDI at a frame, Faust's gate is a control port
// that the host can only change between runs.
class NotePlayer {
public:
    explicit NotePlayer(bool faust, int32_t maxBlock = BLOCK)
        : faust(faust),
          plugin(faust ? FAUST_LV2_URI : LV2_MIDI_URI, maxBlock),
          output(plugin.audio(faust ? "out0" : "output")) {
        if (!faust) setNoteControls(plugin);
    }
    // Runs `frames` with a gate change at `frame` (< 0: none).
    void run(uint32_t frames, int64_t frame = -1, bool on = true) {
        if (frame >= 0) {
            if (faust)
                plugin.setControl("gate_0", on ? 1.0f : 0.0f);
            else
                plugin.note(static_cast<uint32_t>(frame), on);
        }
        plugin.run(frames);
    }
    const float* out() const { return output; }

private:
    bool faust;
    Lv2Plugin plugin;
    const float* output;
};

// The single note in runs of `block` frames: on at frame 0, off after the gate time.
void renderNote(NotePlayer& player, int32_t block) {
    const int64_t length = noteSamples(SINGLE_NOTE);
    const int64_t off = secondsToSamples(SINGLE_NOTE.gateOn);
    for (int64_t start = 0; start < length; start += block) {
        const auto frames = static_cast<uint32_t>(std::min<int64_t>(block, length - start));
        if (start == 0)
            player.run(frames, 0, true);
        else if (off >= start && off < start + frames)
            player.run(frames, off - start, false);
        else
            player.run(frames);
    }
}

void lv2Note(benchmark::State& state, bool faust, int32_t block) {
    NotePlayer player(faust, block);
    renderNote(player, block);
    for (auto _ : state) {
        renderNote(player, block);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = static_cast<double>(noteSamples(SINGLE_NOTE));
}

void bridgeNote(benchmark::State& state) { lv2Note(state, false, BLOCK); }
void bridgeNote256(benchmark::State& state) { lv2Note(state, false, 256); }
void faustNote(benchmark::State& state) { lv2Note(state, true, BLOCK); }

// One 64-frame run of the bridge while the module sleeps in its sustain.
void bridgeSleepingRun(benchmark::State& state) {
    NotePlayer player(false);
    player.run(BLOCK, 0, true);
    for (int i = 0; i < 1000; ++i) player.run(BLOCK);  // well into the sustain
    for (auto _ : state) {
        player.run(BLOCK);
        benchmark::ClobberMemory();
    }
}

// A note on at frame 1000 and off at 30000, played in runs of `block` frames.
std::vector<float> playInBlocks(bool faust, int32_t block) {
    constexpr int64_t ON = 1000, OFF = 30000, LENGTH = 60000;
    NotePlayer player(faust, 4096);
    std::vector<float> out;
    for (int64_t start = 0; start < LENGTH; start += block) {
        const auto frames = static_cast<uint32_t>(std::min<int64_t>(block, LENGTH - start));
        const int64_t end = start + frames;
        // A control can only change at the start of a run: Faust's gate moves to the run holding the change.
        if (ON >= start && ON < end)
            player.run(frames, faust ? 0 : ON - start, true);
        else if (OFF >= start && OFF < end)
            player.run(frames, faust ? 0 : OFF - start, false);
        else
            player.run(frames);
        out.insert(out.end(), player.out(), player.out() + frames);
    }
    return out;
}

int64_t firstNonZero(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return static_cast<int64_t>(i);
    return -1;
}

}  // namespace

Lv2BlockStudy studyLv2BlockSizes() {
    Lv2BlockStudy study;
    const std::vector<float> ours1 = playInBlocks(false, 1);
    const std::vector<float> faust1 = playInBlocks(true, 1);
    study.bridgeIdentical = true;
    for (int32_t block : {64, 512}) {
        const std::vector<float> ours = playInBlocks(false, block);
        study.bridgeIdentical = study.bridgeIdentical && ours.size() == ours1.size() &&
                                std::memcmp(ours.data(), ours1.data(), ours.size() * sizeof(float)) == 0;
        const std::vector<float> faust = playInBlocks(true, block);
        double largest = 0.0;
        for (size_t i = 0; i < faust.size(); ++i)
            largest = std::max(largest, std::fabs(static_cast<double>(faust[i]) - faust1[i]));
        study.faustLargestDifference[block] = largest;
        study.faustOnset[block] = firstNonZero(faust);
    }
    study.faustOnset[1] = firstNonZero(faust1);
    study.bridgeOnset = firstNonZero(ours1);
    return study;
}

BENCHMARK(bridgeNote)->Name("lv2/bridge_note");
BENCHMARK(bridgeNote256)->Name("lv2/bridge_note_256");
BENCHMARK(bridgeSleepingRun)->Name("lv2/bridge_run_while_asleep");
BENCHMARK(faustNote)->Name("lv2/faust2lv2_adsre_note");

}  // namespace kvx::bench
