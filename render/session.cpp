// SPDX-License-Identifier: MIT
// The block loop of `kvx render`.
#include "render/session.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <limits>
#include <random>
#include <utility>

#include "host/accepted_pins.h"
#include "host/event_list.h"
#include "host/host_error.h"
#include "interfaces/host_event.h"
#include "interfaces/result_codes.h"

namespace kvx::render {

namespace {

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Writes one block of an audio input: a constant once over the whole buffer, ramps and files
// sample by sample.
void fillInput(float* buffer, size_t capacity, const InputTrack& track, int64_t start, int32_t count,
               bool first) {
    if (track.constant()) {
        if (first) std::fill(buffer, buffer + capacity, track.points.front().value);
        return;
    }
    for (int32_t i = 0; i < count; ++i) buffer[i] = track.valueAt(start + i);
}

}  // namespace

SessionResult runSession(host::PluginInstance& instance, const RenderModule& module, const RenderPlan& plan,
                         const std::vector<ScheduledEvent>& events, const BlockSizing& sizing,
                         const ProgressCallback& progress) {
    SessionResult result;
    host::HostServices& host = instance.host();
    host.sampleRate = static_cast<float>(plan.rate);
    host.reserveTrace(1 << 16);

    const size_t capacity = static_cast<size_t>(sizing.largest());
    const std::vector<int32_t> accepted = host::acceptedPins(*instance.plugin());
    for (const describe::PinDescription& pin : module.description.pins)
        if (pin.isAudio() && instance.bindBuffer(pin.id, capacity) != RESULT_OK)
            throw host::HostError("the module refused a buffer for pin " + std::to_string(pin.id) + " (" +
                                  pin.symbol + ")");
    // Every other pin the library accepts gets a buffer too, whatever the description says.
    for (int32_t pin : accepted)
        if (instance.buffer(pin) == nullptr) instance.bindBuffer(pin, capacity);
    instance.plugin()->openModule();

    const int32_t firstOutput = module.outputs.front().id;
    host::SleepingRunner runner(instance, firstOutput);
    if (module.outputs.size() > 1) {
        runner.honourSleep = false;
        runner.minimumCountdown = std::numeric_limits<int32_t>::max();
    }
    std::mt19937 generator(sizing.seed);
    host::EventList list;
    list.reserve(64);
    std::vector<float*> outs;
    for (const describe::PinDescription& pin : module.outputs) {
        result.outputs.emplace_back(static_cast<size_t>(plan.length));
        outs.push_back(instance.buffer(pin.id));
    }
    std::vector<bool> boolPin;  // by pin id: value events carry a boolean word
    for (const describe::PinDescription& pin : module.inputs) {
        if (static_cast<size_t>(pin.id) >= boolPin.size()) boolPin.resize(static_cast<size_t>(pin.id) + 1);
        boolPin[static_cast<size_t>(pin.id)] = pin.datatype == describe::Datatype::Bool;
    }
    std::vector<std::pair<float*, const InputTrack*>> inputs;
    for (size_t i = 0; i < module.inputs.size(); ++i)
        if (module.inputs[i].isAudio())
            inputs.emplace_back(instance.buffer(module.inputs[i].id), &plan.tracks[i]);

    const double cpuStart = processCpuSeconds();
    size_t next = 0;
    int64_t position = 0;
    int64_t blocksSinceReport = 0;
    while (position < plan.length) {
        int32_t count =
            sizing.random ? 1 + static_cast<int32_t>(generator() % BlockSizing::MAX_RANDOM) : sizing.size;
        count = static_cast<int32_t>(std::min<int64_t>(count, plan.length - position));
        const int64_t end = position + count;

        list.clear();
        for (; next < events.size() && events[next].sample < end; ++next) {
            const ScheduledEvent& event = events[next];
            const int32_t offset = static_cast<int32_t>(event.sample - position);
            if (event.type != EV_PIN_VALUE)
                list.add(offset, event.type, event.pin);
            else if (boolPin[static_cast<size_t>(event.pin)])
                list.addBool(offset, event.pin, event.value != 0.0f);
            else
                list.addFloat(offset, event.pin, event.value);
        }
        for (const auto& [buffer, track] : inputs)
            fillInput(buffer, capacity, *track, position, count, position == 0);

        const bool called = runner.runBlock(count, list.empty() ? nullptr : list.head());
        for (size_t k = 0; k < outs.size(); ++k)
            std::copy(outs[k], outs[k] + count, result.outputs[k].begin() + position);
        if (!called) {
            if (!result.sleeping.empty() && result.sleeping.back().end == position)
                result.sleeping.back().end = end;
            else
                result.sleeping.push_back(StreamSpan{position, end});
        }
        // Drained every block, so the trace's fixed reserve never runs out on long renders.
        for (const host::TraceEntry& entry : host.trace)
            if (entry.call == host::HostCall::SendPinStreaming && entry.pinId == firstOutput)
                result.marks.push_back(StreamMark{entry.blockStart + entry.timestamp, entry.value != 0});
        host.trace.clear();

        position = end;
        if (progress && ++blocksSinceReport >= 256) {
            blocksSinceReport = 0;
            if (!progress(position, plan.length)) {
                result.stopped = true;
                break;
            }
        }
    }
    result.cpuSeconds = processCpuSeconds() - cpuStart;
    result.stats = runner.stats();
    return result;
}

}  // namespace kvx::render
