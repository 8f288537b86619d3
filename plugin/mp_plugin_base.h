// MpPluginBase: the object core of every module. One object, four interface views sharing one
// reference count and one state; the pin registry; host attachment; buffer binding.
#pragma once

#include <cstdint>
#include <map>

#include "interfaces/host_interfaces.h"
#include "interfaces/plugin_interfaces.h"
#include "plugin/member_routine.h"

namespace kvx {

class MpPinBase;

class MpPluginBase : public IMpPlugin,
                     public IMpPlugin2,
                     public IoldSchoolInitialisation,
                     public IMpLegacyInitialization {
public:
    MpPluginBase() = default;
    MpPluginBase(const MpPluginBase&) = delete;
    MpPluginBase& operator=(const MpPluginBase&) = delete;

    // --- Shared by the views that carry them ---
    // Lookup order: IMpPlugin2, IMpPlugin, IMpUnknown (primary view), IMpLegacyInitialization.
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override;
    int32_t release() noexcept override;
    int32_t attachHost(IMpUnknown* host) noexcept override;
    int32_t openModule() noexcept override { return 0; }
    int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept override;

    // --- IMpPlugin view: forwards to the IMpPlugin2 view ---
    void processV1(int32_t sampleCount, const HostEvent* events) noexcept override;
    int32_t customCallV1(intptr_t a, intptr_t b, void* c) noexcept override;
    // --- IMpPlugin2 view (process is implemented by MpBase2) ---
    int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept override;

    // --- Own virtual operations, invisible to the host ---
    virtual ~MpPluginBase();
    virtual void extensionHook(intptr_t, intptr_t) noexcept {}
    virtual void extensionHookForward(intptr_t a, intptr_t b) noexcept { extensionHook(a, b); }
    // Called once per event timestamp after the pins saw that timestamp's value or stream events.
    virtual void onPinChanges() noexcept {}
    // Called by audio pins when their streaming state really changed.
    virtual void streamingChanged(bool isStreaming) noexcept = 0;
    // Graph start: every output pin sends its initial value, in ascending id order.
    virtual void handleGraphStart() noexcept;

    // For module constructors: numbers the pin (largest id + 1) and enters it in the registry.
    // Throws on out of memory.
    void registerPin(MpPinBase& pin, PinCallback callback = nullptr);

    // Host services, each skipped while no host services are attached.
    int32_t hostSendPinValue(int32_t timestamp, int32_t pinId, int32_t size, const void* data) noexcept;
    void hostSendPinStreaming(int32_t timestamp, int32_t pinId, bool streaming) noexcept;
    void hostRequestSleep() noexcept;
    void hostGetSleepCountdown() noexcept;
    float hostSampleRate() noexcept;  // 0.0 without host services

    MpPinBase* findPin(int32_t pinId) const noexcept {
        auto found = pins.find(pinId);
        return found == pins.end() ? nullptr : found->second;
    }

    int32_t refCount = 1;                     // shared by every view; not atomic
    IMpHostServices* hostServices = nullptr;  // owned: released when destroyed
    IMpHostAux* hostAux = nullptr;            // held, never called or released
    std::map<int32_t, MpPinBase*> pins;       // id -> pin, not owning (pins are members)
    int32_t blockOffset = 0;                  // position in the current host block
    int32_t samplesBeforeSleep = 0;           // sleep countdown, written by the host
    int32_t streamingCount = 0;               // audio pins currently streaming
    int32_t sleepPolicy = -1;                 // -1 sleep when nothing streams, 1 always, else never
    bool sleepAllowed = true;                 // false while a sub-block ending at an event runs
    bool forwardingGuard = false;             // set while customCall forwards between views
};

}  // namespace kvx
