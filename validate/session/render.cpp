// SPDX-License-Identifier: MIT
// The block loop of a validator session, one named step per job: gather the block's events,
// fill the buffers, hold the output while the module sleeps or call process, note sleep
// requests, check every buffer, and follow each output as a strict host hears it.
#include "validate/session/render.h"

#include <algorithm>
#include <cfenv>
#include <optional>
#include <utility>

#include "conformance/block.h"
#include "conformance/guarded_buffer.h"
#include "conformance/heap_interposer.h"
#include "conformance/output_monitor.h"
#include "conformance/owed_samples.h"
#include "conformance/raw_host.h"

namespace kvx::validate {

namespace {

// The floating-point control state a module must leave as it found it: rounding mode, and on
// x86-64 the SSE control bits (flush-to-zero, denormals-are-zero, exception masks) without
// the sticky exception flags.
uint32_t floatingPointControl() {
    uint32_t state = static_cast<uint32_t>(fegetround());
#if defined(__x86_64__)
    uint32_t csr;
    __asm__ volatile("stmxcsr %0" : "=m"(csr));
    state ^= (csr & ~0x3Fu) << 8;
#endif
    return state;
}

int32_t largestBlock(const std::vector<int32_t>& partition) {
    int32_t largest = 1;
    for (int32_t size : partition) largest = std::max(largest, size);
    return largest;
}

void keepFirst(std::string& evidence, const std::string& candidate) {
    if (evidence.empty()) evidence = candidate;
}

// Owed samples left unwritten by any rendering of this process, for takeUnwrittenOwed().
std::string unwrittenOwedSeen;

class SessionRenderer {
public:
    SessionRenderer(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                    const Session& session, const std::vector<int32_t>& partition, const HostPolicy& policy);
    Rendering run();

private:
    void gatherEvents(const Block& block);
    void fillBuffers(const Block& block);
    void holdWhileAsleep(const Block& block);
    void callProcess(const Block& block);
    void noteSleep();
    void checkBuffers(const Block& block);
    void followOutputs(const Block& block);

