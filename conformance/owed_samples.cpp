// SPDX-License-Identifier: MIT
// OwedSamples: the rule in owed_samples.h, one block at a time.
#include "conformance/owed_samples.h"

#include <algorithm>

#include "conformance/raw_abi.h"

namespace kvx::conformance {

OwedSamples::OwedSamples(std::vector<int32_t> inputs) : audioInputs(std::move(inputs)) {}

void OwedSamples::beginBlock(int64_t blockStart, int32_t blockLength, int32_t hostCountdown) {
    start = blockStart;
    length = std::max(blockLength, 0);
    countdown = hostCountdown;
    lastEvent = -1;
    stops.clear();
    bound = Bound::Nothing;
}

void OwedSamples::event(int32_t time, int32_t type, int32_t pin) {
    if (time < 0 || time > length) return;  // no stretch ends there
    lastEvent = std::max(lastEvent, time);
    if (type == event::STREAM_END && time < length &&
        std::find(audioInputs.begin(), audioInputs.end(), pin) != audioInputs.end())
        stops.push_back(time);
}

void OwedSamples::handOver(int32_t position) {
    haveReach = true;
    reachFromStop = false;
    reachAnchor = start + position;
    reachCountdown = countdown;
    reach = reachAnchor + countdown;
}

void OwedSamples::raise(int32_t position) {
    const int64_t at = start + position;
    if (haveReach && reach >= at + 1) return;
    haveReach = true;
    reachFromStop = true;
    reachAnchor = at;
    reach = at + 1;
}

OwedSpan OwedSamples::endBlock(const ModuleCall* calls, size_t count, int32_t firstWritten) {
    std::sort(stops.begin(), stops.end());
    size_t nextStop = 0;
    bool sleepRequested = false;
    bool declared = false;
    int32_t firstDeclaration = length;
    for (size_t i = 0; i < count; ++i) {
        const ModuleCall& call = calls[i];
        if (call.kind == ModuleCall::SleepRequest) {
            sleepRequested = true;
            continue;
        }
        if (call.streaming != 0) continue;
        const int32_t at = std::clamp(call.timestamp, 0, length);
        while (nextStop < stops.size() && stops[nextStop] <= at) raise(stops[nextStop++]);
        handOver(at);
        declared = true;
        firstDeclaration = std::min(firstDeclaration, at);
    }
    while (nextStop < stops.size()) raise(stops[nextStop++]);

    OwedSpan span{length, length};
    if (!started) {
        span.from = std::clamp(std::min(firstWritten, firstDeclaration), 0, length);
        started = span.from < length || declared;
        if (!started) return span;
    } else {
        span.from = 0;
    }
    if (!sleepRequested) {
        bound = Bound::Awake;
        span.to = length;
    } else {
        const int64_t reached = haveReach ? std::clamp<int64_t>(reach - start, 0, length) : 0;
        bound = reached >= lastEvent ? Bound::Countdown : Bound::Event;
        span.to = static_cast<int32_t>(std::max<int64_t>(reached, lastEvent));
    }
    span.to = std::max(span.to, span.from);
    return span;
}

std::string OwedSamples::reason() const {
    switch (bound) {
        case Bound::Awake:
            return "the module did not ask to sleep in this block";
        case Bound::Event:
            return "the stretch before the event at sample " + std::to_string(start + lastEvent) +
                   " runs whole";
        case Bound::Countdown:
            if (reachFromStop)
                return "the stream end at sample " + std::to_string(reachAnchor) +
                       " leaves that sample to be processed";
            return "the countdown of " + std::to_string(reachCountdown) +
                   " handed at the constant declaration at sample " + std::to_string(reachAnchor) +
                   " reaches sample " + std::to_string(reach);
        case Bound::Nothing:
            break;
    }
    return "nothing was owed";
}

}  // namespace kvx::conformance
