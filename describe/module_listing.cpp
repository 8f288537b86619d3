// SPDX-License-Identifier: MIT
// Walking the module path.
#include "describe/module_listing.h"

#include <algorithm>
#include <filesystem>

#include "describe/description_reader.h"

namespace kvx::describe {

namespace {

namespace fs = std::filesystem;

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void listFolder(const ModuleFolder& folder, ModuleListing& listing) {
    std::error_code error;
    if (!fs::is_directory(folder.path, error)) {
        if (folder.mustExist) listing.skipped.push_back(SkippedEntry{folder.path, "not a folder"});
        return;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator entry(folder.path, error), end; !error && entry != end;
         entry.increment(error))
        names.push_back(entry->path().filename().string());
    if (error) {
        listing.skipped.push_back(SkippedEntry{folder.path, "cannot read the folder: " + error.message()});
        return;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = (fs::path(folder.path) / name).string();
        if (endsWith(name, ".kvx")) {
            if (!fs::exists(descriptionPathFor(path), error))
                listing.skipped.push_back(SkippedEntry{path, "no description " + name + ".json beside it"});
            continue;
        }
        if (!endsWith(name, ".kvx.json")) continue;
        const std::string library = path.substr(0, path.size() - 5);
        if (!fs::is_regular_file(library, error)) {
            listing.skipped.push_back(
                SkippedEntry{path, "no library " + fs::path(library).filename().string() + " beside it"});
            continue;
        }
        Description description;
        try {
            description = loadDescription(path);
        } catch (const DescriptionError& problem) {
            // The message starts with the path already.
            listing.skipped.push_back(
                SkippedEntry{path, std::string(problem.what()).substr(path.size() + 2)});
            continue;
        }
        for (ModuleDescription& module : description.modules) {
            auto earlier =
                std::find_if(listing.modules.begin(), listing.modules.end(), [&](const FoundModule& found) {
                    return found.module.id == module.id && found.module.subtype == module.subtype;
                });
            if (earlier != listing.modules.end()) {
                listing.skipped.push_back(SkippedEntry{path, "\"" + module.id + "\" subtype " +
                                                                 std::to_string(module.subtype) +
                                                                 " is already " + earlier->library});
                continue;
            }
            listing.modules.push_back(FoundModule{library, path, std::move(module)});
        }
    }
}

}  // namespace

ModuleListing listModules(const std::vector<ModuleFolder>& folders) {
    ModuleListing listing;
    std::vector<fs::path> seen;  // a folder named twice (e.g. in KVX_PATH too) is listed once
    for (const ModuleFolder& folder : folders) {
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(folder.path, error);
        if (std::find(seen.begin(), seen.end(), canonical) != seen.end()) continue;
        seen.push_back(canonical);
        listFolder(folder, listing);
    }
    return listing;
}

const FoundModule* findModule(const ModuleListing& listing, std::string_view name) {
    for (const FoundModule& found : listing.modules)
        if (found.module.id == name || flagName(found.module.symbol) == flagName(name)) return &found;
    return nullptr;
}

}  // namespace kvx::describe
