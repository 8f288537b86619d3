// SPDX-License-Identifier: MIT
// MpBase2: block processing split at event timestamps, and the streaming/sleep logic that lets
// a host stop calling a module whose output is constant. Modules derive from it.
//
// Module authors: derive, register the pins in the constructor (MpPluginBase::registerPin),
// override onPinChanges, and install the processing routine with installModuleRoutine.
#pragma once

#include <cstdint>

#include "plugin/member_routine.h"
#include "plugin/mp_plugin_base.h"
#include "plugin/sleep_state.h"

namespace kvx {

class MpBase2 : public MpPluginBase {
public:
    // ===== Interface operation (IMpPlugin2 slot 6; IMpPlugin slot 5 forwards here) =====
    // Runs one host block: each stretch up to an event timestamp goes to activeRoutine, then
    // the events of that timestamp reach their pins in three passes (decode, notify, finish)
    // with onPinChanges between the second and third. Real-time safe: no allocation, no lock,
    // no system call. Events past the block are not delivered and never make a stretch run
    // past the block; events earlier than the current position are applied at it.
    void process(int32_t sampleCount, const HostEvent* events) noexcept override;

protected:
    MpBase2() noexcept {
        activeRoutine = &MpBase2::sleepAwareRoutine;
        moduleRoutine = &MpBase2::emptyRoutine;
    }

    // ===== For module authors: what to call =====
    // Chooses the module's processing routine (a member routine of the module, converted with
    // subBlockRoutine), which then runs for every stretch at blockPosition(). Until a module
    // installs one, its routine does nothing and writes no output. A routine installed while the
    // sleep-aware wrapper runs in front stays behind it: the wrapper calls it from then on.
    void installModuleRoutine(SubBlockRoutine routine) noexcept;
    // Installs `routine` unless it is the installed one already; true when this call installed
    // it. A module installs its routine at its first pin change this way:
    //   installModuleRoutineIfNew(subBlockRoutine(&MyModule::run));
    bool installModuleRoutineIfNew(SubBlockRoutine routine) noexcept {
        if (isInstalled(routine)) return false;
        installModuleRoutine(routine);
        return true;
    }

    // ===== For module authors: what to read =====
    // True when `routine` is the module's installed processing routine.
    bool isInstalled(SubBlockRoutine routine) const noexcept { return moduleRoutine == routine; }

private:
    friend struct MpTestAccess;

    void streamingChanged(bool isStreaming) noexcept override;

    // The one writer of activeRoutine: Direct calls moduleRoutine, SleepAware the wrapper. The
    // route itself is decided by the sleep state (see SleepState for the protocol).
    void chooseActiveRoutine(Route route) noexcept {
        activeRoutine = route == Route::Direct ? moduleRoutine : &MpBase2::sleepAwareRoutine;
    }

    // Runs moduleRoutine while the countdown lasts, then asks the host to sleep (in the last
    // stretch of a block only). Leaves the block position as it found it.
    void sleepAwareRoutine(int32_t sampleCount) noexcept;
    // The module's routine until it installs its own.
    void emptyRoutine(int32_t) noexcept {}

    void runActive(int32_t sampleCount) noexcept { (this->*activeRoutine)(sampleCount); }
    void deliverGroup(const HostEvent* first, const HostEvent* end) noexcept;

    // activeRoutine (called for every stretch) and moduleRoutine (the module's own routine) are
    // fields of MpPluginBase, beside the block position: see its layout.
};

}  // namespace kvx
