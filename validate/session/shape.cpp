// SPDX-License-Identifier: MIT
// Pin discovery: probing bindPinBuffer, then one block after graph start to see which pins
// report a streaming state or get written, and one per input to see whether it streams.
#include "validate/session/shape.h"

#include <algorithm>

namespace kvx::validate {

std::vector<int32_t> probePins(const RawInstance& instance, int32_t limit) {
    // Probing binds this buffer; callers rebind real buffers before processing.
    static float probeBuffer[8192];
    std::vector<int32_t> found;
    for (int32_t pin = 0; pin < limit; ++pin)
        if (instance.bind(pin, probeBuffer) == 0) found.push_back(pin);
    return found;
}

std::vector<GuardedBuffer> bindUnwrittenBuffers(const RawInstance& instance, const std::vector<int32_t>& pins,
                                                int32_t samples) {
    std::vector<GuardedBuffer> buffers;
    buffers.reserve(pins.size());
    for (int32_t pin : pins) {
        buffers.emplace_back(samples);
        instance.bind(pin, buffers.back().data());
    }
    return buffers;
}

namespace {

constexpr int32_t PROBE_BLOCK = 64;

// One block on a new instance: graph start, a zero value for every pin and a stream begin for
// each of `streaming`, all at sample 0, with a countdown of 0. Returns the buffers, or whether
// the module asked to sleep.
struct ProbeBlock {
    std::vector<GuardedBuffer> buffers;
    bool askedToSleep = false;
};

ProbeBlock probeBlock(const RawLibrary& library, const Context& context, RawHost& host,
                      const std::vector<int32_t>& pins, const std::vector<int32_t>& streaming) {
    RawInstance instance(library, context, host);
    ProbeBlock probe{bindUnwrittenBuffers(instance, pins, PROBE_BLOCK)};
    std::vector<RawEvent> events;
    events.push_back(makeEvent(0, event::GRAPH_BEGIN, -1));
    const float zero = 0.0f;
    for (int32_t pin : pins) events.push_back(makeEvent(0, event::PIN_VALUE, pin, 4, &zero, 4));
    for (int32_t pin : streaming) events.push_back(makeEvent(0, event::STREAM_BEGIN, pin));
    for (size_t i = 0; i + 1 < events.size(); ++i) events[i].setPointer(event::NEXT, events[i + 1].bytes);
    host.countdown = 0;
    host.beginBlock();
    instance.process(PROBE_BLOCK, events.front().bytes);
    probe.askedToSleep = host.sleepRequestsThisBlock > 0;
    return probe;
}

}  // namespace

ModuleShape discoverShape(const RawLibrary& library, const Context& context) {
    ModuleShape shape;
    {
        RawHost host;
        RawInstance instance(library, context, host);
        shape.pins = probePins(instance);
    }
    // Output pins report their state after graph start, or get written.
    RawHost host;
    const ProbeBlock still = probeBlock(library, context, host, shape.pins, {});
    for (size_t k = 0; k < shape.pins.size(); ++k) {
        const int32_t pin = shape.pins[k];
        bool output = still.buffers[k].firstWrittenFrom(0).has_value();
        for (size_t c = 0; c < host.callCount; ++c)
            output |= host.calls[c].kind == ModuleCall::Streaming && host.calls[c].pin == pin;
        (output ? shape.outputs : shape.inputs).push_back(pin);
    }
    if (!still.askedToSleep) return shape;
    for (int32_t pin : shape.inputs) {
        RawHost streamingHost;
        if (!probeBlock(library, context, streamingHost, shape.pins, {pin}).askedToSleep)
            shape.audioInputs.push_back(pin);
    }
    return shape;
}

std::string describeIds(const std::vector<int32_t>& ids) {
    std::string text;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!text.empty()) text += ",";
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
        text += std::to_string(ids[i]);
        if (j > i) text += "-" + std::to_string(ids[j]);
        i = j;
    }
    return text.empty() ? "none" : text;
}

}  // namespace kvx::validate
