// SPDX-License-Identifier: MIT
// The run order of a patch, worked out once when it is built: stages in which every module runs
// after the modules that feed it, a loop closed by one-sample-delay connections as one stage
// whose modules run one sample per call, and the refusal of a loop without a delay, by name.
#pragma once

#include <cstdint>
#include <vector>

#include "host/patch_graph.h"

namespace kvx::host {

struct PatchStage {
    // In run order. One module, unless the stage is a loop.
    std::vector<int32_t> modules;
    // A loop (also one module feeding itself through a delayed connection): its modules run one
    // sample at a time, in `modules` order, which follows the undelayed connections among them.
    bool perSample = false;
};

// The stages of a graph whose connections have passed checkPatchGraph. Deterministic: among
// stages (and among a loop's modules) that could run next, the one holding the module first
// in the graph goes first. Throws HostError naming the modules of a loop of undelayed
// connections ("env -> vca -> env").
std::vector<PatchStage> orderPatch(const PatchGraph& graph);

}  // namespace kvx::host
