// SPDX-License-Identifier: MIT
// Random patches over the envelope, the VCA and the test modules Sum and StreamProbe: any
// graph without an undelayed loop (connections forward in a random order of the modules, and
// delayed ones anywhere, a module feeding itself included), random values, notes and ramps.
#pragma once

#include <cstdint>
#include <functional>

#include "host/patch_graph.h"
#include "tests/host/patch_harness.h"

namespace kvx::test {

struct RandomPatch {
    host::PatchGraph graph;  // every module's output is an output of the patch
    Score score;
};

// `choose(n)` picks a number in 0..n-1 (a seeded generator, or a fuzzer's bytes).
RandomPatch randomPatch(const std::function<uint32_t(uint32_t)>& choose);

}  // namespace kvx::test
