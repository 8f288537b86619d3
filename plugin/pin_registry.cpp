// SPDX-License-Identifier: MIT
// PinRegistry: entering a pin, and the move to a heap table for modules with many pins.
#include "plugin/pin_registry.h"

#include <algorithm>
#include <stdexcept>

namespace kvx {

PinRegistry::~PinRegistry() {
    if (onHeap()) delete[] table;
}

int32_t PinRegistry::add(MpPinBase& pin) {
    if (count == MAX_PINS) throw std::length_error("pin registry: no pin id left");
    if (count == capacity) {
        const int32_t grown = capacity > MAX_PINS / 2 ? MAX_PINS : capacity * 2;
        MpPinBase** larger = new MpPinBase*[static_cast<size_t>(grown)];  // may throw: nothing changed yet
        std::copy(table, table + count, larger);
        if (onHeap()) delete[] table;
        table = larger;
        capacity = grown;
    }
    table[count] = &pin;
    return count++;
}

}  // namespace kvx
