// SPDX-License-Identifier: MIT
// MpPluginBase: the object core of every module. One object, four interface views sharing one
// reference count and one state; the pin registry; host attachment; buffer binding.
//
// Reading this class (and MpBase2, which completes it):
//   public     the interface operations hosts call through the views: the binary contract
//   protected  the module author's API: hooks to override, operations to call, state to read
//   private    the base's own state. Only the base writes it; pins reach it through a few
//              named operations (MpPinBase), tests through MpTestAccess.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interfaces/host_interfaces.h"
#include "interfaces/plugin_interfaces.h"
#include "plugin/member_routine.h"
#include "plugin/pin_registry.h"
#include "plugin/sleep_state.h"

namespace kvx {

class MpPinBase;
class MpBase2;

class MpPluginBase : public IMpPlugin,
                     public IMpPlugin2,
                     public IoldSchoolInitialisation,
                     public IMpLegacyInitialization {
public:
    MpPluginBase(const MpPluginBase&) = delete;
    MpPluginBase& operator=(const MpPluginBase&) = delete;

    // Instances start on a cache line, so that the fields a block touches lie on the lines the
    // layout below puts them on (two for a moving block of the envelope). One allocation through
    // the global operator new, CACHE_LINE bytes larger than the object; throws on out of memory.
    static constexpr size_t CACHE_LINE = 64;
    static void* operator new(size_t size);
    static void operator delete(void* object) noexcept;

    // ===== Interface operations: what hosts call (contract in interfaces/plugin_interfaces.h) =====
    // Lookup order: IMpPlugin2, IMpPlugin, IMpUnknown (primary view), IMpLegacyInitialization.
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override;
    int32_t release() noexcept override;
    // A repeated attach releases the host services obtained before, once.
    int32_t attachHost(IMpUnknown* host) noexcept override;
    int32_t openModule() noexcept override { return 0; }
    int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept override;
    // IMpPlugin view: forwards to the IMpPlugin2 view.
    void processV1(int32_t sampleCount, const HostEvent* events) noexcept override;
    int32_t customCallV1(intptr_t a, intptr_t b, void* c) noexcept override;
    // IMpPlugin2 view (its process is MpBase2's). A module may override either customCall; a call
    // through the other view reaches the override once.
    int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept override;

    // The base's own virtual operations follow the interface slots in this declaration order
    // (destructor, two reserved hooks, onPinChanges, streamingChanged, handleGraphStart), so the
    // access sections below alternate to keep it.
    virtual ~MpPluginBase();

private:
    // Reserved hooks: nothing calls them.
    virtual void extensionHook(intptr_t, intptr_t) noexcept {}
    virtual void extensionHookForward(intptr_t a, intptr_t b) noexcept { extensionHook(a, b); }

protected:
    // ===== For module authors: what to override =====
    // Called once per event timestamp, after that timestamp's value and streaming events reached
    // their pins (their updatedNow() is true) and before the next stretch is processed. The
    // block position is the timestamp. Real-time: no allocation, lock or system call.
    virtual void onPinChanges() noexcept {}

private:
    // Audio pins report a real change of their streaming state here (MpBase2 implements it).
    virtual void streamingChanged(bool isStreaming) noexcept = 0;

protected:
    // Graph start: every output pin sends its initial value, in ascending id order. A module may
    // override it to report something else; same real-time rules as onPinChanges.
    virtual void handleGraphStart() noexcept;

    // ===== For module authors: what to call =====
    MpPluginBase() = default;  // only as part of a module

    // For module constructors: numbers the pin (largest id so far + 1) and enters it in the
    // registry; `callback` runs on every event of types 100..103 addressed to the pin. Throws on
    // out of memory.
    void registerPin(MpPinBase& pin, PinCallback callback = nullptr);
    // As registerPin, for modules whose pin ids are a named enum: the pin must receive
    // `expectedId`. When the order of the calls disagrees with the enum, throws std::logic_error
    // before anything changes, so the module can never be created with misnumbered pins.
    void registerPin(MpPinBase& pin, int32_t expectedId, PinCallback callback = nullptr);

    // The host's sample rate in samples per second; 0.0 while no host services are attached.
    float hostSampleRate() noexcept;

    // When the sleep-aware wrapper may let the module sleep (construction: WhenNothingStreams).
    // Takes effect at the wrapper's next call (which hands over to the module's routine if the
    // sleep path no longer applies) or at the next streaming change.
    void setSleepPolicy(SleepPolicy policy) noexcept { sleepState.setPolicy(policy); }

    // Moves the block position `offset` samples along the current stretch for the lifetime of
    // the scope and puts it back on every way out. Within it, pins read and report at that
    // sample (position -1), e.g. to set up a new segment where the running one ends. `offset`
    // must lie within the stretch being processed.
    class ScopedBlockPosition {
    public:
        ScopedBlockPosition(MpPluginBase& owner, int32_t offset) noexcept
            : owner(owner), saved(owner.blockOffset) {
            owner.blockOffset = saved + offset;
        }
        ~ScopedBlockPosition() { owner.blockOffset = saved; }
        ScopedBlockPosition(const ScopedBlockPosition&) = delete;
        ScopedBlockPosition& operator=(const ScopedBlockPosition&) = delete;

        // Moves `samples` further along the stretch.
        void advance(int32_t samples) noexcept { owner.blockOffset += samples; }

    private:
        MpPluginBase& owner;
        const int32_t saved;
    };

    // ===== For module authors: what to read =====
    // Sample offset in the current host block of what the module is processing: the first
    // sample of the stretch during a routine, the event's timestamp during onPinChanges.
    int32_t blockPosition() const noexcept { return blockOffset; }

private:
    friend class MpBase2;        // block processing and the wrapper, the other half of the base
    friend class MpPinBase;      // pins' named operations on their owner
    friend struct MpTestAccess;  // the test suite's look inside, defined by the tests only

    MpPinBase* findPin(int32_t pinId) const noexcept { return pins.find(pinId); }

    // Host services, each skipped while no host services are attached.
    int32_t hostSendPinValue(int32_t timestamp, int32_t pinId, int32_t size, const void* data) noexcept;
    void hostSendPinStreaming(int32_t timestamp, int32_t pinId, bool streaming) noexcept;
    void hostRequestSleep() noexcept;
    // The host stores the sleep countdown (getSleepCountdown).
    void handCountdownToHost() noexcept;

    // Layout, by cache line (instances start on one), after the four view pointers:
    //   line 0     what every block reads: the routine for the stretch and the block position
    //   line 1     what the sleep path, segment set-up and attachment read
    //   lines 1-3  the pin registry, read for events and bindings only
    // The base ends 24 bytes into line 3, so that when a module declares an audio pin first,
    // that pin's buffer pointer (40 bytes into it) opens line 4, followed by the module's hot
    // fields (the envelope does this; the benchmarks' guards check it). activeRoutine and
    // moduleRoutine are MpBase2's: only it reads or writes them.
    SubBlockRoutine activeRoutine = nullptr;  // called for every stretch (set by MpBase2)
    int32_t blockOffset = 0;                  // position in the current host block
    int32_t refCount = 1;                     // shared by every view; not atomic
    bool forwardingGuard = false;             // set while customCall forwards between views

    SubBlockRoutine moduleRoutine = nullptr;  // the module's own routine (set by MpBase2)
    SleepState sleepState;                    // streaming count, countdown, policy, sleep permission
    IMpHostServices* hostServices = nullptr;  // owned: released when destroyed or attached again
    IMpHostAux* hostAux = nullptr;            // held, never called or released

    PinRegistry pins;  // id -> pin, not owning (pins are members)
};

}  // namespace kvx
