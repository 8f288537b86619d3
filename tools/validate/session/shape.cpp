// Pin discovery: probing bindPinBuffer, then one block after graph start to see which pins
// report a streaming state or get written.
#include "tools/validate/session/shape.h"

#include <algorithm>

#include "tools/validate/session/guarded_buffer.h"

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
        std::fill(buffers.back().data(), buffers.back().data() + samples, unwrittenSample());
        instance.bind(pin, buffers.back().data());
    }
    return buffers;
}

ModuleShape discoverShape(const RawLibrary& library, const Context& context) {
    ModuleShape shape;
    RawHost host;
    RawInstance instance(library, context, host);
    shape.pins = probePins(instance);
    constexpr int32_t BLOCK = 64;
    std::vector<GuardedBuffer> buffers = bindUnwrittenBuffers(instance, shape.pins, BLOCK);
    // Graph start, then a zero value for every pin at sample 0: output pins report their state.
    std::vector<RawEvent> events;
    events.push_back(makeEvent(0, event::GRAPH_BEGIN, -1));
    const float zero = 0.0f;
    for (int32_t pin : shape.pins) events.push_back(makeEvent(0, event::PIN_VALUE, pin, 4, &zero, 4));
    for (size_t i = 0; i + 1 < events.size(); ++i) events[i].setPointer(event::NEXT, events[i + 1].bytes);
    host.beginBlock();
    instance.process(BLOCK, events.front().bytes);
    for (size_t k = 0; k < shape.pins.size(); ++k) {
        const int32_t pin = shape.pins[k];
        bool output = false;
        for (size_t r = 0; r < host.reportCount; ++r) output |= host.reports[r].pin == pin;
        for (int32_t i = 0; i < BLOCK; ++i) output |= !sameBits(buffers[k].data()[i], unwrittenSample());
        (output ? shape.outputs : shape.inputs).push_back(pin);
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
