// MpPinBase: a module's typed connection point. Pins are member objects of their module; the
// module's pin registry numbers them and refers to them without owning them.
#pragma once

#include <cstdint>

#include "interfaces/host_event.h"
#include "plugin/member_routine.h"

namespace kvx {

class MpPluginBase;

class MpPinBase {
public:
    MpPinBase() = default;
    MpPinBase(const MpPinBase&) = delete;
    MpPinBase& operator=(const MpPinBase&) = delete;

    // Slot order of the pin classes; append only.
    virtual ~MpPinBase() = default;
    virtual void bindBuffer(float* buffer) noexcept = 0;
    // The three event passes of one timestamp: decode all, notify all, finish all.
    virtual void decodeEvent(const HostEvent*) noexcept {}
    virtual void notifyEvent(const HostEvent* event) noexcept;  // runs `callback`, if any
    virtual void finishEvent(const HostEvent*) noexcept {}
    virtual int32_t pinDatatype() const noexcept = 0;   // PIN_DATATYPE_...
    virtual int32_t pinDirection() const noexcept = 0;  // PIN_DIRECTION_...
    virtual PinCallback defaultCallback() const noexcept = 0;
    virtual void sendInitialValue() noexcept = 0;  // at graph start, output pins only

    // Sends a value to the host at `position` (-1: the module's current blockOffset).
    int32_t sendRawValue(int32_t size, const void* data, int32_t position = -1) noexcept;

    int32_t id = -1;                 // set by registerPin
    MpPluginBase* plugin = nullptr;  // the owning module, set by registerPin
    PinCallback callback = nullptr;  // value-change callback, set by registerPin
};

}  // namespace kvx
