// SPDX-License-Identifier: MIT
// The events of one slice of an LV2 run, in a fixed array: added in any order, handed to the
// module sorted by frame and, within a frame, in our hosts' order (host::EventRank, as `kvx
// render` delivers them), notes in the order their MIDI messages came. Real-time safe: nothing
// allocates; a full list is the caller's cue to end the slice early.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "host/event_order.h"
#include "interfaces/host_event.h"

namespace kvx::lv2 {

// Note ons and offs keep their MIDI order: an off then an on at one frame retriggers.
using Rank = host::EventRank;

class SliceEvents {
public:
    static constexpr int32_t CAPACITY = 256;

    void clear() noexcept { count = 0; }
    int32_t size() const noexcept { return count; }
    int32_t room() const noexcept { return CAPACITY - count; }

    // A value event carrying a float, or a bool as a 32-bit word (as our host sends them).
    void addFloat(int32_t frame, Rank rank, int32_t pin, float value) noexcept {
        addValue(frame, rank, pin, &value);
    }
    void addBool(int32_t frame, Rank rank, int32_t pin, bool value) noexcept {
        const int32_t word = value ? 1 : 0;
        addValue(frame, rank, pin, &word);
    }
    // An event without a value (stream begin or end, graph start).
    void add(int32_t frame, Rank rank, int32_t type, int32_t pin) noexcept {
        if (count == CAPACITY) return;
        Entry& entry = entries[static_cast<size_t>(count++)];
        entry.rank = rank;
        entry.event = HostEvent{};
        entry.event.timestamp = frame;
        entry.event.type = type;
        entry.event.pinId = pin;
    }

    // Sorts by (frame, rank), keeping the order of addition among equals, and links the records.
    // Null when there are none.
    const HostEvent* link() noexcept {
        if (count == 0) return nullptr;
        for (int32_t i = 1; i < count; ++i) {  // insertion sort: stable, and the lists are short
            const Entry moving = entries[static_cast<size_t>(i)];
            int32_t j = i;
            for (; j > 0 && before(moving, entries[static_cast<size_t>(j - 1)]); --j)
                entries[static_cast<size_t>(j)] = entries[static_cast<size_t>(j - 1)];
            entries[static_cast<size_t>(j)] = moving;
        }
        for (int32_t i = 0; i < count; ++i) {
            records[static_cast<size_t>(i)] = entries[static_cast<size_t>(i)].event;
            records[static_cast<size_t>(i)].next =
                i + 1 < count ? &records[static_cast<size_t>(i + 1)] : nullptr;
        }
        return records.data();
    }

private:
    struct Entry {
        HostEvent event;
        Rank rank;
    };

    static bool before(const Entry& a, const Entry& b) noexcept {
        return host::deliveredBefore(a.event.timestamp, a.rank, b.event.timestamp, b.rank);
    }

    void addValue(int32_t frame, Rank rank, int32_t pin, const void* fourBytes) noexcept {
        if (count == CAPACITY) return;
        add(frame, rank, EV_PIN_VALUE, pin);
        HostEvent& event = entries[static_cast<size_t>(count - 1)].event;
        event.size = 4;
        std::memcpy(event.inlineValue, fourBytes, 4);
    }

    std::array<Entry, CAPACITY> entries{};
    std::array<HostEvent, CAPACITY> records{};
    int32_t count = 0;
};

}  // namespace kvx::lv2
