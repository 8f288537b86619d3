// SPDX-License-Identifier: MIT
// BlockRenderer: splitting absolute-time inputs and events into host blocks.
#include "tests/support/block_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/event_list.h"

namespace kvx::test {

BlockRenderer::BlockRenderer(host::PluginInstance& instance, int32_t outputPin,
                             std::vector<int32_t> inputPins, int32_t maxBlockSize)
    : driven(instance),
      strict(instance, {outputPin}, inputPins, maxBlockSize),
      outputPin(outputPin),
      capacity(maxBlockSize) {
    // Room for a few calls per sample, so that no call of a block goes unrecorded.
    driven.host().reserveTrace(4 * static_cast<size_t>(capacity) + 64);
    for (int32_t pin : inputPins) {
        driven.bindBuffer(pin, static_cast<size_t>(capacity));
        inputs.push_back(Input{pin, {0.0f}});
    }
}

void BlockRenderer::setInput(int32_t pinId, float value) { setInput(pinId, std::vector<float>{value}); }

void BlockRenderer::setInput(int32_t pinId, std::vector<float> samples) {
    if (samples.empty()) samples.push_back(0.0f);
    for (Input& input : inputs)
        if (input.pinId == pinId) input.samples = std::move(samples);
}

void BlockRenderer::addBool(int64_t time, int32_t pinId, bool value) {
    pending.push_back(Pending{time, EV_PIN_VALUE, pinId, value ? 1 : 0, true});
}

void BlockRenderer::addFloat(int64_t time, int32_t pinId, float value) {
    int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    pending.push_back(Pending{time, EV_PIN_VALUE, pinId, bits, true});
}

void BlockRenderer::addEvent(int64_t time, int32_t type, int32_t pinId) {
    pending.push_back(Pending{time, type, pinId, 0, false});
}

void BlockRenderer::render(int64_t samples, int32_t blockSize) {
    if (blockSize < 1 || blockSize > capacity) throw std::invalid_argument("block size out of range");
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Pending& a, const Pending& b) { return a.time < b.time; });
    rendered.reserve(rendered.size() + static_cast<size_t>(samples));
    host::HostServices& host = driven.host();
    size_t next =
        static_cast<size_t>(std::lower_bound(pending.begin(), pending.end(), now,
                                             [](const Pending& e, int64_t t) { return e.time < t; }) -
                            pending.begin());
    host::EventList events;
    const int64_t end = now + samples;
    while (now < end) {
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(blockSize, end - now));
        for (Input& input : inputs) {
            float* buffer = driven.buffer(input.pinId);
            const int64_t last = static_cast<int64_t>(input.samples.size()) - 1;
            for (int32_t i = 0; i < count; ++i)
                buffer[i] = input.samples[static_cast<size_t>(std::min<int64_t>(now + i, last))];
        }
        events.clear();
        for (; next < pending.size() && pending[next].time < now + count; ++next) {
            const Pending& e = pending[next];
            const int32_t at = static_cast<int32_t>(e.time - now);
            if (e.hasValue)
                events.addInline(at, e.pinId, 4, &e.value, 4);
            else
                events.add(at, e.type, e.pinId);
        }
        const bool violatedBefore = !strict.violation().empty();
        strict.runBlock(count, events.empty() ? nullptr : events.head());
        if (!violatedBefore && !strict.violation().empty())
            ADD_FAILURE() << "strict host: " << strict.violation();
        const float* out = strict.output(outputPin);
        rendered.insert(rendered.end(), out, out + count);
        for (int32_t i = 0; i < count; ++i) written.push_back(strict.moduleWrote(outputPin, i));
        calls.insert(calls.end(), host.trace.begin(), host.trace.end());
        host.trace.clear();
        now += count;
    }
}

std::vector<StreamReport> BlockRenderer::streamReports(int32_t pinId) const {
    std::vector<StreamReport> reports;
    for (const host::TraceEntry& call : calls)
        if (call.call == host::HostCall::SendPinStreaming && call.pinId == pinId)
            reports.push_back(StreamReport{call.blockStart + call.timestamp, call.value != 0});
    return reports;
}

int64_t BlockRenderer::sleepRequests() const {
    return std::count_if(calls.begin(), calls.end(), [](const host::TraceEntry& call) {
        return call.call == host::HostCall::RequestSleep;
    });
}

}  // namespace kvx::test
