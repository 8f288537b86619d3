// SPDX-License-Identifier: MIT
// Member-routine pointers: which member routine of a module to call, with no allocation.
// A call costs one indirect call. Equal when they designate the same routine.
#pragma once

#include <cstdint>

#include "interfaces/host_event.h"

namespace kvx {

class MpPluginBase;
class MpBase2;

// A sub-block routine: processes `sampleCount` samples from the module's blockOffset on.
using SubBlockRoutine = void (MpBase2::*)(int32_t sampleCount);

// A pin's value-change callback; null designates no routine.
using PinCallback = void (MpPluginBase::*)(const HostEvent* event);

// Converts a routine of a module class (deriving from MpBase2) to a SubBlockRoutine.
template <typename Module>
constexpr SubBlockRoutine subBlockRoutine(void (Module::*routine)(int32_t)) noexcept {
    return static_cast<SubBlockRoutine>(routine);
}

template <typename Module>
constexpr PinCallback pinCallback(void (Module::*routine)(const HostEvent*)) noexcept {
    return static_cast<PinCallback>(routine);
}

}  // namespace kvx
