// The block loop of `kvx render`.
#include "tools/render/session.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <random>

#include "host/event_list.h"
#include "host/host_error.h"
#include "interfaces/host_event.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::render {

namespace {

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Writes one block of a parameter input: a constant once over the whole buffer, ramps sample
// by sample.
void fillInput(float* buffer, size_t capacity, const ParameterTrack& track, int64_t start, int32_t count,
               bool first) {
    if (track.constant()) {
        if (first) std::fill(buffer, buffer + capacity, track.points.front().value);
        return;
    }
    for (int32_t i = 0; i < count; ++i) buffer[i] = track.valueAt(start + i);
}

}  // namespace

SessionResult runSession(host::PluginInstance& instance, const RenderPlan& plan,
                         const std::vector<ScheduledEvent>& events, const BlockSizing& sizing,
                         const ProgressCallback& progress) {
    SessionResult result;
    host::HostServices& host = instance.host();
    host.sampleRate = static_cast<float>(plan.rate);
    host.reserveTrace(1 << 16);

    const size_t capacity = static_cast<size_t>(sizing.largest());
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_OUTPUT; ++pin)
        if (instance.bindBuffer(pin, capacity) != RESULT_OK)
            throw host::HostError("the module refused a buffer for pin " + std::to_string(pin));
    instance.plugin()->openModule();

    host::SleepingRunner runner(instance, adsr::PIN_OUTPUT);
    std::mt19937 generator(sizing.seed);
    host::EventList list;
    list.reserve(64);
    result.output.resize(static_cast<size_t>(plan.length));
    float* const out = instance.buffer(adsr::PIN_OUTPUT);
    std::array<float*, PARAMETER_COUNT> inputs{};
    for (size_t i = 0; i < PARAMETER_COUNT; ++i) inputs[i] = instance.buffer(PARAMETERS[i].pin);

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
            else if (event.pin == adsr::PIN_RESET)
                list.addFloat(offset, event.pin, event.value);
            else
                list.addBool(offset, event.pin, event.value != 0.0f);
        }
        for (size_t i = 0; i < PARAMETER_COUNT; ++i)
            fillInput(inputs[i], capacity, plan.tracks[i], position, count, position == 0);

        const bool called = runner.runBlock(count, list.empty() ? nullptr : list.head());
        std::copy(out, out + count, result.output.begin() + position);
        if (!called) {
            if (!result.sleeping.empty() && result.sleeping.back().end == position)
                result.sleeping.back().end = end;
            else
                result.sleeping.push_back(StreamSpan{position, end});
        }
        // Drained every block, so the trace's fixed reserve never runs out on long renders.
        for (const host::TraceEntry& entry : host.trace)
            if (entry.call == host::HostCall::SendPinStreaming && entry.pinId == adsr::PIN_OUTPUT)
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
