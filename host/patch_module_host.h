// SPDX-License-Identifier: MIT
// PatchModuleHost: the host services of one module of a host::Patch, and the state the patch
// keeps of each of the module's audio outputs: the buffers, the streaming reports of the current
// call, the changes carried along its connections this block, and the value held while the
// module sleeps. Everything lives in storage sized when the patch is built.
#pragma once

#include <cstdint>

#include "interfaces/host_interfaces.h"

namespace kvx::host {

// A streaming report the module made in its current call, at a sample of that call.
struct StreamReport {
    int32_t timestamp;
    bool streaming;
};

// A change of an output as its connections carry it: streaming or constant from `time` of the
// current block.
struct StreamChange {
    int32_t time;
    bool streaming;
};

enum class StreamState : uint8_t {
    Unknown,  // nothing reported yet
    Streaming,
    Constant
};

struct ModuleOutput {
    static constexpr int32_t CARRY_CAPACITY = 8;

    int32_t pin = 0;
    float* cell = nullptr;   // what the module writes: `block`, or a loop module's one-sample cell
    float* block = nullptr;  // what connected inputs and the caller read, maxBlock samples

    // This call's reports, in call order; a full store keeps the latest in its last slot.
    StreamReport* reports = nullptr;
    int32_t reportCount = 0;
    int32_t reportCapacity = 0;
    // This block's changes, in time order: only what tells the inputs something new (a change
    // of state, or a new constant value).
    StreamChange* changes = nullptr;
    int32_t changeCount = 0;
    int32_t changeCapacity = 0;
    // Changes at the last sample of the previous block: a delayed connection carries them to
    // sample 0 of this one.
    StreamChange carried[CARRY_CAPACITY]{};
    int32_t carriedCount = 0;
    bool feedsDelayed = false;  // a delayed connection starts here

    // What the connected inputs have been told.
    StreamState told = StreamState::Unknown;
    float toldValue = 0.0f;
    // The sleep protocol: the latest report, and the value the output holds from where it was
    // last declared constant.
    StreamState state = StreamState::Unknown;
    float held = 0.0f;
    int32_t heldSpan = 0;  // leading samples of `block` known to hold `held`
    int64_t merged = 0;    // reports or changes that found their store full

    // Adds a change to this block's, merging into the last one when the store is full.
    void addChange(int32_t time, bool streaming) noexcept;
};

class PatchModuleHost final : public IMpHostServices, public IMpHostAux {
public:
    PatchModuleHost() noexcept = default;
    PatchModuleHost(const PatchModuleHost&) = delete;
    PatchModuleHost& operator=(const PatchModuleHost&) = delete;

    // IMpUnknown: counted for modules' sake, owned by the patch; never deletes itself.
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override { return ++refCount; }
    int32_t release() noexcept override { return --refCount; }
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) noexcept override { return 0; }
    // Stored for the output with that pin id; reports for other pins are ignored.
    int32_t sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t streaming) noexcept override;
    int32_t requestSleep() noexcept override {
        sleepRequested = true;
        return 0;
    }
    int32_t reservedSlot6() noexcept override;
    int32_t getSleepCountdown(int32_t* samplesBeforeSleep) noexcept override;
    int32_t querySampleRate(float* rate) noexcept override;

    IMpUnknown* asUnknown() noexcept { return static_cast<IMpHostServices*>(this); }

    ModuleOutput* outputs = nullptr;
    int32_t outputCount = 0;
    float sampleRate = 0.0f;
    int32_t countdown = 0;  // what getSleepCountdown writes
    int32_t refCount = 1;
    bool sleepRequested = false;  // during the current call
};

}  // namespace kvx::host
