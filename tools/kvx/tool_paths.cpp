// SPDX-License-Identifier: MIT
// Paths relative to the running tool, and the module path.
#include "tools/kvx/tool_paths.h"

#include <cstdlib>
#include <filesystem>

namespace kvx::cli {

namespace {

namespace fs = std::filesystem;

fs::path toolFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path(".") : self.parent_path();
}

// The installed module folder: KVX_MODULE_DIR_FROM_TOOL is its path relative to the tool's
// folder, fixed when the tool is configured (e.g. ../lib/kvx).
fs::path installedModuleFolder() { return (toolFolder() / KVX_MODULE_DIR_FROM_TOOL).lexically_normal(); }

// The installed helper folder, likewise (e.g. ../libexec/kvx).
fs::path installedHelperFolder() { return (toolFolder() / KVX_HELPER_DIR_FROM_TOOL).lexically_normal(); }

bool holdsDescriptions(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() > 9 && name.compare(name.size() - 9, 9, ".kvx.json") == 0) return true;
    }
    return false;
}

// `name` in the tool's folder (a build tree), else in the installed module folder when it is
// there; the build tree's path when neither has it, for the message that follows.
std::string besideToolOrInstalled(const std::string& name) {
    std::error_code error;
    const fs::path beside = toolFolder() / name;
    const fs::path installed = installedModuleFolder() / name;
    if (!fs::exists(beside, error) && fs::exists(installed, error)) return installed.string();
    return beside.string();
}

}  // namespace

std::string defaultPluginPath() { return besideToolOrInstalled("ADSR.kvx"); }

std::string lv2BridgePath() { return besideToolOrInstalled("lv2/kvx-lv2-bridge.so"); }

HelperProgram validateHelper() {
    HelperProgram helper{"", (toolFolder() / "kvx-validate").string(),
                         (installedHelperFolder() / "kvx-validate").string()};
    std::error_code error;
    if (fs::exists(helper.besideTool, error))
        helper.path = helper.besideTool;
    else if (fs::exists(helper.installed, error))
        helper.path = helper.installed;
    return helper;
}

std::vector<describe::ModuleFolder> modulePath() {
    std::vector<describe::ModuleFolder> folders;
    if (const char* path = std::getenv("KVX_PATH")) {
        std::string entries = path;
        size_t start = 0;
        while (start <= entries.size()) {
            const size_t colon = std::min(entries.find(':', start), entries.size());
            if (colon > start)
                folders.push_back(describe::ModuleFolder{entries.substr(start, colon - start), true});
            start = colon + 1;
        }
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        folders.push_back(describe::ModuleFolder{(fs::path(home) / ".local/lib/kvx").string(), false});
    folders.push_back(describe::ModuleFolder{installedModuleFolder().string(), false});
    if (holdsDescriptions(toolFolder()))
        folders.push_back(describe::ModuleFolder{toolFolder().string(), false});
    return folders;
}

ModuleArgument resolveModuleArgument(const std::string& text) {
    std::error_code error;
    // Anything that looks like a path is one, found or not (the loader then says why not).
    if (text.find('/') != std::string::npos || fs::exists(text, error) || text.ends_with(".kvx") ||
        text.find(".so") != std::string::npos)
        return ModuleArgument{text, "", 0};
    const describe::ModuleListing listing = describe::listModules(modulePath());
    if (const describe::FoundModule* found = describe::findModule(listing, text))
        return ModuleArgument{found->library, found->module.id, found->module.subtype};
    return ModuleArgument{text, "", 0};
}

}  // namespace kvx::cli
