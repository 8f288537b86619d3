// SPDX-License-Identifier: MIT
// BlockLoop: one host block at a time, as every strict host of the kit runs it. While the module
// sleeps and no event is due it is not called and each output holds its value; otherwise the
// outputs are poisoned, the owed-sample rule learns the block, its countdown and its events, the
// caller's hook calls the module, the guard zones, the outputs' unused tails and the inputs are
// checked, and every output is followed as a strict host hears it. The hosts built on it differ
// only in how they call the module (raw slots, the library's C++ views, our host library) and in
// what they check besides (the floating-point state, heap calls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "conformance/block.h"
#include "conformance/guarded_buffer.h"
#include "conformance/output_monitor.h"
#include "conformance/owed_samples.h"
#include "conformance/raw_host.h"
#include "host/sleeping_runner.h"

namespace kvx::conformance {

// What the host heard from the module during one process call.
struct HeardCalls {
    const ModuleCall* calls = nullptr;  // streaming reports and sleep requests, in call order
    size_t count = 0;
    // False when the host could not hear every call (it offered no services, or dropped some):
    // the samples owed are not judged then.
    bool complete = true;
    int32_t sleepRequests = 0;  // in this call
};

// The first evidence of each kind, over every buffer and block so far; empty while none was seen.
struct LoopEvidence {
    std::string outsideWrite;  // into a guard zone of any buffer, or into an output past the block's end
    std::string inputWritten;  // an input sample changed by the call
    std::string nonFinite;
    std::string denormal;
    std::string notConstant;
    std::string sleptWhileStreaming;
    std::string unwrittenOwed;
};

class BlockLoop {
public:
    // Calls the module once for `block`, passing `sampleCount` (the count as the host gives it,
    // possibly negative) and `events` (the head of the block's event list, or null), and returns
    // what the host heard.
    using Process = std::function<HeardCalls(const Block& block, int32_t sampleCount, const void* events)>;

    // Guarded buffers of `capacity` samples for `outputs` (poisoned before every call) and for
    // `inputs` (the caller fills them; every sample must come back unchanged). Stream ends of
    // `audioInputs` raise the countdown. The first block starts at sample `start`.
    BlockLoop(std::vector<int32_t> outputs, const std::vector<int32_t>& inputs,
              std::vector<int32_t> audioInputs, int32_t capacity, int64_t start = 0);

    bool honourSleep = true;  // false: call the module every block, asleep or not

    GuardedBuffer& buffer(int32_t pin) { return buffers.at(pin); }
    const GuardedBuffer& buffer(int32_t pin) const { return buffers.at(pin); }
    float heldValue(int32_t pin) const { return monitors.at(pin).held(); }

    // The block runBlock(sampleCount) runs next (a negative count runs no samples).
    Block next(int32_t sampleCount) const;
    int64_t position() const { return start; }  // the absolute sample of the next block

    // Runs one block of at most the capacity (throws std::invalid_argument beyond it), with the
    // countdown the host answers during the call. Returns true when the module was called; then
    // or not, each output's buffer holds the block as the host hears it.
    bool runBlock(int32_t sampleCount, int32_t countdown, const void* events, const Process& process);

    bool asleep() const { return sleeping; }
    const host::RunnerStats& stats() const { return counters; }
    const LoopEvidence& evidence() const { return found; }

private:
    void checkBuffers(const Block& block);
    void followOutputs(const Block& block, const HeardCalls& heard);

    std::vector<int32_t> outputs;
    int32_t capacity;
    int64_t start;
    std::map<int32_t, GuardedBuffer> buffers;  // every pin's, in pin order
    std::map<int32_t, OutputMonitor> monitors;
    std::map<int32_t, std::vector<float>> inputsBefore;  // each input as the host filled it for the call
    OwedSamples owed;
    bool sleeping = false;
    host::RunnerStats counters;
    LoopEvidence found;
};

}  // namespace kvx::conformance
