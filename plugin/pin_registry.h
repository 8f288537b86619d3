// SPDX-License-Identifier: MIT
// PinRegistry: a module's pins by id, in ascending id order, without owning them. Ids are
// handed out 0, 1, 2 ... in registration order, so the registry is an array indexed by id, kept
// inside the module object for up to INLINE_CAPACITY pins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kvx {

class MpPinBase;

class PinRegistry {
public:
    // Pins whose entries fit inside the object. A module with more moves its table to the heap
    // (one allocation, grown by doubling). Eleven: the envelope's pins, and the count that ends
    // the base where MpPluginBase's layout says.
    static constexpr int32_t INLINE_CAPACITY = 11;
    // Ids are signed 32-bit: at most this many pins, ids 0 .. MAX_PINS - 1.
    static constexpr int32_t MAX_PINS = std::numeric_limits<int32_t>::max();

    PinRegistry() noexcept = default;
    ~PinRegistry();
    PinRegistry(const PinRegistry&) = delete;
    PinRegistry& operator=(const PinRegistry&) = delete;

    // The id the next pin receives: the largest id so far + 1, or 0 when empty.
    int32_t nextId() const noexcept { return count; }
    // The pin with exactly this id, or null.
    MpPinBase* find(int32_t id) const noexcept {
        return static_cast<uint32_t>(id) < static_cast<uint32_t>(count) ? table[id] : nullptr;
    }
    // Enters `pin` under nextId() and returns that id. Throws std::length_error when the ids are
    // used up and std::bad_alloc when a larger table cannot be had; the registry is unchanged then.
    int32_t add(MpPinBase& pin);

    size_t size() const noexcept { return static_cast<size_t>(count); }
    bool empty() const noexcept { return count == 0; }

    // Iteration in ascending id order yields (id, pin) entries.
    struct Entry {
        int32_t id;
        MpPinBase* pin;
    };
    class Iterator {
    public:
        Iterator(MpPinBase* const* table, int32_t id) noexcept : table(table), id(id) {}
        Entry operator*() const noexcept { return Entry{id, table[id]}; }
        Iterator& operator++() noexcept {
            ++id;
            return *this;
        }
        bool operator!=(const Iterator& other) const noexcept { return id != other.id; }
        bool operator==(const Iterator& other) const noexcept { return id == other.id; }

    private:
        MpPinBase* const* table;
        int32_t id;
    };
    Iterator begin() const noexcept { return Iterator(table, 0); }
    Iterator end() const noexcept { return Iterator(table, count); }

private:
    bool onHeap() const noexcept { return table != inlineSlots; }

    MpPinBase** table = inlineSlots;  // inlineSlots, or a heap table of `capacity` entries
    int32_t count = 0;                // entries in use: ids 0 .. count - 1
    int32_t capacity = INLINE_CAPACITY;
    MpPinBase* inlineSlots[INLINE_CAPACITY] = {};
};

}  // namespace kvx
