// SPDX-License-Identifier: MIT
// One host block of a session, and how evidence names it.
#pragma once

#include <cstdint>
#include <string>

namespace kvx::conformance {

struct Block {
    int64_t index = 0;   // position in the partition
    int64_t start = 0;   // absolute sample of its first sample
    int32_t length = 0;  // samples (0 for an empty call)

    // "block 3 (samples 192..255, 64 long)"
    std::string describe() const {
        return "block " + std::to_string(index) + " (samples " + std::to_string(start) + ".." +
               std::to_string(start + length - 1) + ", " + std::to_string(length) + " long)";
    }
};

}  // namespace kvx::conformance
