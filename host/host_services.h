// SPDX-License-Identifier: MIT
// HostServices: the host object a module attaches to. Implements IMpUnknown, IMpHostServices
// and IMpHostAux with real reference counting, answers the sample rate and the sleep
// countdown, and records every call the module makes (the trace).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host/host_trace.h"
#include "interfaces/host_interfaces.h"

namespace kvx::host {

class HostServices final : public IMpHostServices, public IMpHostAux {
public:
    // The count is kept for checking modules' reference handling, but the object is owned by
    // whoever created it and never deletes itself: modules keep their IMpHostAux reference
    // without ever releasing it.
    HostServices();
    ~HostServices() = default;
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override;
    int32_t release() noexcept override;
    int32_t sendPinValue(int32_t timestamp, int32_t pinId, int32_t size, const void* data) noexcept override;
    int32_t sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept override;
    int32_t requestSleep() noexcept override;
    int32_t reservedSlot6() noexcept override;
    int32_t getSleepCountdown(int32_t* samplesBeforeSleep) noexcept override;
    int32_t querySampleRate(float* sampleRate) noexcept override;

    IMpUnknown* asUnknown() noexcept { return static_cast<IMpHostServices*>(this); }

    // --- Settings ---
    float sampleRate = 48000.0f;
    int32_t sleepCountdown = 64;     // what getSleepCountdown writes
    bool answerHostServices = true;  // false: refuse IMpHostServices (a hostile host)
    bool answerHostAux = true;
    bool recordTrace = true;  // recording stops silently when the reserve is full
    // Reserves room for `entries` trace records up front, so that recording never allocates.
    void reserveTrace(size_t entries) { trace.reserve(entries); }

    // --- Position, set by whoever drives the module ---
    int64_t block = 0;
    int64_t blockStart = 0;

    // --- What the module did ---
    std::vector<TraceEntry> trace;
    bool sleepRequested = false;  // since the last clearSleepRequest()
    void clearSleepRequest() noexcept { sleepRequested = false; }

    // Latest streaming state each output pin reported (pins 0..MAX_TRACKED_PINS-1).
    static constexpr int32_t MAX_TRACKED_PINS = 64;
    struct PinStreamState {
        bool known = false;
        bool streaming = false;
        int64_t block = -1;     // block of the latest report
        int32_t timestamp = 0;  // position of the latest report within that block
    };
    const PinStreamState& streamState(int32_t pinId) const;

    // --- Counters, for lifetime tests ---
    int32_t refCount = 1;
    int32_t servicesHandedOut = 0;  // successful IMpHostServices queries
    int32_t auxHandedOut = 0;
    int32_t queries = 0;
    int32_t releases = 0;  // release() calls received

private:
    void record(HostCall call, int32_t timestamp, int32_t pinId, int32_t value) noexcept;
    std::array<PinStreamState, MAX_TRACKED_PINS> pinStates{};
};

}  // namespace kvx::host
