// SPDX-License-Identifier: MIT
// Audio pins: a host-owned float buffer per block, and a streaming state (changing or constant)
// that feeds the module's sleep logic.
#pragma once

#include <cstdint>

#include "interfaces/pin_codes.h"
#include "plugin/mp_pin_base.h"

namespace kvx {

class MpAudioPinBase : public MpPinBase {
public:
    int32_t pinDatatype() const noexcept override { return PIN_DATATYPE_AUDIO; }
    // Reserved slot; nothing calls it.
    virtual void reservedAudioSlot() noexcept {}

    // The host's buffer for the current block (null until bound): sample i of the block is
    // boundBuffer()[i]. At least as long as the largest block the host passes.
    float* boundBuffer() const noexcept { return buffer; }
    // True while the pin's signal is changing, false while it is constant.
    bool isStreaming() const noexcept { return streaming; }

protected:
    // Stores a new streaming state; a real change is reported to the owner.
    void setStreaming(bool now) noexcept {
        if (now == streaming) return;
        streaming = now;
        tellOwnerStreamingChanged(now);
    }

private:
    friend struct MpTestAccess;

    void bindBuffer(float* samples) noexcept override { buffer = samples; }
    PinCallback defaultCallback() const noexcept override { return nullptr; }

    float* buffer = nullptr;  // the host's buffer for the current block
    bool streaming = false;   // true while the signal is changing
};

class AudioInPin : public MpAudioPinBase {
public:
    int32_t pinDirection() const noexcept override { return PIN_DIRECTION_IN; }
    void sendInitialValue() noexcept override {}

    // The input sample at `position` of the current block; negative means the block position.
    float valueAt(int32_t position = -1) const noexcept {
        if (position < 0) position = ownerPosition();
        return boundBuffer()[position];
    }
    // True while the events of the current timestamp include a stream begin or end for the pin
    // (true before the first event, too).
    bool updatedNow() const noexcept { return updated; }

private:
    friend struct MpTestAccess;

    // Stream begin/end events set the streaming state; a stop lets the module run at least one
    // more sample before it may sleep.
    void decodeEvent(const HostEvent* event) noexcept override;
    void finishEvent(const HostEvent* event) noexcept override;

    bool updated = true;  // a stream event arrived at the current timestamp
};

class AudioOutPin : public MpAudioPinBase {
public:
    int32_t pinDirection() const noexcept override { return PIN_DIRECTION_OUT; }
    // At graph start the output declares itself streaming.
    void sendInitialValue() noexcept override { declareStreaming(true, -1); }

    // Declares the output changing or constant from `position` on (exactly -1: the block
    // position). Every call reports to the host; a constant output also hands the host the
    // sleep countdown to set. Real-time safe.
    void declareStreaming(bool isStreaming, int32_t position = -1) noexcept;
};

}  // namespace kvx
