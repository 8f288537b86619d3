// SPDX-License-Identifier: MIT
// Case 9: the example instrument (examples/patches/envelope-vca-osc, 16 voices) playing the dense
// score: host::Instrument in blocks of 256; the same voices' patches alone, each replaying what
// the instrument ran it on, sample span by sample span (the sum of the voices' costs); the
// patch's LV2 bundle in the lilv host, runs of 256; the same voice in Faust, built by
// faust2lv2 -nvoices 16, in the same host; and an idle instrument, a 64-frame run.
#include "bench/bench_instrument.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/dense_score.h"
#include "bench/lv2_host.h"
#include "host/instrument.h"
#include "host/patch.h"
#include "patch/module_source.h"
#include "patch/patch_instrument.h"
#include "patch/patch_reader.h"

namespace kvx::bench {

// The bundle the LV2 rows play: `kvx lv2` of the example patch with 16 voices, an
// lv2:InstrumentPlugin (its one-voice midi flavour was ".../envelope-vca-osc/midi").
constexpr const char* INSTRUMENT_LV2_URI = "https://kvx.example.org/modules/patches/envelope-vca-osc/instrument";
constexpr const char* INSTRUMENT_LV2_OUTPUT = "out";
constexpr const char* FAUST_VOICE_LV2_URI = "https://faustlv2.bitbucket.io/faust_voice";
constexpr int32_t RUN = 256;

namespace {

namespace fs = std::filesystem;

const patch::PatchFile& examplePatch() {
    static const patch::PatchFile file = [] {
        patch::PathModuleSource modules({{fs::path(KVX_VCA_PATH).parent_path().string(), true},
                                         {fs::path(KVX_OSC_PATH).parent_path().string(), true},
                                         {fs::path(KVX_MODULE_PATH).parent_path().string(), true}});
        return patch::loadPatch(KVX_EXAMPLE_PATCH, modules);
    }();
    return file;
}

std::unique_ptr<host::Instrument> exampleInstrument() {
    return patch::makeInstrument(examplePatch(), 48000.0f, RUN, SCORE_VOICES);
}

// What one voice's patch was run on: a span of samples and the events of that span, with the
// pitch input's value over it (the notes start at span starts, so it is constant in a span).
struct VoiceRun {
    int64_t start = 0;  // the score's sample
    int32_t count = 0;
    size_t firstEvent = 0, eventCount = 0;
    float pitch = 0.0f;
};

struct VoiceScript {
    std::vector<VoiceRun> runs;
    std::vector<host::PatchEvent> events;
};

// Mirrors the instrument's events for one voice (the same order and the one-sample stream of
// the pitch input), from the notes the instrument gave it.
class VoiceMirror {
public:
    VoiceMirror(const host::InstrumentNotes& notes, VoiceScript& script) : notes(notes), script(script) {}
    host::VoicePhase phase = host::VoicePhase::Free;
    float pitch = 0.0f;

