// SPDX-License-Identifier: MIT
// A description held against its library: what running the module shows about each pin (an
// audio input, a control input taking a bool or a float, an output) compared with the pin's
// described datatype and direction. Every host of ours refuses a description that contradicts
// its library, with one line per pin naming both answers, before anything runs.
#pragma once

#include <string>
#include <vector>

#include "describe/description.h"
#include "host/pin_discovery.h"
#include "host/plugin_library.h"

namespace kvx::describe {

struct PinAgreement {
    std::vector<std::string> contradictions;  // "pin 2 (attack): described as a float input, but ..."
    std::vector<std::string> unsure;          // pins the probes could not settle, one line each
};

// The probes' resting values from the description: each input's default as a pin value (0.5
// without one), gates and triggers held on for the first half.
std::vector<host::ProbeHint> probeHints(const ModuleDescription& module);

// Compares the findings with the described pins. Pins that only one side knows are not
// compared here (a pin the library refuses fails on binding; one it accepts but the description
// leaves out is bound to a spare buffer).
PinAgreement comparePins(const ModuleDescription& module, const std::vector<host::FoundPin>& found);

// The one line a host refuses the description with: "<source> contradicts its library: pin 2
// (attack): described as float input, but the library's pin is an audio input" (contradictions
// joined by "; "), or "" when there is none.
std::string refusal(const PinAgreement& agreement, const std::string& source);

// discoverPins with the description's hints, then comparePins. Throws host::HostError when the
// module cannot be created.
PinAgreement checkAgainstLibrary(const host::PluginLibrary& library, const ModuleDescription& module);

}  // namespace kvx::describe
