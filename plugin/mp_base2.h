// MpBase2: block processing split at event timestamps, and the streaming/sleep logic that lets
// a host stop calling a module whose output is constant. Modules derive from it.
#pragma once

#include <cstdint>

#include "plugin/member_routine.h"
#include "plugin/mp_plugin_base.h"

namespace kvx {

class MpBase2 : public MpPluginBase {
public:
    MpBase2() = default;

    // Runs one host block: each stretch up to an event timestamp goes to activeRoutine, then
    // the events of that timestamp reach their pins in three passes (decode, notify, finish)
    // with onPinChanges between the second and third. Real-time safe: no allocation, no lock,
    // no system call. Events past the block are not delivered and never make a stretch run
    // past the block; events earlier than the current position are applied at it.
    void process(int32_t sampleCount, const HostEvent* events) noexcept override;

    // Audio pins report streaming changes here; the active routine follows the count.
    void streamingChanged(bool isStreaming) noexcept override;

    // Runs moduleRoutine while the countdown lasts, then asks the host to sleep (in the last
    // sub-block of a block only). Leaves blockOffset as it found it.
    void sleepAwareRoutine(int32_t sampleCount) noexcept;
    void emptyRoutine(int32_t) noexcept {}

    // Chooses the module's processing routine; the wrapper, if active, stays in front of it.
    void installModuleRoutine(SubBlockRoutine routine) noexcept;

    SubBlockRoutine activeRoutine = &MpBase2::sleepAwareRoutine;
    SubBlockRoutine moduleRoutine = &MpBase2::emptyRoutine;

private:
    void runActive(int32_t sampleCount) noexcept { (this->*activeRoutine)(sampleCount); }
    void deliverGroup(const HostEvent* first, const HostEvent* end) noexcept;
};

}  // namespace kvx
