// Audio pins: a host-owned float buffer per block, and a streaming state (changing or constant)
// that feeds the module's sleep logic.
#pragma once

#include <cstdint>

#include "interfaces/pin_codes.h"
#include "plugin/mp_pin_base.h"
#include "plugin/mp_plugin_base.h"

namespace kvx {

class MpAudioPinBase : public MpPinBase {
public:
    void bindBuffer(float* samples) noexcept override { buffer = samples; }
    int32_t pinDatatype() const noexcept override { return PIN_DATATYPE_AUDIO; }
    PinCallback defaultCallback() const noexcept override { return nullptr; }
    // Reserved slot; nothing calls it.
    virtual void reservedAudioSlot() noexcept {}

    float* buffer = nullptr;  // the host's buffer for the current block
    bool streaming = false;   // true while the signal is changing
};

class AudioInPin : public MpAudioPinBase {
public:
    // Stream begin/end events set the streaming state; a stop lets the module run at least one
    // more sample before it may sleep.
    void decodeEvent(const HostEvent* event) noexcept override;
    void finishEvent(const HostEvent* event) noexcept override;
    int32_t pinDirection() const noexcept override { return PIN_DIRECTION_IN; }
    void sendInitialValue() noexcept override {}

    // The input sample at `position` of the current block; negative means blockOffset.
    float valueAt(int32_t position = -1) const noexcept {
        if (position < 0) position = plugin->blockOffset;
        return buffer[position];
    }

    bool updated = true;  // a stream event arrived at the current timestamp
};

class AudioOutPin : public MpAudioPinBase {
public:
    int32_t pinDirection() const noexcept override { return PIN_DIRECTION_OUT; }
    // At graph start the output declares itself streaming.
    void sendInitialValue() noexcept override { declareStreaming(true, -1); }

    // Declares the output changing or constant from `position` on (-1: blockOffset). Every call
    // reports to the host; a constant output also hands the host the sleep countdown to set.
    void declareStreaming(bool isStreaming, int32_t position = -1) noexcept;
};

}  // namespace kvx
