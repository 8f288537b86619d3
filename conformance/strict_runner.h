// SPDX-License-Identifier: MIT
// StrictRunner: drives one instance of our host library block by block as a strict host does.
// Every output is poisoned before every call, nothing is filled in on the module's behalf, and
// every sample the module owes (OwedSamples) must come back written; only the samples it may
// leave to the host take the held value. Sleep is honoured as host::SleepingRunner honours it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "conformance/block_loop.h"
#include "host/host_trace.h"
#include "host/plugin_instance.h"
#include "host/sleeping_runner.h"

namespace kvx::conformance {

// The calls a module made on our host library's services since trace entry `from`, as a strict
// host reads them: streaming reports and sleep requests, in call order.
void appendModuleCalls(const std::vector<host::TraceEntry>& trace, size_t from,
                       std::vector<ModuleCall>& calls);

class StrictRunner {
public:
    // Binds a guarded buffer of `capacity` samples to each of `outputs`. `audioInputs` are the
    // module's audio inputs (the caller binds their buffers); their stream ends count for the
    // samples owed. The host's trace must record every call (it is read after each block).
    StrictRunner(host::PluginInstance& instance, std::vector<int32_t> outputs,
                 std::vector<int32_t> audioInputs, int32_t capacity);

    bool honourSleep = true;       // false: call the module every block, asleep or not
    int32_t minimumCountdown = 1;  // the countdown handed out is max(minimumCountdown, block size)

    // Runs one block of 0..capacity samples; returns true when the module was called. Then
    // output(pin) holds the block as the host hears it.
    bool runBlock(int32_t sampleCount, const HostEvent* events);

    const float* output(int32_t pin) const { return loop.buffer(pin).data(); }
    // Whether the module itself wrote sample i of the last block of `pin` (false: held by the host).
    bool moduleWrote(int32_t pin, int32_t i) const { return wrote.at(pin)[static_cast<size_t>(i)] != 0; }
    float heldValue(int32_t pin) const { return loop.heldValue(pin); }
    bool asleep() const { return loop.asleep(); }
    const host::RunnerStats& stats() const { return loop.stats(); }
    // The first evidence of a broken rule, empty while the module keeps them all: a write outside
    // the block, an owed sample left unwritten, a sleep request while an output is declared
    // streaming, an output moving while declared constant, a sample not finite.
    const std::string& violation() const { return firstViolation; }

private:
    HeardCalls call(const Block& block, int32_t sampleCount, const HostEvent* events);
    void keep(const std::string& evidence);

    host::PluginInstance& instance;
    std::vector<int32_t> outputs;
    BlockLoop loop;
    std::map<int32_t, std::vector<char>> wrote;  // per output, per sample of the last block
    std::vector<ModuleCall> calls;               // the current block's, from the host's trace
    std::string firstViolation;
};

}  // namespace kvx::conformance
