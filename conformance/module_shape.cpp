// SPDX-License-Identifier: MIT
// Pin discovery: probing bindPinBuffer, then one block after graph start to see which pins
// report a streaming state or get written, and one per input to see whether it streams.
#include "conformance/module_shape.h"

#include <algorithm>

namespace kvx::conformance {

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

ProbeBlock probeBlock(const RawLibrary& library, const ModuleRef& module, RawHost& host,
                      const std::vector<int32_t>& pins, const std::vector<int32_t>& streaming) {
    RawInstance instance(library, module, host);
    ProbeBlock probe{bindUnwrittenBuffers(instance, pins, PROBE_BLOCK)};
    std::vector<RawEvent> events;
    events.push_back(makeEvent(0, event::GRAPH_BEGIN, -1));
    const float zero = 0.0f;
    for (int32_t pin : pins) events.push_back(makeEvent(0, event::PIN_VALUE, pin, 4, &zero, 4));
    for (int32_t pin : streaming) events.push_back(makeEvent(0, event::STREAM_BEGIN, pin));
    host.countdown = 0;
    host.beginBlock();
    instance.process(PROBE_BLOCK, linkEvents(events));
    probe.askedToSleep = host.sleepRequestsThisBlock > 0;
    return probe;
}

}  // namespace

ModuleShape discoverShape(const RawLibrary& library, const ModuleRef& module) {
    ModuleShape shape;
    {
        RawHost host;
        RawInstance instance(library, module, host);
        shape.pins = probePins(instance);
    }
    // Output pins report their state after graph start, or get written.
    RawHost host;
    const ProbeBlock still = probeBlock(library, module, host, shape.pins, {});
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
        if (!probeBlock(library, module, streamingHost, shape.pins, {pin}).askedToSleep)
            shape.audioInputs.push_back(pin);
    }
    return shape;
}

}  // namespace kvx::conformance
