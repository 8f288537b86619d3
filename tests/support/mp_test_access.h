// SPDX-License-Identifier: MIT
// MpTestAccess: the one way tests look inside the plug-in base and the pins: state that a module
// author never reads, and the few writes a test needs to set a scene. Everything else in the
// tests goes through the interfaces or the module author's API. (A module has its own: the
// envelope's is tests/support/adsr_test_access.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "plugin/audio_pins.h"
#include "plugin/control_pins.h"
#include "plugin/mp_base2.h"
#include "plugin/mp_pin_base.h"
#include "plugin/mp_plugin_base.h"

namespace kvx {

struct MpTestAccess {
    // --- The object core ---
    static const PinRegistry& pins(const MpPluginBase& module) { return module.pins; }
    static IMpHostServices*& hostServices(MpPluginBase& module) { return module.hostServices; }
    static IMpHostAux* hostAux(const MpPluginBase& module) { return module.hostAux; }
    static bool forwardingGuard(const MpPluginBase& module) { return module.forwardingGuard; }
    static float hostSampleRate(MpPluginBase& module) { return module.hostSampleRate(); }
    static int32_t blockPosition(const MpPluginBase& module) { return module.blockOffset; }
    // Sets the block position, as block processing would before a stretch.
    static void setBlockPosition(MpPluginBase& module, int32_t position) { module.blockOffset = position; }

    // --- Streaming and sleep ---
    static int32_t samplesBeforeSleep(const MpPluginBase& module) {
        return module.sleepState.samplesBeforeSleep;
    }
    static void setSamplesBeforeSleep(MpPluginBase& module, int32_t samples) {
        module.sleepState.samplesBeforeSleep = samples;
    }
    static int32_t streamingCount(const MpPluginBase& module) { return module.sleepState.streamingCount; }
    static int32_t streamingCount(const SleepState& state) { return state.streamingCount; }
    static bool sleepAllowed(const MpPluginBase& module) { return module.sleepState.sleepAllowed; }
    static void setSleepPolicy(MpPluginBase& module, SleepPolicy policy) { module.setSleepPolicy(policy); }
    // Which routine block processing calls for the next stretch.
    static bool routesDirect(const MpBase2& module) { return module.activeRoutine == module.moduleRoutine; }
    static bool routesThroughWrapper(const MpBase2& module) {
        return module.activeRoutine == &MpBase2::sleepAwareRoutine;
    }
    static void routeDirect(MpBase2& module) { module.chooseActiveRoutine(Route::Direct); }
    static SubBlockRoutine activeRoutine(const MpBase2& module) { return module.activeRoutine; }
    static void setActiveRoutine(MpBase2& module, SubBlockRoutine routine) { module.activeRoutine = routine; }

    // --- Pins ---
    static int32_t id(const MpPinBase& pin) { return pin.id; }
    static const MpPluginBase* owner(const MpPinBase& pin) { return pin.plugin; }
    template <typename T, int32_t datatype>
    static void setValue(MpControlPinBase<T, datatype>& pin, T value) {
        pin.value = value;
    }

    // --- Layout ---
    // A field's place in an object: (offset from the object's start, size).
    using Field = std::pair<size_t, size_t>;
    template <typename Member>
    static Field field(const void* start, const Member& member) {
        return {static_cast<size_t>(reinterpret_cast<const char*>(&member) - static_cast<const char*>(start)),
                sizeof member};
    }
    // The base's fields every block reads: the routine for the stretch and the block position.
    static std::vector<Field> blockFields(const void* start, const MpBase2& module) {
        return {field(start, module.activeRoutine), field(start, module.blockOffset)};
    }
    // An audio pin's buffer pointer.
    static Field bufferField(const void* start, const MpAudioPinBase& pin) {
        return field(start, pin.buffer);
    }
};

}  // namespace kvx
