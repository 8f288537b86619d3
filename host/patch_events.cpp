// SPDX-License-Identifier: MIT
// PatchEventMerge: sorting by key and linking.
#include "host/patch_events.h"

#include <algorithm>
#include <cstring>

#include "host/host_error.h"

namespace kvx::host {

namespace {
constexpr int RANK_SHIFT = 24;
constexpr int TIME_SHIFT = 32;
constexpr size_t MAX_EVENTS = size_t{1} << RANK_SHIFT;
constexpr uint64_t INDEX_MASK = MAX_EVENTS - 1;
}  // namespace

void PatchEventMerge::reserve(size_t events) {
    if (events >= MAX_EVENTS) throw HostError("patch: more than 16M events for one module call");
    records.assign(events, HostEvent{});
    keys.assign(events, 0);
    count = 0;
}

HostEvent& PatchEventMerge::next(int32_t timestamp, EventRank rank) noexcept {
    keys[count] = (static_cast<uint64_t>(static_cast<uint32_t>(timestamp)) << TIME_SHIFT) |
                  (static_cast<uint64_t>(rank) << RANK_SHIFT) | count;
    HostEvent& event = records[count++];
    event = HostEvent{};
    event.timestamp = timestamp;
    return event;
}

void PatchEventMerge::add(int32_t timestamp, int32_t type, int32_t pinId, EventRank rank) noexcept {
    HostEvent& event = next(timestamp, rank);
    event.type = type;
    event.pinId = pinId;
}

void PatchEventMerge::addValue(int32_t timestamp, int32_t pinId, float value, bool asBool,
                               EventRank rank) noexcept {
    HostEvent& event = next(timestamp, rank);
    event.type = EV_PIN_VALUE;
    event.pinId = pinId;
    event.size = 4;
    if (asBool) {
        const int32_t word = value != 0.0f ? 1 : 0;
        std::memcpy(event.inlineValue, &word, 4);
    } else {
        std::memcpy(event.inlineValue, &value, 4);
    }
}

const HostEvent* PatchEventMerge::link() noexcept {
    if (count == 0) return nullptr;
    // Keys are unique, so the in-place (and allocation-free) sort gives the stable order.
    std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(count));
    HostEvent* previous = nullptr;
    HostEvent* first = nullptr;
    for (size_t i = 0; i < count; ++i) {
        HostEvent* event = &records[keys[i] & INDEX_MASK];
        if (previous != nullptr)
            previous->next = event;
        else
            first = event;
        previous = event;
    }
    previous->next = nullptr;
    return first;
}

}  // namespace kvx::host
