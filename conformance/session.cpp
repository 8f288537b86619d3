// SPDX-License-Identifier: MIT
// Random in-contract host sessions.
#include "conformance/session.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace kvx::conformance {

namespace {

SessionEvent valueEvent(int64_t time, int32_t pin, float value) {
    SessionEvent event{time, event::PIN_VALUE, pin};
    event.size = 4;
    std::memcpy(event.inlineValue, &value, 4);
    return event;
}

}  // namespace

Session randomSession(const ModuleShape& shape, uint64_t seed, float sampleRate, int64_t length, bool wild) {
    Session session;
    session.seed = seed;
    session.sampleRate = sampleRate;
    session.length = length;
    std::mt19937_64 random(seed);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    auto below = [&](int64_t bound) { return std::uniform_int_distribution<int64_t>(0, bound - 1)(random); };
    // Input levels mostly in the usual range of a parameter, now and then (wild: always) far
    // outside it.
    auto level = [&] {
        return static_cast<float>(wild || below(8) == 0 ? uniform(-2.0, 2.0) : uniform(-0.1, 0.6));
    };

    // Most hosts start the graph; a module must cope with one that does not.
    if (below(4) != 0) session.events.push_back(SessionEvent{0, event::GRAPH_BEGIN, -1});
    if (shape.inputs.empty()) return session;

    // Value events in groups: one to three pins at the same time, often all set to 1.0.
    const int64_t meanGap = std::max<int64_t>(1, length / (wild ? 160 : 40));
    for (int64_t time = below(meanGap); time < length; time += 1 + below(2 * meanGap)) {
        const int64_t pins = 1 + below(3);
        const bool chord = below(2) == 0;
        for (int64_t k = 0; k < pins; ++k) {
            const int32_t pin =
                shape.inputs[static_cast<size_t>(below(static_cast<int64_t>(shape.inputs.size())))];
            const int64_t pick = below(10);
            const float value = chord || pick < 5 ? 1.0f
                                : pick < 8        ? 0.0f
                                                  : static_cast<float>(uniform(0.0, 1.0));
            session.events.push_back(valueEvent(time, pin, value));
        }
    }

    // Input signals: constant stretches joined by jumps and ramps, each announced by a stream
    // begin at its first changing sample and a stream end at the first constant sample. One
    // input in four is already moving when the graph starts.
    for (int32_t pin : shape.inputs) {
        std::vector<float>& signal = session.inputs[pin];
        signal.resize(static_cast<size_t>(length));
        float value = level();
        int64_t time = 0;
        bool movingAtStart = below(4) == 0;
        while (time < length) {
            const int64_t change =
                movingAtStart
                    ? 0
                    : std::min<int64_t>(length, time + 500 + below(std::max<int64_t>(1, length / 3)));
            movingAtStart = false;
            std::fill(signal.begin() + time, signal.begin() + change, value);
            if (change >= length) break;
            const float next = level();
            const int64_t ramp = below(2) == 0 ? 1 : 16 + below(2000);
            const int64_t end = std::min<int64_t>(length, change + ramp);
            session.events.push_back(SessionEvent{change, event::STREAM_BEGIN, pin});
            for (int64_t t = change; t < end; ++t) {
                const double share =
                    ramp == 1 ? 1.0 : static_cast<double>(t - change) / static_cast<double>(ramp);
                signal[static_cast<size_t>(t)] = static_cast<float>(value + (next - value) * share);
            }
            if (end < length) session.events.push_back(SessionEvent{end, event::STREAM_END, pin});
            value = next;
            time = end;
        }
    }
    std::stable_sort(session.events.begin(), session.events.end(),
                     [](const SessionEvent& a, const SessionEvent& b) { return a.time < b.time; });
    return session;
}

}  // namespace kvx::conformance
