// SPDX-License-Identifier: MIT
// Reading a patch with the tools' module path and built-in description.
#include "render/patch_loading.h"

#include <filesystem>

#include "patch/patch_reader.h"
#include "render/profile.h"

namespace kvx::render {

patch::PatchFile loadToolPatch(const std::string& path, const std::vector<describe::ModuleFolder>& folders) {
    describe::Description builtIn;
    builtIn.source = "the built-in description of \"" + builtInModule().id + "\"";
    builtIn.modules.push_back(builtInModule());
    patch::PathModuleSource modules(folders, &builtIn);
    return patch::loadPatch(path, modules);
}

std::string patchFileStem(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    const std::string suffix = ".kvxpatch.json";
    if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
    return name;
}

}  // namespace kvx::render
