// SPDX-License-Identifier: MIT
// BlockLoop: holding, poisoning, the call, the buffer checks and following the outputs.
#include "conformance/block_loop.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include "conformance/raw_abi.h"

namespace kvx::conformance {

namespace {

void keepFirst(std::string& evidence, const std::string& candidate) {
    if (evidence.empty()) evidence = candidate;
}

}  // namespace

BlockLoop::BlockLoop(std::vector<int32_t> outputPins, const std::vector<int32_t>& inputs,
                     std::vector<int32_t> audioInputs, int32_t maxBlock, int64_t firstSample)
    : outputs(std::move(outputPins)), capacity(maxBlock), start(firstSample), owed(std::move(audioInputs)) {
    for (int32_t pin : inputs) {
        buffers.emplace(pin, GuardedBuffer(static_cast<size_t>(capacity)));
        inputsBefore[pin].reserve(static_cast<size_t>(capacity));
    }
    for (int32_t pin : outputs) {
        buffers.emplace(pin, GuardedBuffer(static_cast<size_t>(capacity)));
        monitors.emplace(pin, OutputMonitor(pin, static_cast<size_t>(capacity)));
    }
}

Block BlockLoop::next(int32_t sampleCount) const {
    return Block{counters.blocks, start, std::max(sampleCount, 0)};
}

bool BlockLoop::runBlock(int32_t sampleCount, int32_t countdown, const void* events, const Process& process) {
    if (sampleCount > capacity) throw std::invalid_argument("block longer than the loop's buffers");
    const Block block = next(sampleCount);
    ++counters.blocks;
    counters.samples += block.length;
    start += block.length;
    if (sleeping && honourSleep && events == nullptr) {
        // Not called: the host holds each output's value.
        for (int32_t pin : outputs)
            std::fill_n(buffers.at(pin).data(), block.length, monitors.at(pin).held());
        ++counters.blocksSlept;
        return false;
    }

    for (int32_t pin : outputs) buffers.at(pin).poison();
    if (found.inputWritten.empty())
        for (auto& [pin, copy] : inputsBefore)
            copy.assign(buffers.at(pin).data(), buffers.at(pin).data() + capacity);
    owed.beginBlock(block.start, block.length, countdown);
    forEachEvent(events, [this](int32_t time, int32_t type, int32_t pin) { owed.event(time, type, pin); });
    const HeardCalls heard = process(block, sampleCount, events);
    ++counters.blocksCalled;
    counters.sleepRequests += heard.sleepRequests;
    sleeping = honourSleep && heard.sleepRequests > 0;
    checkBuffers(block);
    followOutputs(block, heard);
    return true;
}

// Guard zones of every buffer in pin order, then the unused tail of every output and every input
// sample, must be as the host left them.
void BlockLoop::checkBuffers(const Block& block) {
    for (auto& [pin, buffer] : buffers) {
        const std::optional<int64_t> hit = buffer.firstGuardHit();
        if (!hit) continue;
        keepFirst(found.outsideWrite, "pin " + std::to_string(pin) + " buffer written at index " +
                                          std::to_string(*hit) + " (guard zone) in " + block.describe());
        buffer.armGuards();
    }
    for (int32_t pin : outputs)
        if (const std::optional<int64_t> past =
                buffers.at(pin).firstWrittenFrom(static_cast<size_t>(block.length)))
            keepFirst(found.outsideWrite, "output pin " + std::to_string(pin) + " written at index " +
                                              std::to_string(*past) + ", past the block end, in " +
                                              block.describe());
    for (const auto& [pin, copy] : inputsBefore) {
        const float* data = buffers.at(pin).data();
        if (!found.inputWritten.empty() || std::memcmp(copy.data(), data, copy.size() * sizeof(float)) == 0)
            continue;
        size_t i = 0;
        while (sameBits(copy[i], data[i])) ++i;
        found.inputWritten = "input pin " + std::to_string(pin) + " buffer changed at index " +
                             std::to_string(i) + " in " + block.describe();
    }
}

// The samples the module owed are worked out before any output is followed: following
// replaces the unwritten samples it may leave to the host with the held value.
void BlockLoop::followOutputs(const Block& block, const HeardCalls& heard) {
    int32_t firstWritten = block.length;
    for (int32_t pin : outputs) firstWritten = buffers.at(pin).firstWrittenBefore(firstWritten);
    OwedSpan span = owed.endBlock(heard.calls, heard.count, firstWritten);
    if (!heard.complete) span = OwedSpan{};
    for (int32_t pin : outputs) {
        OutputMonitor& monitor = monitors.at(pin);
        monitor.readCalls(heard.calls, heard.count, block);
        monitor.follow(buffers.at(pin).data(), block, span, &owed);
        keepFirst(found.nonFinite, monitor.nonFinite());
        keepFirst(found.denormal, monitor.denormal());
        keepFirst(found.notConstant, monitor.notConstant());
        keepFirst(found.sleptWhileStreaming, monitor.sleptWhileStreaming());
        keepFirst(found.unwrittenOwed, monitor.unwrittenOwed());
    }
}

}  // namespace kvx::conformance
