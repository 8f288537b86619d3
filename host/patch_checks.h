// SPDX-License-Identifier: MIT
// The checks a PatchGraph must pass before any library is loaded: every index and pin it names
// exists, connections go from an audio output to an audio input, no input is connected twice.
#pragma once

#include <string>

#include "host/patch_graph.h"

namespace kvx::host {

// Throws HostError with a message naming the patch, the module and the pin of the first fault.
void checkPatchGraph(const PatchGraph& graph);

// "env" (the instance's name), or "module 3" when the index names no module.
std::string moduleName(const PatchGraph& graph, int32_t module);
// The start of every message about the patch: its file, or "patch".
std::string patchPrefix(const PatchGraph& graph);

}  // namespace kvx::host
