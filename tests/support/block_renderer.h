// SPDX-License-Identifier: MIT
// BlockRenderer: drives one module instance through host blocks of a chosen size, with input
// signals and events given at absolute sample times, and collects its output and its calls on
// the host (absolute positions) across blocks. The host is the conformance kit's strict runner: a
// sample the module owed and left unwritten, a write outside the block, a sleep request while
// the output streams or an output moving while declared constant fails the test.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host_trace.h"
#include "host/plugin_instance.h"
#include "conformance/strict_runner.h"

namespace kvx::test {

// One sendPinStreaming call, at its absolute sample position.
struct StreamReport {
    int64_t time;
    bool streaming;
    bool operator==(const StreamReport&) const = default;
};

class BlockRenderer {
public:
    // Binds buffers of `maxBlockSize` samples to `outputPin` and to every pin in `inputPins`,
    // the module's audio inputs.
    BlockRenderer(host::PluginInstance& instance, int32_t outputPin, std::vector<int32_t> inputPins,
                  int32_t maxBlockSize = 4096);

    // An input held at one value.
    void setInput(int32_t pinId, float value);
    // An input given sample by sample from absolute time 0; its last value holds after the end.
    void setInput(int32_t pinId, std::vector<float> samples);

    // Value events at absolute sample times. Events of one time reach the module in the order
    // they were added.
    void addBool(int64_t time, int32_t pinId, bool value);
    void addFloat(int64_t time, int32_t pinId, float value);
    // An event without a value (stream begin/end, graph begin).
    void addEvent(int64_t time, int32_t type, int32_t pinId = -1);

    // Renders `samples` more samples in blocks of `blockSize` (the last one may be shorter) and
    // appends them to output(). Throws std::invalid_argument for a block size out of range.
    void render(int64_t samples, int32_t blockSize);

    // Everything rendered so far, one float per sample from absolute time 0.
    const std::vector<float>& output() const { return rendered; }
    // For each sample of output(): whether the module wrote it (false: the host held its value).
    const std::vector<bool>& writtenByModule() const { return written; }
    // Every call the module made on the host so far; `blockStart + timestamp` is absolute.
    // (The host's own trace is emptied after each block so that it never fills up.)
    const std::vector<host::TraceEntry>& trace() const { return calls; }
    // The module's streaming reports for one pin, in call order.
    std::vector<StreamReport> streamReports(int32_t pinId) const;
    int64_t sleepRequests() const;

    int64_t position() const { return now; }
    conformance::StrictRunner& runner() { return strict; }
    host::PluginInstance& instance() { return driven; }

private:
    struct Input {
        int32_t pinId;
        std::vector<float> samples;  // at least one value
    };
    struct Pending {
        int64_t time;
        int32_t type;
        int32_t pinId;
        int32_t value;  // the raw 4 bytes of a value event
        bool hasValue;
    };

    host::PluginInstance& driven;
    conformance::StrictRunner strict;
    int32_t outputPin;
    int32_t capacity;
    std::vector<Input> inputs;
    std::vector<Pending> pending;  // stable-sorted by time when a render starts
    std::vector<float> rendered;
    std::vector<bool> written;
    std::vector<host::TraceEntry> calls;
    int64_t now = 0;
};

}  // namespace kvx::test