    void noteOn(int64_t time, uint8_t key, int64_t runStart) {
        const bool free = phase == host::VoicePhase::Free;
        if (phase == host::VoicePhase::Held) send(notes.gate, time, runStart, false);
        endStreams(time, runStart, true);
        pitch = notes.pitch[0].pinValue(host::noteHertz(key, 0.0));
        if (streamEnd < 0) add(time, runStart, notes.pitch[0].module, EV_STREAM_BEGIN, notes.pitch[0].pin, 0.0f,
                               host::EventRank::Stream);
        streamEnd = time + 1;
        send(notes.trigger, time, runStart, true);
        if (free) send(notes.freeTrigger, time, runStart, true);
        send(notes.gate, time, runStart, true);
        phase = host::VoicePhase::Held;
    }
    void noteOff(int64_t time, int64_t runStart) {
        send(notes.gate, time, runStart, false);
        phase = host::VoicePhase::Released;
    }
    // The voice ran from `runStart` for `count` samples.
    void ran(int64_t runStart, int32_t count) {
        endStreams(runStart + count - 1, runStart, false);
        script.runs.push_back({runStart, count, first, script.events.size() - first, pitch});
        first = script.events.size();
    }
    void dropPending() { script.events.resize(first); }

private:
    void add(int64_t time, int64_t runStart, int32_t module, int32_t type, int32_t pin, float value,
             host::EventRank rank) {
        script.events.push_back({module, static_cast<int32_t>(time - runStart), type, pin, value, rank});
    }
    void endStreams(int64_t time, int64_t runStart, bool keepAtTime) {
        if (streamEnd < 0 || streamEnd > time || (keepAtTime && streamEnd == time)) return;
        add(streamEnd, runStart, notes.pitch[0].module, EV_STREAM_END, notes.pitch[0].pin, 0.0f,
            host::EventRank::Stream);
        streamEnd = -1;
    }
    void send(const std::vector<host::NotePin>& pins, int64_t time, int64_t runStart, bool value) {
        endStreams(time, runStart, false);
        for (const host::NotePin& pin : pins)
            add(time, runStart, pin.module, EV_PIN_VALUE, pin.pin, value ? 1.0f : 0.0f, host::EventRank::Note);
    }
    const host::InstrumentNotes& notes;
    VoiceScript& script;
    int64_t streamEnd = -1;
    size_t first = 0;
};

// Plays the score through an instrument cut at every block of 256 and every note start (where
// the instrument cuts its voices' runs itself), and writes down, per voice, each run and its
// events: what the voice's patch alone must replay.
std::vector<VoiceScript> recordVoices(int64_t& steals) {
    const host::InstrumentNotes notes = patch::instrumentNotes(examplePatch());
    auto instrument = exampleInstrument();
    std::vector<VoiceScript> scripts(SCORE_VOICES);
    std::vector<VoiceMirror> mirrors;
    for (VoiceScript& script : scripts) mirrors.emplace_back(notes, script);
    std::array<int32_t, 128> holder{};
    holder.fill(-1);
    const std::vector<ScoreEvent>& score = denseScore();
    size_t next = 0;
    std::vector<host::NoteEvent> events;
    for (int64_t start = 0; start < SCORE_SAMPLES;) {
        int64_t end = std::min<int64_t>((start / RUN + 1) * RUN, SCORE_SAMPLES);
        events.clear();
        for (size_t i = next; i < score.size() && score[i].time < end; ++i)
            if (score[i].time > start && score[i].event.kind == host::NoteEventKind::NoteOn) {
                end = score[i].time;
                break;
            }
        std::vector<uint64_t> started(SCORE_VOICES);
        std::vector<int64_t> blocks(SCORE_VOICES);
        for (int32_t v = 0; v < SCORE_VOICES; ++v) {
            started[static_cast<size_t>(v)] = instrument->voice(v).started;
            blocks[static_cast<size_t>(v)] = instrument->voicePatch(v).stats().blocks;
            if (instrument->voice(v).phase == host::VoicePhase::Free) mirrors[static_cast<size_t>(v)].phase = host::VoicePhase::Free;
        }
        const size_t firstEvent = next;
        for (; next < score.size() && score[next].time < end; ++next) {
            host::NoteEvent event = score[next].event;
            event.timestamp = static_cast<int32_t>(score[next].time - start);
            events.push_back(event);
        }
        instrument->runBlock(static_cast<int32_t>(end - start), events);
        // Which voice took each note at `start`: the ones whose note started now, by their key.
        for (size_t i = firstEvent; i < next; ++i) {
            const ScoreEvent& e = score[i];
            if (e.event.kind == host::NoteEventKind::NoteOn) {
                for (int32_t v = 0; v < SCORE_VOICES; ++v)
                    if (instrument->voice(v).started != started[static_cast<size_t>(v)] &&
                        instrument->voice(v).key == e.event.key) {
                        for (int32_t& h : holder)
                            if (h == v) h = -1;
                        holder[e.event.key] = v;
                        mirrors[static_cast<size_t>(v)].noteOn(e.time, e.event.key, start);
                    }
            } else if (holder[e.event.key] >= 0) {
                mirrors[static_cast<size_t>(holder[e.event.key])].noteOff(e.time, start);
                holder[e.event.key] = -1;
            }
        }
        for (int32_t v = 0; v < SCORE_VOICES; ++v) {
            VoiceMirror& mirror = mirrors[static_cast<size_t>(v)];
            if (instrument->voicePatch(v).stats().blocks != blocks[static_cast<size_t>(v)])
                mirror.ran(start, static_cast<int32_t>(end - start));
            else
                mirror.dropPending();
        }
        start = end;
    }
    steals = instrument->stats().steals;
    return scripts;
}

const std::vector<VoiceScript>& voiceScripts() {
    static int64_t steals = 0;
    static const std::vector<VoiceScript> scripts = recordVoices(steals);
    return scripts;
}

size_t voiceRunCount() {
    size_t runs = 0;
    for (const VoiceScript& script : voiceScripts()) runs += script.runs.size();
    return runs;
}

struct VoicePatches {
    std::vector<std::unique_ptr<host::Patch>> patches;
    std::vector<float*> pitch;
    VoicePatches() {
        const host::InstrumentNotes notes = patch::instrumentNotes(examplePatch());
        for (int32_t v = 0; v < SCORE_VOICES; ++v) {
            patches.push_back(std::make_unique<host::Patch>(examplePatch().graph, 48000.0f, RUN));
            pitch.push_back(patches.back()->input(notes.pitch[0].module, notes.pitch[0].pin));
        }
    }
};

// Replays every voice's runs on its own patch; `sink` sees each run's output.
template <typename Sink>
void replayVoices(VoicePatches& voices, const Sink& sink) {
    const std::vector<VoiceScript>& scripts = voiceScripts();
    for (size_t v = 0; v < scripts.size(); ++v) {
        host::Patch& patch = *voices.patches[v];
        for (const VoiceRun& run : scripts[v].runs) {
            std::fill(voices.pitch[v], voices.pitch[v] + run.count, run.pitch);
            patch.runBlock(run.count, {scripts[v].events.data() + run.firstEvent, run.eventCount});
            sink(v, run.count, patch.output(0));
        }
    }
}

std::vector<float> instrumentOutput(host::Instrument& instrument, const ScoreBlocks& blocks) {
    std::vector<float> out;
    for (size_t b = 0; b < blocks.count(); ++b) {
        instrument.runBlock(blocks.block(), blocks.events(b));
        out.insert(out.end(), instrument.output(0), instrument.output(0) + blocks.block());
    }
    return out;
}

// The score ends with a second of silence, every voice free again: each pass plays it from the
// same state, so the objects are made once and warmed by one pass.
void instrumentScore(benchmark::State& state) {
    const ScoreBlocks blocks(RUN);
    auto instrument = exampleInstrument();
    auto play = [&] {
        for (size_t b = 0; b < blocks.count(); ++b) instrument->runBlock(RUN, blocks.events(b));
    };
    play();
    if (instrument->stats().voiceRuns != static_cast<int64_t>(voiceRunCount()))
        state.SkipWithError("the instrument ran other runs than the recording");
    for (auto _ : state) {
        play();
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = static_cast<double>(SCORE_SAMPLES);
}

void voicesAlone(benchmark::State& state) {
    VoicePatches voices;
    auto play = [&] { replayVoices(voices, [](size_t, int32_t, const float*) {}); };
    play();
    for (auto _ : state) {
        play();
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = static_cast<double>(SCORE_SAMPLES);
}

// The score as MIDI bytes into an LV2 plug-in, runs of RUN frames.
void playLv2(Lv2Plugin& plugin, const ScoreBlocks& blocks) {
    for (size_t b = 0; b < blocks.count(); ++b) {
        for (const host::NoteEvent& e : blocks.events(b)) {
            const bool on = e.kind == host::NoteEventKind::NoteOn;
            plugin.midiMessage(static_cast<uint32_t>(e.timestamp), on ? 0x90 : 0x80, e.key,
                        on ? static_cast<uint8_t>(std::clamp(e.value * 127.0f + 0.5f, 1.0f, 127.0f)) : 0);
        }
        plugin.run(RUN);
    }
}

void lv2Score(benchmark::State& state, const char* uri) {
    const ScoreBlocks blocks(RUN);
    Lv2Plugin plugin(uri, RUN);
    if (uri == FAUST_VOICE_LV2_URI) plugin.setControl("polyphony", SCORE_VOICES);  // its default is 8
    state.counters["is_instrument"] = plugin.isInstrument() ? 1.0 : 0.0;
    playLv2(plugin, blocks);
    for (auto _ : state) {
        playLv2(plugin, blocks);
        benchmark::ClobberMemory();
    }
    state.counters["samples_per_iter"] = static_cast<double>(SCORE_SAMPLES);
}

void bridgeScore(benchmark::State& state) { lv2Score(state, INSTRUMENT_LV2_URI); }
void faustScore(benchmark::State& state) { lv2Score(state, FAUST_VOICE_LV2_URI); }

void idleInstrument(benchmark::State& state) {
    auto instrument = patch::makeInstrument(examplePatch(), 48000.0f, 64, SCORE_VOICES);
    for (auto _ : state) {
        instrument->runBlock(64);
        benchmark::ClobberMemory();
    }
    if (instrument->moduleCalls() != 0) state.SkipWithError("an idle instrument called a module");
}

void idleBridge(benchmark::State& state) {
    Lv2Plugin plugin(INSTRUMENT_LV2_URI, 64);
    state.counters["is_instrument"] = plugin.isInstrument() ? 1.0 : 0.0;
    for (int i = 0; i < 16; ++i) plugin.run(64);
    for (auto _ : state) {
        plugin.run(64);
        benchmark::ClobberMemory();
    }
}

}  // namespace

InstrumentGuard checkInstrumentReplay() {
    InstrumentGuard guard;
    const ScoreBlocks blocks(RUN);
    auto instrument = exampleInstrument();
    const std::vector<float> expected = instrumentOutput(*instrument, blocks);
    guard.steals = instrument->stats().steals;
    guard.instrumentVoiceRuns = instrument->stats().voiceRuns;
    // The instrument adds its voices in ascending order at every sample; so does this.
    std::vector<float> sum(static_cast<size_t>(SCORE_SAMPLES), 0.0f);
    const std::vector<VoiceScript>& scripts = voiceScripts();
    std::vector<size_t> nextRun(scripts.size(), 0);
    VoicePatches voices;
    replayVoices(voices, [&](size_t v, int32_t count, const float* out) {
        const VoiceRun& run = scripts[v].runs[nextRun[v]++];
        for (int32_t i = 0; i < count; ++i) sum[static_cast<size_t>(run.start + i)] += out[i];
    });
    for (const VoiceScript& script : scripts) guard.replayedRuns += static_cast<int64_t>(script.runs.size());
    guard.identical = std::memcmp(sum.data(), expected.data(), sum.size() * sizeof(float)) == 0;
    for (size_t i = 0; i < sum.size(); ++i)
        guard.largestDifference =
            std::max(guard.largestDifference, std::fabs(static_cast<double>(sum[i]) - expected[i]));
    return guard;
}

BENCHMARK(instrumentScore)->Name("instrument/score_16_voices_block256")->Unit(benchmark::kMillisecond);
BENCHMARK(voicesAlone)->Name("instrument/score_voices_alone_block256")->Unit(benchmark::kMillisecond);
BENCHMARK(bridgeScore)->Name("instrument/score_lv2_bundle_run256")->Unit(benchmark::kMillisecond);
BENCHMARK(faustScore)->Name("instrument/score_faust2lv2_run256")->Unit(benchmark::kMillisecond);
BENCHMARK(idleInstrument)->Name("instrument/idle_block64");
BENCHMARK(idleBridge)->Name("instrument/idle_lv2_bundle_run64");

}  // namespace kvx::bench
