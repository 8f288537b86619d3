// SPDX-License-Identifier: MIT
// kvx info: what a module library's factory reports, whether a module can be created, and its
// pins: as its description gives them, next to the pin ids the instance itself accepts.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "describe/user_value.h"
#include "host/accepted_pins.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "patch/patch_reader.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/patch_commands.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

namespace {

struct InfoOptions {
    std::string path;
    std::string id;  // empty: the description's only module, else "KV ADSR4"
    int32_t subtype = 0;
    bool subtypeGiven = false;  // --subtype on the command line
    std::string describe;
};

// The ids bindPinBuffer accepts: what the library itself tells a host.
std::vector<int32_t> bindablePins(host::PluginInstance& instance) {
    return host::acceptedPins(*instance.plugin());
}

std::string rangeText(const describe::PinDescription& pin) {
    if (!pin.minimum || !pin.maximum) return "";
    char text[96];
    std::snprintf(text, sizeof text, "%.6g .. %.6g%s%s", *pin.minimum, *pin.maximum,
                  pin.unit == describe::Unit::None ? "" : " ",
                  pin.unit == describe::Unit::None ? "" : describe::unitName(pin.unit));
    return std::string(text) + (pin.scale == describe::Scale::Logarithmic ? ", log" : "");
}

std::string defaultText(const describe::PinDescription& pin) {
    if (!pin.defaultValue) return "";
    if (pin.datatype == describe::Datatype::Bool) return *pin.defaultValue != 0.0 ? "true" : "false";
    return describe::formatUserValue(pin, *pin.defaultValue);
}

std::string column(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

void printPins(const describe::ModuleDescription* module, const std::vector<int32_t>& bindable) {
    std::cout << "pins:       " << bindable.size() << " accepted by bindPinBuffer";
    if (module) std::cout << ", " << module->pins.size() << " described";
    std::cout << "\n";
    if (!module) {
        std::cout << "            ids:";
        for (int32_t id : bindable) std::cout << " " << id;
        std::cout << "\n";
        return;
    }
    std::cout << "  " << column("id", 5) << column("symbol", 16) << column("datatype", 10) << column("dir", 5)
              << column("role", 11) << column("default", 11) << column("range", 26) << "bindable\n";
    for (const describe::PinDescription& pin : module->pins) {
        const bool accepted = std::find(bindable.begin(), bindable.end(), pin.id) != bindable.end();
        std::cout << "  " << column(std::to_string(pin.id), 5) << column(pin.symbol, 16)
                  << column(describe::datatypeName(pin.datatype), 10)
                  << column(describe::directionName(pin.direction), 5)
                  << column(describe::roleName(pin.role), 11) << column(defaultText(pin), 11)
                  << column(rangeText(pin), 26) << (accepted ? "yes" : "NO") << "\n";
    }
    std::string undescribed;
    for (int32_t id : bindable)
        if (module->pinById(id) == nullptr) undescribed += " " + std::to_string(id);
    if (!undescribed.empty()) std::cout << "  accepted but not described:" << undescribed << "\n";
}

int runInfo(const InfoOptions& options) {
    // The description: --describe, else the one beside the library.
    std::optional<describe::Description> description;
    const std::string descriptionPath = describe::chooseDescriptionFile(options.path, options.describe);
    if (!descriptionPath.empty()) {
        try {
            description = describe::loadDescription(descriptionPath);
        } catch (const describe::DescriptionError& problem) {
            std::cerr << "kvx info: " << problem.what() << "\n";
            return 1;
        }
    }
    // Without --id: the description's one module (its subtype too, unless --subtype says), else
    // the envelope.
    std::string id = options.id;
    int32_t subtype = options.subtype;
    if (id.empty() && description && description->modules.size() == 1) {
        id = description->modules.front().id;
        if (!options.subtypeGiven) subtype = description->modules.front().subtype;
    } else if (id.empty()) {
        id = "KV ADSR4";
    }

    try {
        host::PluginLibrary library(options.path);
        const host::BuildInfo info = library.buildInfo();
        std::cout << "library:    " << options.path << "\n"
                  << "factory:    " << (library.factory2() ? "IMpFactory2" : "IMpFactory") << "\n"
                  << "version:    " << info.version << "\n"
                  << "build text: " << host::toUtf8(info.text) << "\n";
        std::optional<host::PluginInstance> instance;
        try {
            instance.emplace(library, host::toUtf16(id), subtype);
        } catch (const host::HostError& problem) {
            std::cout << "module:     \"" << id << "\" subtype " << subtype << ": cannot be created\n";
            std::cerr << "kvx info: " << problem.what() << "\n";
            return 2;
        }
        std::cout << "module:     \"" << id << "\" subtype " << subtype << ": can be created\n";
        const describe::ModuleDescription* module = description ? description->find(id, subtype) : nullptr;
        if (!description)
            std::cout << "described:  no (no "
                      << std::filesystem::path(describe::descriptionPathFor(options.path)).filename().string()
                      << " beside the library)\n";
        else if (!module)
            std::cout << "described:  no (" << descriptionPath << " does not describe this module)\n";
        else
            std::cout << "described:  " << descriptionPath << ": " << module->name << " (symbol "
                      << module->symbol << ")\n";
        printPins(module, bindablePins(*instance));
        return 0;
    } catch (const host::HostError& problem) {
        std::cerr << "kvx info: " << problem.what() << "\n";
        return 1;
    }
}

}  // namespace

void addInfoCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<InfoOptions>();
    options->path = defaultPluginPath();
    CLI::App* command = app.add_subcommand("info",
                                           "Show a library's build info, whether a module can be created, "
                                           "and its pins; or a patch's modules in run "
                                           "order, connections and controls");
    addModuleArguments(*command, {.plugin = &options->path,
                                  .id = &options->id,
                                  .subtype = &options->subtype,
                                  .describe = &options->describe});
    const CLI::Option* subtypeOption = command->get_option("--subtype");
    command->callback([options, subtypeOption, &exitStatus] {
        if (patch::isPatchFileName(options->path)) {
            exitStatus = runPatchInfo(options->path);
            return;
        }
        InfoOptions chosen = *options;
        chosen.subtypeGiven = subtypeOption->count() > 0;
        resolveModuleArguments(chosen.path, chosen.id, chosen.subtype, !chosen.id.empty());
        exitStatus = runInfo(chosen);
    });
}

}  // namespace kvx::cli
