// SPDX-License-Identifier: MIT
// kvx lv2: an LV2 bundle from a module library and its description, for Linux hosts.
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "describe/description_reader.h"
#include "lv2/bundle/bundle_writer.h"
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

}  // namespace

void addLv2Command(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<Lv2Options>();
    options->plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "lv2",
        "Write an LV2 bundle of a module library: one plug-in per module and flavour (midi, amp, "
        "gate, cv; audio for modules without a gate)");
    addModuleArguments(*command, {.plugin = &options->plugin, .describe = &options->describe});
    command->add_option("--out", options->out, "The bundle folder to write, e.g. ~/.lv2/ADSR.lv2")
        ->required();
    command->add_flag("--quiet", options->quiet, "Print nothing when all goes well");
    command->footer("Hosts find bundles along LV2_PATH (default ~/.lv2, /usr/lib/lv2 and the like).");
    command->callback([options, &exitStatus] {
        try {
            Lv2Options chosen = *options;
            chosen.plugin = resolveModuleArgument(chosen.plugin).library;
            lv2::BundleSource source;
            source.library = chosen.plugin;
            source.bridgeBinary = lv2BridgePath();
            chooseDescription(chosen, source);
            const auto plugins = lv2::writeBundle(source, chosen.out);
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
