// SPDX-License-Identifier: MIT
// StrictRunner: the conformance kit's block loop over our host library.
#include "conformance/strict_runner.h"

#include <algorithm>

namespace kvx::conformance {

void appendModuleCalls(const std::vector<host::TraceEntry>& trace, size_t from,
                       std::vector<ModuleCall>& calls) {
    for (size_t i = from; i < trace.size(); ++i) {
        const host::TraceEntry& entry = trace[i];
        if (entry.call == host::HostCall::SendPinStreaming)
            calls.push_back(
                ModuleCall{ModuleCall::Streaming, entry.timestamp, entry.pinId, entry.value != 0});
        else if (entry.call == host::HostCall::RequestSleep)
            calls.push_back(ModuleCall{ModuleCall::SleepRequest});
    }
}

StrictRunner::StrictRunner(host::PluginInstance& driven, std::vector<int32_t> outputPins,
                           std::vector<int32_t> audioInputs, int32_t maxBlock)
    : instance(driven),
      outputs(outputPins),
      loop(std::move(outputPins), {}, std::move(audioInputs), maxBlock, driven.position()) {
    for (int32_t pin : outputs) {
        instance.plugin()->bindPinBuffer(pin, loop.buffer(pin).data());
        wrote[pin].assign(static_cast<size_t>(maxBlock), 0);
    }
    calls.reserve(4096);
}

bool StrictRunner::runBlock(int32_t sampleCount, const HostEvent* events) {
    loop.honourSleep = honourSleep;
    const bool called = loop.runBlock(sampleCount, std::max(minimumCountdown, sampleCount), events,
                                      [this, events](const Block& block, int32_t count, const void*) {
                                          return call(block, count, events);
                                      });
    if (!called) {
        const int32_t n = std::max(sampleCount, 0);
        for (int32_t pin : outputs) std::fill_n(wrote.at(pin).begin(), n, 0);
        instance.skip(n);
        return false;
    }
    const LoopEvidence& evidence = loop.evidence();
    for (const std::string* found :
         {&evidence.outsideWrite, &evidence.unwrittenOwed, &evidence.sleptWhileStreaming,
          &evidence.notConstant, &evidence.nonFinite})
        keep(*found);
    return true;
}

// One call through our host library, read back from the host's trace.
HeardCalls StrictRunner::call(const Block& block, int32_t sampleCount, const HostEvent* events) {
    host::HostServices& host = instance.host();
    host.sleepCountdown = std::max(minimumCountdown, sampleCount);
    host.clearSleepRequest();
    const size_t traced = host.trace.size();
    instance.process(sampleCount, events);
    if (host.trace.size() == host.trace.capacity() || !host.recordTrace)
        keep("the host's trace missed calls of " + block.describe() + "; reserve more");
    calls.clear();
    appendModuleCalls(host.trace, traced, calls);
    for (int32_t pin : outputs)
        for (int32_t i = 0; i < block.length; ++i)
            wrote.at(pin)[static_cast<size_t>(i)] = loop.buffer(pin).written(static_cast<size_t>(i)) ? 1 : 0;
    // Every call is in the trace, or the loss is the violation reported.
    return HeardCalls{calls.data(), calls.size(), true, host.sleepRequested ? 1 : 0};
}

void StrictRunner::keep(const std::string& evidence) {
    if (firstViolation.empty()) firstViolation = evidence;
}

}  // namespace kvx::conformance
