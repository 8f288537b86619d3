// SPDX-License-Identifier: MIT
// A patch's module libraries against their descriptions, as `kvx validate PATCH` checks them:
// each library loads, its factory creates each module the patch names, and every pin the
// description gives that module is one the instance accepts a buffer for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/patch_file.h"

namespace kvx::patch {

struct ModuleCheck {
    int32_t module = 0;                 // index into PatchFile::modules
    int32_t pinsAccepted = 0;           // described pins the instance took a buffer for
    std::vector<std::string> problems;  // one line each, naming the module; empty: it agrees
};

// One check per module instance, in file order. Each library is loaded once.
std::vector<ModuleCheck> checkPatchLibraries(const PatchFile& patch);

}  // namespace kvx::patch
