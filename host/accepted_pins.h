// SPDX-License-Identifier: MIT
// The pin ids a module instance accepts in bindPinBuffer: what the library itself tells a host,
// whatever its description says. A host binds a buffer to every one of them, so that no
// description, however wrong, leaves the module reading or writing through a null pointer.
#pragma once

#include <cstdint>
#include <vector>

#include "interfaces/plugin_interfaces.h"

namespace kvx::host {

// Pin ids tried: 0 .. PROBED_PIN_IDS - 1.
constexpr int32_t PROBED_PIN_IDS = 1024;

// The ids the instance accepts, ascending. Probing binds a scratch buffer to each of them that
// nothing ever reads or writes: the caller binds its own buffers to all of them before the
// first process.
std::vector<int32_t> acceptedPins(IMpPlugin2& plugin, int32_t limit = PROBED_PIN_IDS);

}  // namespace kvx::host
