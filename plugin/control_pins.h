// SPDX-License-Identifier: MIT
// Control pins: one value of type T (bool or float) set by value events, with an `updated`
// flag that is true only while the events of one timestamp are being delivered.
#pragma once

#include <cstdint>
#include <cstring>

#include "interfaces/host_event.h"
#include "interfaces/pin_codes.h"
#include "plugin/mp_pin_base.h"

namespace kvx {

// Raw value decoding. Never reads or writes past either value, whatever `size` says.
inline void assignRawValue(bool& value, int32_t size, const void* data) noexcept {
    if (size <= 0) {
        value = false;
    } else if (size == 4) {
        int32_t word;
        std::memcpy(&word, data, sizeof word);
        value = word != 0;
    } else {
        value = *static_cast<const unsigned char*>(data) != 0;
    }
}

inline void assignRawValue(float& value, int32_t size, const void* data) noexcept {
    if (size <= 0) return;
    std::memcpy(&value, data, size < 4 ? static_cast<size_t>(size) : sizeof value);
}

template <typename T, int32_t datatype>
class MpControlPinBase : public MpPinBase {
public:
    int32_t pinDatatype() const noexcept override { return datatype; }
    // Reports the current value to the host at the block position.
    void sendInitialValue() noexcept override { sendRawValue(rawSize(), rawData(), -1); }

    // The value from raw bytes as a host sends them; setRawValueFromEvent is what value events use.
    virtual void setRawValue(int32_t size, const void* data) noexcept { assignRawValue(value, size, data); }
    virtual void setRawValueFromEvent(int32_t size, const void* data) noexcept {
        assignRawValue(value, size, data);
    }
    // The raw form of the value, as exchanged with the host: the value's own bytes.
    virtual int32_t rawSize() const noexcept { return static_cast<int32_t>(sizeof(T)); }
    virtual const void* rawData() const noexcept { return &value; }

    // The pin's value: false / 0.0 until a value event (or setRawValue) sets it.
    T currentValue() const noexcept { return value; }
    // True while the events of the current timestamp include a value event for the pin, even
    // one that left the value as it was; false again before the next stretch is processed.
    bool updatedNow() const noexcept { return updated; }

private:
    friend struct MpTestAccess;

    void bindBuffer(float*) noexcept override {}  // control pins have no buffer
    void decodeEvent(const HostEvent* event) noexcept override {
        if (event->type != EV_PIN_VALUE) return;
        const void* bytes =
            event->data != nullptr ? event->data : static_cast<const void*>(event->inlineValue);
        setRawValueFromEvent(event->size, bytes);
        updated = true;
    }
    void finishEvent(const HostEvent* event) noexcept override {
        if (event->type == EV_PIN_VALUE) updated = false;
    }
    PinCallback defaultCallback() const noexcept override { return nullptr; }

    T value{};
    bool updated = false;  // set by an event of the current timestamp
};

template <typename T, int32_t direction, int32_t datatype>
class MpControlPin : public MpControlPinBase<T, datatype> {
public:
    int32_t pinDirection() const noexcept override { return direction; }
};

// The control pins by what they carry and which way.
using BoolInPin = MpControlPin<bool, PIN_DIRECTION_IN, PIN_DATATYPE_BOOL>;
using BoolOutPin = MpControlPin<bool, PIN_DIRECTION_OUT, PIN_DATATYPE_BOOL>;
using FloatInPin = MpControlPin<float, PIN_DIRECTION_IN, PIN_DATATYPE_FLOAT>;
using FloatOutPin = MpControlPin<float, PIN_DIRECTION_OUT, PIN_DATATYPE_FLOAT>;

}  // namespace kvx
