// SPDX-License-Identifier: MIT
// MpPinBase: a module's typed connection point. Pins are member objects of their module; the
// module's pin registry numbers them and refers to them without owning them.
//
// Reading the pin classes: public is what a module author calls (reading values, declaring an
// output's streaming state, sending values); the event passes and buffer binding are driven by
// the base only; a pin reaches its owner through the protected named operations below.
#pragma once

#include <cstdint>

#include "interfaces/host_event.h"
#include "plugin/member_routine.h"
#include "plugin/mp_plugin_base.h"

namespace kvx {

class MpPinBase {
public:
    MpPinBase() = default;
    MpPinBase(const MpPinBase&) = delete;
    MpPinBase& operator=(const MpPinBase&) = delete;

    // Virtual operations in slot order; append only. Access sections alternate to keep it.
    virtual ~MpPinBase() = default;

private:
    // Driven by the base: buffer binding, then the three event passes of one timestamp
    // (decode all, notify all, finish all).
    virtual void bindBuffer(float* buffer) noexcept = 0;
    virtual void decodeEvent(const HostEvent*) noexcept {}
    virtual void notifyEvent(const HostEvent* event) noexcept;  // runs `callback`, if any
    virtual void finishEvent(const HostEvent*) noexcept {}

public:
    virtual int32_t pinDatatype() const noexcept = 0;   // PIN_DATATYPE_...
    virtual int32_t pinDirection() const noexcept = 0;  // PIN_DIRECTION_...

private:
    virtual PinCallback defaultCallback() const noexcept = 0;

public:
    // Reports the pin's initial value or state to the host; graph start calls it on outputs.
    virtual void sendInitialValue() noexcept = 0;

    // Sends a value to the host at `position` (exactly -1: the owner's block position). Returns
    // the host's result, RESULT_FAIL while no host services are attached.
    int32_t sendRawValue(int32_t size, const void* data, int32_t position = -1) noexcept;

protected:
    // ===== The owner, as the pin classes reach it =====
    // The owner's block position.
    int32_t ownerPosition() const noexcept { return plugin->blockOffset; }
    // Exactly -1 names the owner's block position; any other value is used as it is.
    int32_t resolvePosition(int32_t position) const noexcept {
        return position == -1 ? ownerPosition() : position;
    }
    // This audio pin's streaming state really changed.
    void tellOwnerStreamingChanged(bool isStreaming) noexcept { plugin->streamingChanged(isStreaming); }
    // This audio input stopped streaming (or was told so again).
    void tellOwnerInputStopped() noexcept { plugin->sleepState.inputStoppedStreaming(); }
    // This output is constant: the host stores the owner's sleep countdown.
    void handCountdownToHost() noexcept { plugin->handCountdownToHost(); }
    // Tells the host whether this output is changing from `position` on.
    void reportStreamingToHost(int32_t position, bool streaming) noexcept {
        plugin->hostSendPinStreaming(position, id, streaming);
    }

private:
    friend class MpPluginBase;  // registers, binds, and starts the graph
    friend class MpBase2;       // delivers events
    friend struct MpTestAccess;

    int32_t id = -1;                 // set by registerPin
    MpPluginBase* plugin = nullptr;  // the owning module, set by registerPin
    PinCallback callback = nullptr;  // value-change callback, set by registerPin
};

}  // namespace kvx
