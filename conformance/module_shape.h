// SPDX-License-Identifier: MIT
// What a generic host can learn about a module's pins: the ids bindPinBuffer accepts, which of
// them are audio outputs, and which inputs are audio inputs.
#pragma once

#include <cstdint>
#include <vector>

#include "conformance/guarded_buffer.h"
#include "conformance/raw_module.h"

namespace kvx::conformance {

// Pin ids the instance accepts in bindPinBuffer, probed from 0 to `limit` - 1.
std::vector<int32_t> probePins(const RawInstance& instance, int32_t limit = 1024);

// The pins of the module under test: all accepted ids, and the audio outputs among them
// (pins that report a streaming state, or whose buffer the module writes). An input is an audio
// input when a stream begin for it keeps a module awake that otherwise asks to sleep at once:
// only audio inputs count as streaming.
struct ModuleShape {
    std::vector<int32_t> pins;
    std::vector<int32_t> outputs;
    std::vector<int32_t> inputs;       // pins minus outputs
    std::vector<int32_t> audioInputs;  // among the inputs; empty when the module never asked to sleep
};
ModuleShape discoverShape(const RawLibrary& library, const ModuleRef& module);

// Binds a guarded buffer of `samples` to each pin, every sample unwritten.
std::vector<GuardedBuffer> bindUnwrittenBuffers(const RawInstance& instance, const std::vector<int32_t>& pins,
                                                int32_t samples);

}  // namespace kvx::conformance
