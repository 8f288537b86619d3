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
    int32_t pinDatatype() const noexcept override { return datatype; }
    PinCallback defaultCallback() const noexcept override { return nullptr; }
    void sendInitialValue() noexcept override { sendRawValue(rawSize(), rawData(), -1); }

    virtual void setRawValue(int32_t size, const void* data) noexcept { assignRawValue(value, size, data); }
    virtual void setRawValueFromEvent(int32_t size, const void* data) noexcept {
        assignRawValue(value, size, data);
    }
    virtual int32_t rawSize() const noexcept { return static_cast<int32_t>(sizeof(T)); }
    virtual const void* rawData() const noexcept { return &value; }

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
