// The module as a host sees it: ADSR.kvx loaded with dlopen through our host library, one
// instance with host-owned buffers, driven block by block by a SleepingRunner.
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

class HostVoice {
public:
    // Creates an instance (tracing off, as a production host), binds its buffers with the
    // note's pin values and starts the graph.
    HostVoice(const NoteSettings& note, bool honourSleep);

    // One block; `events` may be null.
    void runBlock(const HostEvent* events) { runner->runBlock(BLOCK, events); }
    const float* output() { return out; }
    const host::RunnerStats& stats() const { return runner->stats(); }

private:
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
    explicit HostNote(bool honourSleep);
    // Renders one note; copies it to `out` when not null.
    void render(float* out);
    const host::RunnerStats& stats() const { return voice.stats(); }

private:
    HostVoice voice;
    std::vector<HostEvent> on = noteOnEvents(0);
    std::vector<HostEvent> off = noteOffEvents(0);
};

}  // namespace kvx::bench
