// SPDX-License-Identifier: MIT
// Loading a patch's libraries and probing the pins their descriptions name.
#include "patch/library_check.h"

#include <map>
#include <memory>
#include <optional>

#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"

namespace kvx::patch {

std::vector<ModuleCheck> checkPatchLibraries(const PatchFile& patch) {
    std::vector<ModuleCheck> checks;
    std::map<std::string, std::unique_ptr<host::PluginLibrary>> libraries;  // by path; null: did not load
    std::map<std::string, std::string> loadErrors;
    for (size_t m = 0; m < patch.graph.modules.size(); ++m) {
        const host::PatchModule& instance = patch.graph.modules[m];
        ModuleCheck check;
        check.module = static_cast<int32_t>(m);
        const std::string who = "module '" + instance.name + "' (" + instance.libraryPath + ")";
        if (!libraries.contains(instance.libraryPath)) {
            try {
                libraries[instance.libraryPath] = std::make_unique<host::PluginLibrary>(instance.libraryPath);
            } catch (const host::HostError& error) {
                libraries[instance.libraryPath] = nullptr;
                loadErrors[instance.libraryPath] = error.what();
            }
        }
        const host::PluginLibrary* library = libraries[instance.libraryPath].get();
        if (library == nullptr) {
            check.problems.push_back(who +
                                     ": the library does not load: " + loadErrors[instance.libraryPath]);
            checks.push_back(std::move(check));
            continue;
        }
        std::optional<host::PluginInstance> created;
        try {
            created.emplace(*library, instance.id, instance.subtype);
        } catch (const host::HostError& error) {
            check.problems.push_back(who + ": the factory does not create it: " + error.what());
            checks.push_back(std::move(check));
            continue;
        }
        static float probe[8];
        for (const describe::PinDescription& pin : patch.modules[m].description.pins) {
            if (created->plugin()->bindPinBuffer(pin.id, probe) == 0)
                ++check.pinsAccepted;
            else
                check.problems.push_back(who + ": described pin " + std::to_string(pin.id) + " (" +
                                         pin.symbol + ") is refused by bindPinBuffer");
        }
        checks.push_back(std::move(check));
    }
    return checks;
}

}  // namespace kvx::patch
