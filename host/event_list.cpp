// SPDX-License-Identifier: MIT
// EventList: record construction and linking.
#include "host/event_list.h"

#include <algorithm>
#include <cstring>

namespace kvx::host {

void EventList::addInline(int32_t timestamp, int32_t pinId, int32_t size, const void* bytes,
                          int32_t byteCount) {
    HostEvent event{};
    event.timestamp = timestamp;
    event.type = EV_PIN_VALUE;
    event.pinId = pinId;
    event.size = size;
    if (bytes != nullptr && byteCount > 0)
        std::memcpy(event.inlineValue, bytes, static_cast<size_t>(std::min<int32_t>(byteCount, 8)));
    records.push_back(event);
}

void EventList::addFloat(int32_t timestamp, int32_t pinId, float value) {
    addInline(timestamp, pinId, 4, &value, 4);
}

void EventList::addBool(int32_t timestamp, int32_t pinId, bool value) {
    const int32_t word = value ? 1 : 0;
    addInline(timestamp, pinId, 4, &word, 4);
}

void EventList::addData(int32_t timestamp, int32_t pinId, int32_t size, const void* data) {
    HostEvent event{};
    event.timestamp = timestamp;
    event.type = EV_PIN_VALUE;
    event.pinId = pinId;
    event.size = size;
    event.data = data;
    records.push_back(event);
}

void EventList::add(int32_t timestamp, int32_t type, int32_t pinId) {
    HostEvent event{};
    event.timestamp = timestamp;
    event.type = type;
    event.pinId = pinId;
    records.push_back(event);
}

void EventList::sortByTime() {
    std::stable_sort(records.begin(), records.end(),
                     [](const HostEvent& a, const HostEvent& b) { return a.timestamp < b.timestamp; });
}

const HostEvent* EventList::head() {
    if (records.empty()) return nullptr;
    for (size_t i = 0; i + 1 < records.size(); ++i) records[i].next = &records[i + 1];
    records.back().next = nullptr;
    return records.data();
}

}  // namespace kvx::host
