// SPDX-License-Identifier: MIT
// PatchEventMerge: the events of one module call of a host::Patch — graph start, the caller's
// events, the stream changes its connections carry — merged into one HostEvent list in the
// order host/event_order.h defines (by time, then rank, then the order they were added), in
// storage reserved when the patch is built: merging allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/event_order.h"
#include "interfaces/host_event.h"

namespace kvx::host {

class PatchEventMerge {
public:
    // Room for `events` events a call; allocates.
    void reserve(size_t events);
    size_t capacity() const noexcept { return records.size(); }

    void clear() noexcept { count = 0; }
    bool empty() const noexcept { return count == 0; }
    // The adders need room (the patch sizes the store for the most one call can get) and a
    // timestamp of 0 or more.
    void add(int32_t timestamp, int32_t type, int32_t pinId, EventRank rank) noexcept;
    void addValue(int32_t timestamp, int32_t pinId, float value, bool asBool, EventRank rank) noexcept;

    // The events added since clear(), linked in delivery order; null when there are none.
    // Valid until the next clear().
    const HostEvent* link() noexcept;

private:
    HostEvent& next(int32_t timestamp, EventRank rank) noexcept;

    std::vector<HostEvent> records;
    std::vector<uint64_t> keys;  // time, rank, then the index added: unique, so sorting is stable
    size_t count = 0;
};

}  // namespace kvx::host
