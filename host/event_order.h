// SPDX-License-Identifier: MIT
// The order in which our hosts deliver events that share a timestamp: graph start, initial
// values, streaming changes, control changes, reset, then notes. `kvx render` and the LV2 bridge
// both sort by it, so that a score and the same notes sent as MIDI give a module the same events.
#pragma once

#include <cstdint>

namespace kvx::host {

enum class EventRank : uint8_t {
    Graph,    // the graph starts
    Initial,  // every input's value or stream state at the start
    Stream,   // an input begins or stops streaming
    Change,   // a control changes
    Reset,
    // Note ends and note starts, in the order they were added: a host that adds the end of a
    // note before the start of the next one at the same time retriggers.
    Note
};

// Whether an event at `timeA` of rank `rankA` goes before one at `timeB` of rank `rankB`. Events
// equal in both keep the order they were added in: sort stably.
constexpr bool deliveredBefore(int64_t timeA, EventRank rankA, int64_t timeB, EventRank rankB) noexcept {
    return timeA != timeB ? timeA < timeB : rankA < rankB;
}

}  // namespace kvx::host
