// SPDX-License-Identifier: MIT
// StrictRunner: the block loop of a strict host over our host library.
#include "conformance/strict_runner.h"

#include <algorithm>
#include <stdexcept>

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
    : instance(driven), outputs(std::move(outputPins)), capacity(maxBlock), owed(std::move(audioInputs)) {
    for (int32_t pin : outputs) {
        GuardedBuffer& buffer =
            buffers.emplace(pin, GuardedBuffer(static_cast<size_t>(capacity))).first->second;
        instance.plugin()->bindPinBuffer(pin, buffer.data());
        monitors.emplace(pin, OutputMonitor(pin, static_cast<size_t>(capacity)));
        wrote[pin].assign(static_cast<size_t>(capacity), 0);
    }
    calls.reserve(4096);
}

bool StrictRunner::runBlock(int32_t sampleCount, const HostEvent* events) {
    if (sampleCount > capacity) throw std::invalid_argument("block longer than the runner's buffers");
    const int32_t n = std::max(sampleCount, 0);
    const Block block{counters.blocks, instance.position(), n};
    ++counters.blocks;
    counters.samples += n;
    if (sleeping && honourSleep && events == nullptr) {
        // Not called: the host holds each output's value.
        for (int32_t pin : outputs) {
            std::fill_n(buffers.at(pin).data(), n, monitors.at(pin).held());
            std::fill_n(wrote.at(pin).begin(), n, 0);
        }
        ++counters.blocksSlept;
        instance.skip(n);
        return false;
    }

    host::HostServices& host = instance.host();
    host.sleepCountdown = std::max(minimumCountdown, sampleCount);
    host.clearSleepRequest();
    owed.beginBlock(block.start, n, host.sleepCountdown);
    for (const HostEvent* event = events; event != nullptr; event = event->next)
        owed.event(event->timestamp, event->type, event->pinId);
    for (int32_t pin : outputs) buffers.at(pin).poison();
    const size_t traced = host.trace.size();
    instance.process(sampleCount, events);
    ++counters.blocksCalled;
    if (host.trace.size() == host.trace.capacity() || !host.recordTrace)
        keep("the host's trace missed calls of " + block.describe() + "; reserve more");

    calls.clear();
    appendModuleCalls(host.trace, traced, calls);
    sleeping = host.sleepRequested && honourSleep;
    counters.sleepRequests += host.sleepRequested ? 1 : 0;
    judge(block);
    return true;
}

void StrictRunner::judge(const Block& block) {
    int32_t firstWritten = block.length;
    for (int32_t pin : outputs) {
        const GuardedBuffer& buffer = buffers.at(pin);
        for (int32_t i = 0; i < block.length; ++i)
            wrote.at(pin)[static_cast<size_t>(i)] = buffer.written(static_cast<size_t>(i)) ? 1 : 0;
        if (const auto outside = buffer.firstWriteOutside(static_cast<size_t>(block.length)))
            keep("output pin " + std::to_string(pin) + " written at index " + std::to_string(*outside) +
                 ", outside " + block.describe());
        firstWritten = buffer.firstWrittenBefore(firstWritten);
    }
    const OwedSpan span = owed.endBlock(calls.data(), calls.size(), firstWritten);
    for (int32_t pin : outputs) {
        OutputMonitor& monitor = monitors.at(pin);
        monitor.readCalls(calls.data(), calls.size(), block);
        monitor.follow(buffers.at(pin).data(), block, span, &owed);
        for (const std::string* evidence : {&monitor.unwrittenOwed(), &monitor.sleptWhileStreaming(),
                                            &monitor.notConstant(), &monitor.nonFinite()})
            keep(*evidence);
        buffers.at(pin).armGuards();
    }
}

void StrictRunner::keep(const std::string& evidence) {
    if (firstViolation.empty()) firstViolation = evidence;
}

}  // namespace kvx::conformance
