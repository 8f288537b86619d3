// SPDX-License-Identifier: MIT
// The module as a host sees it: ADSR.kvx loaded with dlopen through our host library, driven
// block by block by a host::VoicePool, a host::SleepingRunner or a lean host.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/note.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "host/voice_pool.h"

namespace kvx::bench {

// The library, loaded once for the whole process.
const host::PluginLibrary& moduleLibrary();

// How the host runs its voices.
enum class HostMode {
    Pool,            // host::VoicePool honouring sleep: a sleeping voice is not visited
    PoolEveryBlock,  // host::VoicePool calling every voice every block
    SleepingRunner,  // host::SleepingRunner on one host::PluginInstance, as kvx render drives it
    LeanSleep,       // one instance, not called while asleep, output left alone: downstream was
                     // told it is constant
};

// Blocks run and blocks in which the module was called, whatever the host.
struct BlockCounts {
    int64_t blocks = 0;
    int64_t called = 0;
};

// A pool's layout for the envelope: its seven parameter inputs and its output, 64-sample blocks.
host::VoiceLayout envelopeLayout();
// Sets every voice's parameter inputs to the note's pin values.
void setPinValues(host::VoicePool& pool, const NoteSettings& note);
// Starts the graph of every voice of the pool (one block).
void startGraph(host::VoicePool& pool);

// One instance driven by a SleepingRunner or the lean host (HostMode::SleepingRunner, LeanSleep).
class HostVoice {
public:
    // Creates an instance (tracing off, as a production host), binds its buffers with the
    // note's pin values and starts the graph.
    HostVoice(const NoteSettings& note, HostMode mode);

    // One block; `events` may be null. Returns true when the module was called.
    bool runBlock(const HostEvent* events) {
        if (mode != HostMode::LeanSleep) return runner->runBlock(BLOCK, events);
        ++lean.blocks;
        if (asleep && events == nullptr) return false;  // nothing else: no call, no copy
        return runLean(events);
    }
    // The block's output: the buffer after a call, else the held value.
    const float* output() const { return out; }
    float heldValue() const { return mode == HostMode::LeanSleep ? held : runner->heldValue(); }
    BlockCounts counts() const {
        if (mode == HostMode::LeanSleep) return lean;
        return BlockCounts{runner->stats().blocks, runner->stats().blocksCalled};
    }
    // For inspection tools.
    host::PluginInstance& pluginInstance() { return *instance; }
    host::SleepingRunner& sleepingRunner() { return *runner; }

private:
    bool runLean(const HostEvent* events);

    // What a skipped block touches comes first: one cache line per voice.
    HostMode mode;
    bool asleep = false;
    float held = 0.0f;
    BlockCounts lean;
    std::unique_ptr<host::PluginInstance> instance;
    std::unique_ptr<host::SleepingRunner> runner;
    float* out = nullptr;
};

// Events that open (trigger + gate on) and close (gate off) a note at `timestamp`.
std::vector<HostEvent> noteOnEvents(int32_t timestamp);
std::vector<HostEvent> noteOffEvents(int32_t timestamp);

// The single note, rendered whole through any host: gate on at sample 0, off after gateOn.
class HostNote {
public:
    explicit HostNote(HostMode mode);
    // Renders one note; copies it to `out` when not null.
    void render(float* out);
    BlockCounts counts() const;

private:
    std::unique_ptr<host::VoicePool> pool;  // one voice, for the pool modes
    std::unique_ptr<HostVoice> voice;       // for the others
    std::vector<HostEvent> on = noteOnEvents(0);
    std::vector<HostEvent> off = noteOffEvents(0);
};

// A voice of the many-voice session through one instance of its own (HostMode::SleepingRunner,
// LeanSleep): the note starts `onAt` samples into every period of VOICE_PERIOD seconds, its
// gate closes VOICE_NOTE.gateOn later (wrapping into the next period).
class PeriodicVoice {
public:
    PeriodicVoice(int64_t onAt, HostMode mode);
    // Block `block` (0 .. periodBlocks()-1) of the period. Returns true when the module was called.
    bool runBlock(int64_t block) {
        return host.runBlock(block == onBlock ? on.data() : (block == offBlock ? off.data() : nullptr));
    }
    static int64_t periodBlocks() { return secondsToSamples(VOICE_PERIOD) / BLOCK; }

private:
    int64_t onBlock;
    int64_t offBlock;

public:
    HostVoice host;

private:
    std::vector<HostEvent> on;
    std::vector<HostEvent> off;
};

}  // namespace kvx::bench
