// SPDX-License-Identifier: MIT
// MpTestAccess: the one way tests look inside the plug-in base, the pins and the envelope:
// state that a module author never reads, and the few writes a test needs to set a scene.
// Everything else in the tests goes through the interfaces or the module author's API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "modules/adsr/adsr.h"
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

    // --- The envelope ---
    static AudioOutPin& output(adsr::Adsr& module) { return module.output; }

    // --- Layout ---
    // The instance's fields that a block of a moving segment reads or writes, as (offset from
    // the object's start, size): the view process() is called through, the routine and the
    // block position, the output's buffer pointer and the running segment.
    static std::vector<std::pair<size_t, size_t>> movingBlockFields(const adsr::Adsr& module) {
        const auto* start = reinterpret_cast<const char*>(static_cast<const IMpPlugin*>(&module));
        auto field = [start](const auto& member) {
            return std::pair<size_t, size_t>(
                static_cast<size_t>(reinterpret_cast<const char*>(&member) - start), sizeof member);
        };
        const auto* view2 = reinterpret_cast<const char*>(static_cast<const IMpPlugin2*>(&module));
        return {{static_cast<size_t>(view2 - start), sizeof(void*)},
                field(module.activeRoutine),
                field(module.blockOffset),
                field(module.output.buffer),
                field(module.level),
                field(module.coefficient),
                field(module.asymptote),
                field(module.threshold),
                field(module.stepsLeft)};
    }
};

}  // namespace kvx
