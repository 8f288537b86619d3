// SPDX-License-Identifier: MIT
// Modules found along a module path, and library descriptions from the files beside them.
#include "patch/module_source.h"

#include <filesystem>

#include "describe/description_reader.h"

namespace kvx::patch {

PathModuleSource::PathModuleSource(std::vector<describe::ModuleFolder> folderList,
                                   const describe::Description* undescribedLibrary)
    : folders(std::move(folderList)), undescribed(undescribedLibrary) {}

const describe::ModuleListing& PathModuleSource::listing() {
    if (!listed) listed = std::make_unique<describe::ModuleListing>(describe::listModules(folders));
    return *listed;
}

const std::vector<describe::SkippedEntry>& PathModuleSource::skipped() { return listing().skipped; }

const describe::FoundModule* PathModuleSource::find(std::string_view name) {
    return describe::findModule(listing(), name);
}

std::vector<std::string> PathModuleSource::symbols() {
    std::vector<std::string> names;
    for (const describe::FoundModule& found : listing().modules) names.push_back(found.module.symbol);
    return names;
}

describe::Description PathModuleSource::describeLibrary(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw ModuleSourceError("no library file " + path);
    const std::string beside = describe::descriptionPathFor(path);
    if (std::filesystem::exists(beside, error)) {
        try {
            return describe::loadDescription(beside);
        } catch (const describe::DescriptionError& problem) {
            throw ModuleSourceError(problem.what());
        }
    }
    if (undescribed != nullptr) return *undescribed;
    throw ModuleSourceError(path + " has no description (" +
                            std::filesystem::path(beside).filename().string() + " beside it)");
}

}  // namespace kvx::patch
