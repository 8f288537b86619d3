// SPDX-License-Identifier: MIT
// What a host can find out about a module's pins by running it, without trusting any
// description: which accepted pins are outputs (audio or control), which inputs read their
// buffer (audio) and which read value events (control), and for a control whether it takes a
// value event as a boolean or as a float. Where a probe shows nothing, the finding says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/plugin_library.h"

namespace kvx::host {

enum class PinFound : uint8_t {
    Unknown,     // the probes could not tell (FoundPin::unsure says why)
    AudioIn,     // reads its buffer; ignores value events
    ControlIn,   // reads value events; ignores its buffer
    AudioOut,    // writes its buffer or reports a streaming state
    ControlOut,  // sends values
};
enum class ValueFound : uint8_t {
    Unknown,  // not a control, or the probes could not tell
    Bool,     // a 32-bit 1, 1.0f and -0.0f all act as one value, unlike +0.0f
    Float,    // 1.0f acts unlike the 32-bit 1 or unlike -0.0f
};

struct FoundPin {
    int32_t id = 0;
    PinFound kind = PinFound::Unknown;
    ValueFound value = ValueFound::Unknown;
    std::string unsure;  // why kind or value is Unknown; empty when both are known
};

// What the probes hold an input at while another pin is probed, taken from whatever the host
// believes of the pin (its description): the value it rests at, sent both in its buffer and as
// a value event, and whether it is held on for the first half of the probe (a gate or trigger,
// so that the module has something to do).
struct ProbeHint {
    int32_t id = 0;
    float rest = 0.5f;
    bool heldOn = false;
};

// Probes every pin id the module accepts, each probe on a new instance at 48 kHz. Pins without a
// hint rest at 0.5. Throws HostError when the module cannot be created.
std::vector<FoundPin> discoverPins(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                                   const std::vector<ProbeHint>& hints);

const char* pinFoundName(PinFound kind);  // "an audio input", ...
const char* valueFoundName(ValueFound value);

}  // namespace kvx::host
