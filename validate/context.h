// SPDX-License-Identifier: MIT
// What every check of the validator knows (the library, the module, the random-session
// settings), and the exception a check helper throws with the first evidence of a failure.
#pragma once

#include <cstdint>
#include <string>

#include "conformance/raw_module.h"

namespace kvx::validate {

// The validator is a host built on the conformance kit: its raw slots and raw host, module
// loading, sessions, pin discovery, buffers, monitors and block loop.
using namespace kvx::conformance;

// A check fails by throwing, as the kit's raw hosts do when a module cannot be driven at all.
using CheckFailure = conformance::Failure;

// The module under test (its library path, id and subtype) and the random-session settings.
struct Context : ModuleRef {
    int32_t seeds = 12;       // random sessions per randomised check
    uint64_t seed = 1;        // session k uses seed + k
    std::string description;  // the module description to check against the library; empty: none
};

}  // namespace kvx::validate
