// SPDX-License-Identifier: MIT
#include "host/accepted_pins.h"

#include "interfaces/result_codes.h"

namespace kvx::host {

std::vector<int32_t> acceptedPins(IMpPlugin2& plugin, int32_t limit) {
    static float scratch[1];  // bound only until the caller binds its own buffer
    std::vector<int32_t> found;
    for (int32_t pin = 0; pin < limit; ++pin)
        if (plugin.bindPinBuffer(pin, scratch) == RESULT_OK) found.push_back(pin);
    return found;
}

}  // namespace kvx::host
