// SPDX-License-Identifier: MIT
// VoiceHost: one voice of a VoicePool: the host services its instance is attached to, and
// everything the pool keeps about the voice, on one cache line. No trace, no table of pins:
// only what the sleep protocol needs from the one output the pool watches.
#pragma once

#include <cstdint>

#include "interfaces/host_interfaces.h"
#include "interfaces/plugin_interfaces.h"

namespace kvx::host {

class alignas(64) VoiceHost final : public IMpHostServices, public IMpHostAux {
public:
    VoiceHost() noexcept = default;
    VoiceHost(const VoiceHost&) = delete;
    VoiceHost& operator=(const VoiceHost&) = delete;

    // IMpUnknown: counted for modules' sake, but owned by the pool; never deletes itself.
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override { return ++refCount; }
    int32_t release() noexcept override { return --refCount; }
    // IMpHostServices: what a module calls inside process().
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) noexcept override { return 0; }
    int32_t sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept override;
    int32_t requestSleep() noexcept override {
        sleepRequested = true;
        return 0;
    }
    int32_t reservedSlot6() noexcept override;
    int32_t getSleepCountdown(int32_t* samplesBeforeSleep) noexcept override;
    int32_t querySampleRate(float* rate) noexcept override;

    IMpUnknown* asUnknown() noexcept { return static_cast<IMpHostServices*>(this); }

    // --- Settings ---
    int32_t outputPin = 0;    // the output whose streaming reports are kept
    float sampleRate = 0.0f;  // what querySampleRate writes

    // --- The pool's state of the voice ---
    IMpPlugin2* plugin = nullptr;  // holds the instance's one reference
    float* output = nullptr;       // the watched output's buffer
    float held = 0.0f;             // the output's value from where it was last declared constant
    int32_t countdown = 0;         // what getSleepCountdown writes
    int32_t refCount = 1;
    int32_t heldFrom = 0;  // while asleep: output samples before this index still want `held`
    // The watched output's latest streaming report: none yet, changing or constant from
    // sample reportTimestamp of the block it came in.
    enum class Report : uint8_t {
        None,
        Streaming,
        Constant
    };
    int32_t reportTimestamp = 0;
    Report report = Report::None;
    bool reportedThisCall = false;
    bool sleepRequested = false;  // during the current call
    bool asleep = false;          // the pool does not call the voice until it has events
};

static_assert(sizeof(VoiceHost) == 64, "one voice, one cache line");

}  // namespace kvx::host
