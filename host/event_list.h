// SPDX-License-Identifier: MIT
// EventList: builds the linked list of HostEvent records a host passes to process(), and owns
// the records (and any out-of-line value bytes) for as long as the list lives.
#pragma once

#include <cstdint>
#include <vector>

#include "interfaces/host_event.h"

namespace kvx::host {

class EventList {
public:
    // A value event with the value in the record's inline bytes.
    void addFloat(int32_t timestamp, int32_t pinId, float value);
    void addBool(int32_t timestamp, int32_t pinId, bool value);  // as a 32-bit integer
    void addInline(int32_t timestamp, int32_t pinId, int32_t size, const void* bytes, int32_t byteCount);
    // A value event whose bytes live elsewhere (`data`, owned by the caller); `size` as given.
    void addData(int32_t timestamp, int32_t pinId, int32_t size, const void* data);
    // An event without a value: stream begin/end, graph begin, or any other type.
    void add(int32_t timestamp, int32_t type, int32_t pinId = -1);

    // Stable sort by timestamp: events of one timestamp keep the order they were added in.
    void sortByTime();
    // The first record, linked in the current order; null when empty. Valid until modified.
    const HostEvent* head();

    bool empty() const { return records.empty(); }
    size_t size() const { return records.size(); }
    void clear() { records.clear(); }
    void reserve(size_t count) { records.reserve(count); }
    HostEvent& operator[](size_t index) { return records[index]; }

private:
    std::vector<HostEvent> records;
};

}  // namespace kvx::host
