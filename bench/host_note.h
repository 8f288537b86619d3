// The module as a host sees it: ADSR.kvx loaded with dlopen through our host library, one
// instance with host-owned buffers, driven block by block by a SleepingRunner or a lean host.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/note.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"

namespace kvx::bench {

// The library, loaded once for the whole process.
const host::PluginLibrary& moduleLibrary();

// How the host treats a module that asked to sleep.
enum class HostMode {
    SleepingRunner,  // host::SleepingRunner: not called; its buffer keeps the held value
    LeanSleep,       // not called, output left alone: downstream was told it is constant
    EveryBlock,      // host::SleepingRunner ignoring sleep: called every block
};

class HostVoice {
public:
    // Creates an instance (tracing off, as a production host), binds its buffers with the
    // note's pin values and starts the graph.
    HostVoice(const NoteSettings& note, HostMode mode);

    // One block; `events` may be null. Returns true when the module was called.
    bool runBlock(const HostEvent* events) {
        if (mode != HostMode::LeanSleep) return runner->runBlock(BLOCK, events);
        ++leanStats.blocks;
        if (asleep && events == nullptr) {
            ++leanStats.blocksSlept;  // nothing else: no call, no copy, no bookkeeping elsewhere
            return false;
        }
        return runLean(events);
    }
    const float* output() { return out; }
    // The constant output while the module sleeps (LeanSleep: the buffer is not refilled).
    float heldValue() const { return mode == HostMode::LeanSleep ? held : runner->heldValue(); }
    host::RunnerStats stats() const {
        if (mode != HostMode::LeanSleep) return runner->stats();
        host::RunnerStats stats = leanStats;
        stats.samples = stats.blocks * BLOCK;
        return stats;
    }

private:
    bool runLean(const HostEvent* events);

    // What a skipped block touches comes first: one cache line per voice.
    HostMode mode;
    bool asleep = false;
    float held = 0.0f;
    host::RunnerStats leanStats;
    std::unique_ptr<host::PluginInstance> instance;
    std::unique_ptr<host::SleepingRunner> runner;
    float* out = nullptr;
};

// Events that open (trigger + gate on) and close (gate off) a note at `timestamp`.
std::vector<HostEvent> noteOnEvents(int32_t timestamp);
std::vector<HostEvent> noteOffEvents(int32_t timestamp);

// The single note, rendered whole through a HostVoice: gate on at sample 0, off after gateOn.
class HostNote {
public:
    explicit HostNote(HostMode mode);
    // Renders one note; copies it to `out` when not null.
    void render(float* out);
    host::RunnerStats stats() const { return voice.stats(); }

private:
    HostVoice voice;
    std::vector<HostEvent> on = noteOnEvents(0);
    std::vector<HostEvent> off = noteOffEvents(0);
};

// A voice of the many-voice session: the note starts `onAt` samples into every period of
// VOICE_PERIOD seconds, its gate closes VOICE_NOTE.gateOn later (wrapping into the next period).
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
