// SPDX-License-Identifier: MIT
// The binary contract as a foreign host sees it: identifier bytes parsed from their text form,
// operations called through raw table slots, and the 40-byte event record written at its byte
// offsets. Nothing here includes the project's own C++ declarations of the interfaces, so a
// mistake shared by those headers and a library cannot hide from a host built on this file.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kvx::conformance {

using Guid = std::array<uint8_t, 16>;

// "{9A7904B7-7F7F-4D61-B558-C1A6695BB638}" -> memory layout: three little-endian fields, then
// eight bytes in text order.
Guid guidFromText(const std::string& text);

namespace iid {
extern const Guid UNKNOWN;
extern const Guid FACTORY;
extern const Guid FACTORY2;
extern const Guid PLUGIN;
extern const Guid PLUGIN2;
extern const Guid LEGACY;
extern const Guid HOST_SERVICES;
extern const Guid HOST_AUX;
}  // namespace iid

// Slot `n` of the table of the object at `self`.
template <typename Fn>
Fn slot(void* self, int n) {
    void** table = *static_cast<void***>(self);
    return reinterpret_cast<Fn>(table[n]);
}

using QueryFn = int32_t (*)(void*, const uint8_t*, void**);
using CountFn = int32_t (*)(void*);
using CreateWithHostFn = int32_t (*)(void*, const char16_t*, int32_t, void*, void**);
using BuildInfoFn = int32_t (*)(void*, int32_t*, int32_t, char16_t*);
using CreateFn = int32_t (*)(void*, const char16_t*, int32_t, void**);
using AttachFn = int32_t (*)(void*, void*);
using OpenFn = int32_t (*)(void*);
using BindFn = int32_t (*)(void*, int32_t, float*);
using ProcessFn = void (*)(void*, int32_t, const void*);
using CustomFn = int32_t (*)(void*, intptr_t, intptr_t, void*);
using EntryFn = int32_t (*)(void**);

// Slot numbers, per interface.
namespace slots {
constexpr int QUERY = 0, ADD_REF = 1, RELEASE = 2;
constexpr int FACTORY_CREATE_WITH_HOST = 3, FACTORY_BUILD_INFO = 4, FACTORY_CREATE = 5;
constexpr int PLUGIN_OPEN = 3, PLUGIN_BIND = 4, PLUGIN_PROCESS = 5, PLUGIN_CUSTOM = 6;
constexpr int PLUGIN2_ATTACH = 3, PLUGIN2_OPEN = 4, PLUGIN2_BIND = 5, PLUGIN2_PROCESS = 6, PLUGIN2_CUSTOM = 7;
constexpr int LEGACY_ATTACH = 3;
}  // namespace slots

inline int32_t rawQuery(void* self, const Guid& id, void** out) {
    return slot<QueryFn>(self, slots::QUERY)(self, id.data(), out);
}
inline int32_t rawAddRef(void* self) { return slot<CountFn>(self, slots::ADD_REF)(self); }
inline int32_t rawRelease(void* self) { return slot<CountFn>(self, slots::RELEASE)(self); }

// Event types and record offsets of the wire format.
namespace event {
constexpr int32_t PIN_VALUE = 100, STREAM_BEGIN = 101, STREAM_END = 102, PIN_OTHER = 103, GRAPH_BEGIN = 104;
constexpr size_t TIMESTAMP = 0, TYPE = 4, PIN = 8, SIZE = 12, INLINE_VALUE = 16, DATA = 24, NEXT = 32;
constexpr size_t RECORD_SIZE = 40;
}  // namespace event

struct RawEvent {
    alignas(8) uint8_t bytes[event::RECORD_SIZE] = {};
    void set32(size_t offset, int32_t value) { std::memcpy(bytes + offset, &value, 4); }
    void setPointer(size_t offset, const void* value) { std::memcpy(bytes + offset, &value, sizeof value); }
    int32_t get32(size_t offset) const {
        int32_t value;
        std::memcpy(&value, bytes + offset, 4);
        return value;
    }
};

// A record with the given header fields; value bytes (at most 8) go inline.
RawEvent makeEvent(int32_t timestamp, int32_t type, int32_t pin, int32_t size = 0,
                   const void* value = nullptr, size_t valueBytes = 0);

// Links `records` in their order (the last one's next is null) and returns the list's head, or
// null when there are none: what a host passes to process.
const void* linkEvents(std::vector<RawEvent>& records);

// Calls `visit(timestamp, type, pin)` for each record of the list at `head`, in list order, reading
// the fields at their wire offsets: our host library's HostEvent lists and RawEvent lists alike.
template <typename Visit>
void forEachEvent(const void* head, Visit&& visit) {
    for (const auto* record = static_cast<const uint8_t*>(head); record != nullptr;) {
        auto field = [record](size_t offset) {
            int32_t value;
            std::memcpy(&value, record + offset, sizeof value);
            return value;
        };
        visit(field(event::TIMESTAMP), field(event::TYPE), field(event::PIN));
        std::memcpy(&record, record + event::NEXT, sizeof record);
    }
}

}  // namespace kvx::conformance
