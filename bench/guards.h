// SPDX-License-Identifier: MIT
// Correctness guards, run before any timing: a fast path that computes the wrong envelope must
// not win. Each guard prints one line; the first failure ends the process with status 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/note.h"

namespace kvx::bench {

// Figures the guards establish and the report uses.
struct GuardFigures {
    int64_t noteMovingSamples = 0;   // moving samples of the single note
    int64_t voiceMovingSamples = 0;  // moving samples of one many-voice note
    int64_t instanceBytes = 0;       // object + every allocation made while creating it (usable size)
    int64_t instanceRequestedBytes = 0;
    int64_t instanceAllocations = 0;
    int64_t objectBytes = 0;  // sizeof the module class
    int64_t allocationsAfterCreation = 0;
};

// Runs every guard; exits with status 1 on the first failure.
GuardFigures runGuardsOrExit();

// A long moving segment for the floor and module benchmarks: an attack of 100000 s.
constexpr NoteSettings LONG_SEGMENT{100000.0, 0.2, 0.5, 1.0, 200000.0, 0.0};
constexpr int32_t CHUNK = 4096;  // samples per timed call on the long segment

}  // namespace kvx::bench
