// SPDX-License-Identifier: MIT
// The modules found in a module path: every NAME.kvx.json with its NAME.kvx beside it, folder by
// folder; what cannot be listed is named with the reason instead of failing the whole listing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "describe/description.h"

namespace kvx::describe {

struct FoundModule {
    std::string library;      // path of NAME.kvx
    std::string description;  // path of NAME.kvx.json
    ModuleDescription module;
};

struct SkippedEntry {
    std::string path;
    std::string reason;  // one line
};

struct ModuleListing {
    std::vector<FoundModule> modules;  // in path order, then by file name
    std::vector<SkippedEntry> skipped;
};

// Lists `folders` in order (files in each by name). A module (id and subtype) found again later in
// the path is skipped in favour of the first, as a shell's PATH does. Folders that do not exist are
// passed over silently unless `mustExist` says the person named them.
struct ModuleFolder {
    std::string path;
    bool mustExist = false;
};
ModuleListing listModules(const std::vector<ModuleFolder>& folders);

// The module whose symbol or id is `name` (symbols may be written with '-' for '_'), or null.
const FoundModule* findModule(const ModuleListing& listing, std::string_view name);

}  // namespace kvx::describe