    const ModuleShape& shape;
    const Session& session;
    const std::vector<int32_t>& partition;
    const HostPolicy& policy;
    const int32_t capacity;  // the longest block; every buffer holds this many samples
    RawHost host;
    std::optional<RawInstance> instance;
    std::map<int32_t, GuardedBuffer> buffers;
    std::map<int32_t, OutputMonitor> monitors;
    OwedSamples owed;
    std::vector<RawEvent> records;  // the current block's event list
    size_t nextEvent = 0;
    bool asleep = false;
    Rendering result;
};

SessionRenderer::SessionRenderer(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                                 const Session& session, const std::vector<int32_t>& partition,
                                 const HostPolicy& policy)
    : shape(shape),
      session(session),
      partition(partition),
      policy(policy),
      capacity(largestBlock(partition)),
      owed(shape.audioInputs) {
    // The rate must be set before creation: attaching may already ask for it.
    host.sampleRate = policy.useOverride ? policy.sampleRateOverride : session.sampleRate;
    instance.emplace(library, context, host, policy.creation);
    for (int32_t pin : shape.pins) {
        buffers.emplace(pin, GuardedBuffer(static_cast<size_t>(capacity)));
        instance->bind(pin, buffers.at(pin).data());
    }
    for (int32_t pin : shape.outputs) {
        monitors.emplace(pin, OutputMonitor(pin, static_cast<size_t>(capacity)));
        result.outputs[pin].reserve(static_cast<size_t>(session.length));
    }
    records.reserve(session.events.size() + 64);
}

Rendering SessionRenderer::run() {
    Block block;
    for (size_t k = 0; k < partition.size(); ++k) {
        block.index = static_cast<int64_t>(k);
        block.length = partition[k];
        gatherEvents(block);
        fillBuffers(block);
        if (policy.honourSleep && asleep && records.empty()) {
            holdWhileAsleep(block);
        } else {
            callProcess(block);
            noteSleep();
            checkBuffers(block);
            followOutputs(block);
        }
        block.start += block.length;
    }
    return std::move(result);
}

// The session's events that fall into the block, as linked wire records with block-relative
// times, after the policy's tampering.
void SessionRenderer::gatherEvents(const Block& block) {
    records.clear();
    while (nextEvent < session.events.size() && session.events[nextEvent].time < block.start + block.length) {
        const SessionEvent& e = session.events[nextEvent++];
        RawEvent record =
            makeEvent(static_cast<int32_t>(e.time - block.start), e.type, e.pin, e.size, e.inlineValue, 8);
        if (e.data != nullptr) record.setPointer(event::DATA, e.data);
        records.push_back(record);
    }
    if (policy.tamper) policy.tamper(block.index, block.length, records);
    for (size_t i = 0; i + 1 < records.size(); ++i) records[i].setPointer(event::NEXT, records[i + 1].bytes);
    if (!records.empty()) records.back().setPointer(event::NEXT, nullptr);
}

// Inputs get the session's signal for the block and zeros past it; outputs the unwritten pattern.
void SessionRenderer::fillBuffers(const Block& block) {
    for (int32_t pin : shape.inputs) {
        float* data = buffers.at(pin).data();
        auto signal = session.inputs.find(pin);
        for (int32_t i = 0; i < capacity; ++i)
            data[i] = i < block.length && signal != session.inputs.end()
                          ? signal->second[static_cast<size_t>(block.start + i)]
                          : 0.0f;
    }
    for (int32_t pin : shape.outputs)
        std::fill(buffers.at(pin).data(), buffers.at(pin).data() + capacity, unwrittenSample());
}

// A host honouring sleep does not call the module; each output holds its last value.
void SessionRenderer::holdWhileAsleep(const Block& block) {
    for (int32_t pin : shape.outputs)
        result.outputs[pin].insert(result.outputs[pin].end(), static_cast<size_t>(block.length),
                                   monitors.at(pin).held());
    ++result.blocksSkipped;
}

// One process call, with the floating-point control state compared around it and, when the
// policy asks, heap and lock calls counted during it.
void SessionRenderer::callProcess(const Block& block) {
    host.beginBlock();
    host.countdown = policy.countdown < 0 ? block.length : policy.countdown;
    owed.beginBlock(block.start, block.length, host.countdown);
    for (const RawEvent& record : records)
        owed.event(record.get32(event::TIMESTAMP), record.get32(event::TYPE), record.get32(event::PIN));
    const bool counting = policy.countHeapAndLocks;
    HeapCounts counts;
    const uint32_t controlBefore = floatingPointControl();
    if (counting) startCounting();
    instance->process(block.length, records.empty() ? nullptr : records.front().bytes,
                      policy.throughFirstView);
    if (counting) counts = stopCounting();
    if (floatingPointControl() != controlBefore)
        keepFirst(result.fpEnvironment, "the floating-point control state changed in " + block.describe());
    if (counting) {
        const int64_t heapCalls = counts.allocations + counts.frees;
        result.heapCalls += heapCalls;
        result.lockCalls += counts.lockCalls;
        if (heapCalls > 0 || counts.lockCalls > 0)
            keepFirst(result.heapOrLock, std::to_string(heapCalls) + " heap and " +
                                             std::to_string(counts.lockCalls) + " lock calls in " +
                                             block.describe());
    }
    ++result.blocksCalled;
}

void SessionRenderer::noteSleep() {
    result.sleepRequests += host.sleepRequestsThisBlock;
    asleep = policy.honourSleep && host.sleepRequestsThisBlock > 0;
}

// Guard zones, the unused tail of every output and every input sample must be as the host
// left them.
void SessionRenderer::checkBuffers(const Block& block) {
    const int32_t n = block.length;
    for (auto& [pin, buffer] : buffers) {
        const std::optional<int64_t> hit = buffer.firstGuardHit();
        if (!hit) continue;
        keepFirst(result.guardHit, "pin " + std::to_string(pin) + " buffer written at index " +
                                       std::to_string(*hit) + " (guard zone) in " + block.describe());
        buffer.armGuards();
    }
    for (int32_t pin : shape.outputs)
        if (const std::optional<int64_t> past = buffers.at(pin).firstWrittenFrom(static_cast<size_t>(n)))
            keepFirst(result.guardHit, "output pin " + std::to_string(pin) + " written at index " +
                                           std::to_string(*past) + ", past the block end, in " +
                                           block.describe());
    for (int32_t pin : shape.inputs) {
        const float* data = buffers.at(pin).data();
        auto signal = session.inputs.find(pin);
        for (int32_t i = 0; i < capacity && result.inputWritten.empty(); ++i) {
            const float expected = i < n && signal != session.inputs.end()
                                       ? signal->second[static_cast<size_t>(block.start + i)]
                                       : 0.0f;
            if (!sameBits(data[i], expected))
                result.inputWritten = "input pin " + std::to_string(pin) + " buffer changed at index " +
                                      std::to_string(i) + " in " + block.describe();
        }
    }
}

// The samples the module owed are worked out before any output is followed: following
// replaces the unwritten samples it may leave to the host with the held value.
void SessionRenderer::followOutputs(const Block& block) {
    int32_t firstWritten = block.length;
    for (int32_t pin : shape.outputs) firstWritten = buffers.at(pin).firstWrittenBefore(firstWritten);
    OwedSpan span = owed.endBlock(host.calls.data(), host.callCount, firstWritten);
    if (host.callsDropped > 0) span = OwedSpan{};  // calls the host could not record: judge nothing
    for (int32_t pin : shape.outputs) {
        OutputMonitor& monitor = monitors.at(pin);
        float* data = buffers.at(pin).data();
        monitor.readCalls(host.calls.data(), host.callCount, block);
        monitor.follow(data, block, span, &owed);
        keepFirst(result.nonFinite, monitor.nonFinite());
        keepFirst(result.denormal, monitor.denormal());
        keepFirst(result.notConstant, monitor.notConstant());
        keepFirst(result.sleptWhileStreaming, monitor.sleptWhileStreaming());
        keepFirst(result.unwrittenOwed, monitor.unwrittenOwed());
        result.outputs[pin].insert(result.outputs[pin].end(), data, data + block.length);
    }
}

}  // namespace

Rendering render(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                 const Session& session, const std::vector<int32_t>& partition, const HostPolicy& policy) {
    Rendering rendering = SessionRenderer(library, context, shape, session, partition, policy).run();
    if (!rendering.unwrittenOwed.empty())
        keepFirst(unwrittenOwedSeen,
                  "session seed " + std::to_string(session.seed) + ": " + rendering.unwrittenOwed);
    return rendering;
}

std::string takeUnwrittenOwed() { return std::exchange(unwrittenOwedSeen, std::string()); }

std::string firstDifference(const Rendering& a, const Rendering& b, int64_t limit) {
    for (const auto& [pin, samples] : a.outputs) {
        auto other = b.outputs.find(pin);
        if (other == b.outputs.end()) return "output pin " + std::to_string(pin) + " missing";
        const size_t count =
            limit < 0 ? std::min(samples.size(), other->second.size())
                      : std::min({samples.size(), other->second.size(), static_cast<size_t>(limit)});
        for (size_t i = 0; i < count; ++i)
            if (!sameBits(samples[i], other->second[i]))
                return "output pin " + std::to_string(pin) + " sample " + std::to_string(i) + ": " +
                       sampleText(samples[i]) + " vs " + sampleText(other->second[i]);
    }
    return "";
}

}  // namespace kvx::validate
