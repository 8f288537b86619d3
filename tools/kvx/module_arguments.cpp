// SPDX-License-Identifier: MIT
#include "tools/kvx/module_arguments.h"

#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

CLI::Option* addModuleArguments(CLI::App& command, const ModuleArguments& into) {
    command.add_option(
        "plugin", *into.plugin,
        "Module library (.kvx), or a module's symbol or id from kvx list (default: the envelope, ADSR.kvx)");
    CLI::Option* id = into.id != nullptr ? command.add_option("--id", *into.id, into.idHelp) : nullptr;
    if (into.subtype != nullptr)
        command.add_option("--subtype", *into.subtype, "Module subtype (with --id)")->capture_default_str();
    if (into.describe != nullptr) command.add_option("--describe", *into.describe, into.describeHelp);
    return id;
}

bool resolveModuleArguments(std::string& plugin, std::string& id, int32_t& subtype, bool idGiven) {
    const ModuleArgument named = resolveModuleArgument(plugin);
    plugin = named.library;
    if (named.id.empty()) return false;
    if (!idGiven) {
        id = named.id;
        subtype = named.subtype;
    }
    return true;
}

}  // namespace kvx::cli
