// SPDX-License-Identifier: MIT
// The 40-byte event record a host hands to process(), and the event type codes. Wire format:
// the host writes it, the module reads it during that one process() call and keeps no pointer.
// Event codes are append-only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvx {

constexpr int32_t EV_PIN_VALUE = 100;     // new control value: `size` bytes at `data` or in `inlineValue`
constexpr int32_t EV_STREAM_BEGIN = 101;  // the audio input changes from this sample on
constexpr int32_t EV_STREAM_END = 102;    // the audio input is constant from this sample on
constexpr int32_t EV_PIN_OTHER = 103;     // dispatched to the pin like 100..102; no built-in pin reacts
constexpr int32_t EV_GRAPH_BEGIN = 104;   // the host's graph starts; addressed to the instance

struct HostEvent {
    int32_t timestamp;             // sample offset from the start of the current block
    int32_t type;                  // EV_...; other values only split the block
    int32_t pinId;                 // addressed pin (types 100..103)
    int32_t size;                  // number of value bytes (type 100)
    unsigned char inlineValue[8];  // the value bytes when `data` is null
    const void* data;              // the value bytes held elsewhere; wins over inlineValue when set
    HostEvent* next;               // next event in time order; null ends the list
};

static_assert(offsetof(HostEvent, timestamp) == 0);
static_assert(offsetof(HostEvent, type) == 4);
static_assert(offsetof(HostEvent, pinId) == 8);
static_assert(offsetof(HostEvent, size) == 12);
static_assert(offsetof(HostEvent, inlineValue) == 16);
static_assert(offsetof(HostEvent, data) == 24);
static_assert(offsetof(HostEvent, next) == 32);
static_assert(sizeof(HostEvent) == 40, "the event record is 40 bytes");
static_assert(alignof(HostEvent) == 8);

}  // namespace kvx
