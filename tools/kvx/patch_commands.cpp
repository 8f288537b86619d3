// SPDX-License-Identifier: MIT
// kvx info PATCH and kvx validate PATCH.
#include "tools/kvx/patch_commands.h"

#include <iostream>
#include <string>
#include <vector>

#include "describe/user_value.h"
#include "host/host_error.h"
#include "host/patch_order.h"
#include "patch/library_check.h"
#include "patch/patch_reader.h"
#include "render/patch_loading.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

namespace {

std::string column(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string pinList(const patch::PatchFile& patch, const std::vector<patch::PinRef>& refs) {
    std::string text;
    for (const patch::PinRef& ref : refs) text += (text.empty() ? "" : ", ") + patch.pinName(ref);
    return text;
}

std::string controlRange(const patch::Control& control) {
    const describe::PinDescription& range = control.range;
    if (range.datatype == describe::Datatype::Bool)
        return std::string("bool, default ") + (range.defaultValue.value_or(0.0) != 0.0 ? "true" : "false");
    std::string text = "default " + describe::formatUserValue(range, range.defaultValue.value_or(0.0));
    if (range.minimum) text += ", from " + describe::formatUserValue(range, *range.minimum);
    if (range.maximum) text += " to " + describe::formatUserValue(range, *range.maximum);
    return text;
}

}  // namespace

int runPatchInfo(const std::string& path) {
    patch::PatchFile patch;
    std::vector<host::PatchStage> stages;
    try {
        patch = render::loadToolPatch(path, modulePath());
        stages = host::orderPatch(patch.graph);
    } catch (const patch::PatchError& error) {
        std::cerr << "kvx info: " << error.what() << "\n";
        return 1;
    } catch (const host::HostError& error) {
        std::cerr << "kvx info: " << error.what() << "\n";
        return 1;
    }
    std::cout << "patch:       " << path << "\n"
              << "name:        " << patch.name << "\n"
              << "modules:     " << patch.graph.modules.size() << ", in run order\n";
    for (const host::PatchStage& stage : stages) {
        for (int32_t m : stage.modules) {
            const host::PatchModule& module = patch.graph.modules[static_cast<size_t>(m)];
            const describe::ModuleDescription& description =
                patch.modules[static_cast<size_t>(m)].description;
            std::cout << "  " << column(module.name, 12) << column("\"" + description.id + "\"", 12)
                      << column("subtype " + std::to_string(module.subtype), 11) << module.libraryPath
                      << "\n";
        }
        if (stage.perSample) {
            std::string names;
            for (int32_t m : stage.modules)
                names += (names.empty() ? "" : ", ") + patch.graph.modules[static_cast<size_t>(m)].name;
            std::cout << "  (a loop closed by a one-sample delay, run one sample per call: " << names
                      << ")\n";
        }
    }
    std::cout << "connections: " << patch.graph.connections.size() << "\n";
    for (const host::PatchConnection& c : patch.graph.connections)
        std::cout << "  " << column(patch.pinName({c.fromModule, c.fromPin}), 18) << "-> "
                  << patch.pinName({c.toModule, c.toPin}) << (c.oneSampleDelay ? "  (one-sample delay)" : "")
                  << "\n";
    std::cout << "outputs:     " << patch.graph.outputs.size() << "\n";
    for (const host::PatchOutput& output : patch.graph.outputs)
        std::cout << "  " << column(output.name, 12) << patch.pinName({output.module, output.pin}) << "\n";
    std::cout << "controls:    " << patch.controls.size() << "\n";
    for (const patch::Control& control : patch.controls)
        std::cout << "  " << column(control.name, 12) << column(pinList(patch, control.pins), 24)
                  << controlRange(control) << "\n";
    const patch::NoteMapping& notes = patch.notes;
    if (notes.empty()) {
        std::cout << "notes:       none\n";
    } else {
        std::cout << "notes:\n";
        const struct {
            const char* name;
            const std::vector<patch::PinRef>& refs;
        } parts[] = {{"gate", notes.gate},
                     {"trigger", notes.trigger},
                     {"pitch", notes.pitch},
                     {"velocity", notes.velocity}};
        for (const auto& part : parts)
            if (!part.refs.empty())
                std::cout << "  " << column(part.name, 12) << pinList(patch, part.refs) << "\n";
    }
    std::cout << "audio inputs: " << (patch.inputs.empty() ? "none" : pinList(patch, patch.inputs))
              << "\n"
              << "voices:      " << patch.voices << "\n";
    if (!patch.presets.empty()) {
        std::cout << "presets:     " << patch.presets.size() << "\n";
        for (const patch::Preset& preset : patch.presets) std::cout << "  " << preset.name << "\n";
    }
    return 0;
}

int runPatchValidate(const std::string& path) {
    patch::PatchFile patch;
    try {
        patch = render::loadToolPatch(path, modulePath());
    } catch (const patch::PatchError& error) {
        std::cerr << "kvx validate: " << error.what() << "\n";
        return 1;
    }
    std::cout << "patch      " << path << ": reads against the descriptions (" << patch.graph.modules.size()
              << " modules, " << patch.graph.connections.size() << " connections)\n";
    int problems = 0;
    for (const patch::ModuleCheck& check : patch::checkPatchLibraries(patch)) {
        const host::PatchModule& module = patch.graph.modules[static_cast<size_t>(check.module)];
        std::cout << column(module.name, 10) << module.libraryPath << ": "
                  << (check.problems.empty() ? "agrees with " : "DISAGREES with ")
                  << patch.modules[static_cast<size_t>(check.module)].descriptionSource << " ("
                  << check.pinsAccepted << " described pins accepted)\n";
        for (const std::string& problem : check.problems) {
            std::cerr << "kvx validate: " << path << ": " << problem << "\n";
            ++problems;
        }
    }
    std::cout << (problems == 0 ? "PASS" : "FAIL") << "\n";
    return problems == 0 ? 0 : 1;
}

}  // namespace kvx::cli
