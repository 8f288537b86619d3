// SPDX-License-Identifier: MIT
// A note's frequency.
#include "host/instrument_notes.h"

#include <cmath>

namespace kvx::host {

double noteHertz(int32_t key, double semitones) noexcept {
    return 440.0 * std::exp2((static_cast<double>(key - 69) + semitones) / 12.0);
}

}  // namespace kvx::host
