// What a generic host can learn about a module's pins: the ids bindPinBuffer accepts, and which
// of them are audio outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/validate/raw/module.h"
#include "tools/validate/session/guarded_buffer.h"

namespace kvx::validate {

// Pin ids the instance accepts in bindPinBuffer, probed from 0 to `limit` - 1.
std::vector<int32_t> probePins(const RawInstance& instance, int32_t limit = 1024);

// The pins of the module under test: all accepted ids, and the audio outputs among them
// (pins that report a streaming state, or whose buffer the module writes).
struct ModuleShape {
    std::vector<int32_t> pins;
    std::vector<int32_t> outputs;
    std::vector<int32_t> inputs;  // pins minus outputs
};
ModuleShape discoverShape(const RawLibrary& library, const Context& context);

// Binds a guarded buffer of `samples` to each pin, filled with what a host leaves in an output
// buffer before process, so that written samples can be told from unwritten ones.
std::vector<GuardedBuffer> bindUnwrittenBuffers(const RawInstance& instance, const std::vector<int32_t>& pins,
                                                int32_t samples);

std::string describeIds(const std::vector<int32_t>& ids);

}  // namespace kvx::validate
