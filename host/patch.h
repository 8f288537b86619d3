// SPDX-License-Identifier: MIT
// Patch: modules wired into a graph and run block by block, each after the modules that feed
// it, an output's buffer being the buffer its connected inputs read. Streaming and sleep travel
// along every connection: a module's "my output is constant from sample t" reaches the inputs
// it feeds as stream end at t, a module that sleeps is not called and its output holds its
// value, and a whole chain falls asleep by itself. A loop closed by a one-sample-delay
// connection runs one sample per call, so the output is the same at every block size.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "host/event_order.h"
#include "host/patch_module_host.h"
#include "host/patch_order.h"
#include "host/patch_graph.h"
#include "interfaces/host_event.h"
#include "interfaces/plugin_interfaces.h"

namespace kvx::host {

// An event the caller sends a module's pin in the coming block: a value (notes, control
// changes), or stream begin/end for an input the caller drives through input().
struct PatchEvent {
    int32_t module = 0;     // index into PatchGraph::modules
    int32_t timestamp = 0;  // sample of the block
    int32_t type = EV_PIN_VALUE;
    int32_t pin = 0;
    float value = 0.0f;  // for EV_PIN_VALUE; a bool input's value is true when not 0
    EventRank rank = EventRank::Change;
};

struct PatchStats {
    int64_t blocks = 0;         // runBlock calls
    int64_t calls = 0;          // process() calls, over all modules (a loop's module: one a sample)
    int64_t sleepRequests = 0;  // over all modules
    // Streaming reports that found the store of a block full and were merged into the latest
    // (a module reporting more than twice a sample): none in a sound patch.
    int64_t mergedReports = 0;
};

struct PatchModuleStats {
    int64_t calls = 0;
    int64_t blocksCalled = 0;  // blocks in which the module was called at all
    int64_t sleepRequests = 0;
};

struct PatchLimits {
    int32_t eventsPerBlock = 1024;  // caller events one runBlock accepts
};

class Patch {
public:
    // Loads each library once, creates and opens one instance per module with host services
    // of its own reporting `sampleRate`, binds every buffer and works out the run order.
    // Throws HostError with the patch, module and pin for anything that would stop it running:
    // an unknown module or pin, an input connected twice, a loop without a one-sample delay
    // (naming its modules), a library that does not load, a module the factory refuses, a pin
    // that refuses its buffer.
    Patch(const PatchGraph& graph, float sampleRate, int32_t maxBlock, const PatchLimits& limits = {});
    ~Patch();
    Patch(const Patch&) = delete;
    Patch& operator=(const Patch&) = delete;

    // false: call every module every block (every sample in a loop), ignoring sleep requests.
    bool honourSleep = true;
    // The countdown handed out is max(minimumCountdown, the call's sample count).
    int32_t minimumCountdown = 1;

    // Runs one block of `sampleCount` samples (0 runs nothing). `events`: per module in
    // non-decreasing timestamp order (modules may interleave); each module gets them merged
    // with the stream changes of its inputs and, in the first block, graph start and its
    // initial values, in host/event_order.h's order. Throws HostError before any module runs
    // for a count below 0 or above maxBlock, or events for no module, outside the block, out
    // of order or too many. Allocates nothing, takes no lock, makes no system call.
    void runBlock(int32_t sampleCount, std::span<const PatchEvent> events = {}) {
        if (quiet && honourSleep && events.empty() && sampleCount > 0 && sampleCount <= maxBlock) {
            ++counters.blocks;  // every module asleep holding its value, nothing on its way
            return;
        }
        runAll(sampleCount, events);
    }

    int32_t moduleCount() const noexcept;
    int32_t maxBlockSize() const noexcept { return maxBlock; }
    // The stages in run order (kvx info prints it).
    const std::vector<PatchStage>& stages() const noexcept;
    // Patch output `index` (PatchGraph::outputs) for the last block.
    const float* output(size_t index) const noexcept;
    // Any audio output of a module for the last block; null for a pin that is none.
    const float* output(int32_t module, int32_t pin) const noexcept;
    // The buffer of an audio input no connection feeds (null for any other pin): it holds the
    // pin's initial value until the caller writes it; what it holds when a block runs is what
    // the module reads (send stream begin/end as PatchEvents when it starts or stops moving).
    float* input(int32_t module, int32_t pin) noexcept;
    // Patch output `index` after the last block: the value it holds when its module's latest
    // report declares it constant, nothing while it streams or has said nothing yet.
    std::optional<float> constantOutput(size_t index) const noexcept;
    // Before the first block: the value an input starts with, as if the graph had given it (a
    // control input's value at graph start, an unfed audio input's constant), so that a host
    // that learns its settings only when it first runs starts as one that knew them. false (and
    // nothing changed) once a block has run or for a pin the patch does not drive.
    bool setStartValue(int32_t module, int32_t pin, float value) noexcept;
    // What a module's audio output `pin` told its connections in the last block, in time order:
    // that it streams from a sample on, or holds a value from there (a new state, or a new
    // constant value). Empty when the last block was skipped (every module asleep) or had no
    // samples, and for a pin that is no audio output.
    std::span<const StreamChange> streamChanges(int32_t module, int32_t pin) const noexcept;
    bool asleep(int32_t module) const noexcept;
    IMpPlugin2* plugin(int32_t module) const noexcept;
    const PatchStats& stats() const noexcept { return counters; }
    const PatchModuleStats& moduleStats(int32_t module) const noexcept;

    struct Parts;

private:
    void runAll(int32_t sampleCount, std::span<const PatchEvent> events);

    std::unique_ptr<Parts> parts;
    int32_t maxBlock;
    bool quiet = false;  // every module asleep, every buffer holding its value, nothing carried
    int64_t changesOfBlock = 0;  // counters.blocks after the last block that ran its modules
    PatchStats counters;
};

}  // namespace kvx::host
