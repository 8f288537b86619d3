// SPDX-License-Identifier: MIT
// kvx lv2: an LV2 bundle from a module library and its description, or from a patch, for Linux
// hosts.
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "lv2/bundle/bundle_writer.h"
#include "patch/patch_reader.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::render {
extern const char ENVELOPE_DESCRIPTION_JSON[];
}

namespace kvx::cli {

namespace {

struct Lv2Options {
    std::string plugin;
    std::string describe;
    std::string out;
    bool quiet = false;
};

std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw lv2::BundleError("cannot read " + path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The description: --describe, else NAME.kvx.json beside the library, else the envelope's own.
void chooseDescription(const Lv2Options& options, lv2::BundleSource& source) {
    const std::string path = describe::chooseDescriptionFile(options.plugin, options.describe);
    if (path.empty()) {
        source.descriptionText = render::ENVELOPE_DESCRIPTION_JSON;
        source.descriptionSource = "the built-in description of the envelope";
        return;
    }
    source.descriptionText = readText(path);
    source.descriptionSource = path;
}

// A patch's bundle: the patch read along the module path (the envelope described by its
// built-in description where it has no file beside it), then written with its libraries.
std::vector<lv2::WrittenPlugin> writePatch(const Lv2Options& options) {
    const std::string builtInSource = "the built-in description of the envelope";
    const describe::Description envelope =
        describe::parseDescription(render::ENVELOPE_DESCRIPTION_JSON, builtInSource);
    patch::PathModuleSource modules(modulePath(), &envelope);
    lv2::PatchBundleSource source;
    source.patchPath = options.plugin;
    source.patchText = readText(options.plugin);
    source.patch = patch::parsePatch(source.patchText, options.plugin, modules);
    source.undescribedText = render::ENVELOPE_DESCRIPTION_JSON;
    source.bridgeBinary = lv2BridgePath();
    return lv2::writePatchBundle(source, options.out);
}

}  // namespace

void addLv2Command(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<Lv2Options>();
    options->plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "lv2",
        "Write an LV2 bundle of a module library: one plug-in per module and flavour (midi, amp, "
        "gate, cv; audio for modules without a gate); or of a patch (NAME.kvxpatch.json): a midi "
        "plug-in (an instrument of the patch's voices when it has more than one), an effect "
        "plug-in when the patch has audio inputs, and the patch's presets");
    addModuleArguments(*command, {.plugin = &options->plugin, .describe = &options->describe});
    command->add_option("--out", options->out, "The bundle folder to write, e.g. ~/.lv2/ADSR.lv2")
        ->required();
    command->add_flag("--quiet", options->quiet, "Print nothing when all goes well");
    command->footer("Hosts find bundles along LV2_PATH (default ~/.lv2, /usr/lib/lv2 and the like).");
    command->callback([options, &exitStatus] {
        try {
            Lv2Options chosen = *options;
            std::vector<lv2::WrittenPlugin> plugins;
            if (patch::isPatchFileName(chosen.plugin)) {
                if (!chosen.describe.empty())
                    throw lv2::BundleError(
                        "--describe is for a module library; a patch names its modules' descriptions");
                plugins = writePatch(chosen);
            } else {
                chosen.plugin = resolveModuleArgument(chosen.plugin).library;
                lv2::BundleSource source;
                source.library = chosen.plugin;
                source.bridgeBinary = lv2BridgePath();
                chooseDescription(chosen, source);
                plugins = lv2::writeBundle(source, chosen.out);
            }
            if (!chosen.quiet) {
                std::cout << "wrote " << chosen.out << " (" << plugins.size() << " plug-ins)\n";
                for (const lv2::WrittenPlugin& plugin : plugins) {
                    std::cout << "  " << plugin.uri << "  " << plugin.name;
                    for (size_t i = 0; i < plugin.leftOut.size(); ++i)
                        std::cout << (i == 0 ? "; leaves out " : ", ") << plugin.leftOut[i];
                    std::cout << "\n";
                }
            }
        } catch (const std::exception& error) {
            std::cerr << "kvx lv2: " << error.what() << "\n";
            exitStatus = 1;
        }
    });
}

}  // namespace kvx::cli
