// SPDX-License-Identifier: MIT
// What every check of the validator knows (the library, the module, the random-session
// settings), and the exception a check helper throws with the first evidence of a failure.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kvx::validate {

struct CheckFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Context {
    std::string path;
    std::u16string id;
    int32_t subtype = 0;
    int32_t seeds = 12;  // random sessions per randomised check
    uint64_t seed = 1;   // session k uses seed + k
    std::string description;  // the module description to check against the library; empty: none
};

}  // namespace kvx::validate
