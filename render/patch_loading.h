// SPDX-License-Identifier: MIT
// A patch file as the tools read it: its modules found along a module path, and the envelope's
// built-in description for a library that has none beside it (as `kvx render ADSR.kvx` renders
// it). Shared by the commands that take a patch (render, info, validate, lv2).
#pragma once

#include <string>
#include <vector>

#include "describe/module_listing.h"
#include "patch/patch_file.h"

namespace kvx::render {

// Reads and checks the patch at `path`. Throws patch::PatchError with the reader's one line.
patch::PatchFile loadToolPatch(const std::string& path, const std::vector<describe::ModuleFolder>& folders);

// "voice" for "dir/voice.kvxpatch.json": the stem outputs are named after.
std::string patchFileStem(const std::string& path);

}  // namespace kvx::render
