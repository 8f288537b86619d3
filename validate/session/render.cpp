// SPDX-License-Identifier: MIT
// A validator session on the conformance kit's block loop: per block, the session's events (after
// the policy's tampering) and input signal go in, the module is called through raw slots with the
// floating-point state compared and heap calls counted around it; what the loop found and what
// the host heard make the Rendering.
#include "validate/session/render.h"

#include <algorithm>
#include <cfenv>
#include <optional>
#include <utility>

#include "conformance/block_loop.h"
#include "conformance/guarded_buffer.h"
#include "conformance/heap_interposer.h"
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
    const void* gatherEvents(const Block& block);
    void fillInputs(const Block& block);
    HeardCalls callProcess(const Block& block, int32_t countdown, const void* events);

    const ModuleShape& shape;
    const Session& session;
    const std::vector<int32_t>& partition;
    const HostPolicy& policy;
    const int32_t capacity;  // the longest block; every buffer holds this many samples
    RawHost host;
    std::optional<RawInstance> instance;
    BlockLoop loop;
    std::vector<RawEvent> records;  // the current block's event list
    size_t nextEvent = 0;
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
      loop(shape.outputs, shape.inputs, shape.audioInputs, capacity) {
    loop.honourSleep = policy.honourSleep;
    // The rate must be set before creation: attaching may already ask for it.
    host.sampleRate = policy.useOverride ? policy.sampleRateOverride : session.sampleRate;
    instance.emplace(library, context, host, policy.creation);
    for (int32_t pin : shape.pins) instance->bind(pin, loop.buffer(pin).data());
    for (int32_t pin : shape.outputs) result.outputs[pin].reserve(static_cast<size_t>(session.length));
    records.reserve(session.events.size() + 64);
}

Rendering SessionRenderer::run() {
    for (int32_t length : partition) {
        const Block block = loop.next(length);
        const void* events = gatherEvents(block);
        fillInputs(block);
        const int32_t countdown = policy.countdown < 0 ? block.length : policy.countdown;
        loop.runBlock(block.length, countdown, events,
                      [&](const Block& b, int32_t, const void* e) { return callProcess(b, countdown, e); });
        for (int32_t pin : shape.outputs) {
            const float* data = loop.buffer(pin).data();
            result.outputs[pin].insert(result.outputs[pin].end(), data, data + block.length);
        }
    }
    const LoopEvidence& evidence = loop.evidence();
    result.guardHit = evidence.outsideWrite;
    result.inputWritten = evidence.inputWritten;
    result.nonFinite = evidence.nonFinite;
    result.denormal = evidence.denormal;
    result.sleptWhileStreaming = evidence.sleptWhileStreaming;
    result.notConstant = evidence.notConstant;
    result.unwrittenOwed = evidence.unwrittenOwed;
    result.blocksCalled = loop.stats().blocksCalled;
    result.blocksSkipped = loop.stats().blocksSlept;
    result.sleepRequests = loop.stats().sleepRequests;
    return std::move(result);
}

// The session's events that fall into the block, as linked wire records with block-relative
// times, after the policy's tampering.
const void* SessionRenderer::gatherEvents(const Block& block) {
    records.clear();
    while (nextEvent < session.events.size() && session.events[nextEvent].time < block.start + block.length) {
        const SessionEvent& e = session.events[nextEvent++];
        RawEvent record =
            makeEvent(static_cast<int32_t>(e.time - block.start), e.type, e.pin, e.size, e.inlineValue, 8);
        if (e.data != nullptr) record.setPointer(event::DATA, e.data);
        records.push_back(record);
    }
    if (policy.tamper) policy.tamper(block.index, block.length, records);
    return linkEvents(records);
}

// Inputs get the session's signal for the block and zeros past it.
void SessionRenderer::fillInputs(const Block& block) {
    for (int32_t pin : shape.inputs) {
        float* data = loop.buffer(pin).data();
        auto signal = session.inputs.find(pin);
        for (int32_t i = 0; i < capacity; ++i)
            data[i] = i < block.length && signal != session.inputs.end()
                          ? signal->second[static_cast<size_t>(block.start + i)]
                          : 0.0f;
    }
}

// One process call, with the floating-point control state compared around it and, when the
// policy asks, heap and lock calls counted during it.
HeardCalls SessionRenderer::callProcess(const Block& block, int32_t countdown, const void* events) {
    host.beginBlock();
    host.countdown = countdown;
    const bool counting = policy.countHeapAndLocks;
    HeapCounts counts;
    const uint32_t controlBefore = floatingPointControl();
    if (counting) startCounting();
    instance->process(block.length, events, policy.throughFirstView);
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
    // Calls the host could not record: the samples owed are not judged.
    return HeardCalls{host.calls.data(), host.callCount, host.callsDropped == 0, host.sleepRequestsThisBlock};
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
