// kvx info: what a module library's factory reports, and whether a module can be created.
#include <iostream>
#include <string>

#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

namespace {

struct InfoOptions {
    std::string path;
    std::string id = "KV ADSR4";
    int subtype = 0;
};

int runInfo(const InfoOptions& options) {
    try {
        host::PluginLibrary library(options.path);
        const host::BuildInfo info = library.buildInfo();
        std::cout << "library:    " << options.path << "\n"
                  << "factory:    " << (library.factory2() ? "IMpFactory2" : "IMpFactory") << "\n"
                  << "version:    " << info.version << "\n"
                  << "build text: " << host::toUtf8(info.text) << "\n";
        try {
            host::PluginInstance instance(library, host::toUtf16(options.id), options.subtype);
            std::cout << "module:     \"" << options.id << "\" subtype " << options.subtype
                      << ": can be created\n";
            return 0;
        } catch (const host::HostError& error) {
            std::cout << "module:     \"" << options.id << "\" subtype " << options.subtype
                      << ": cannot be created\n";
            std::cerr << "kvx info: " << error.what() << "\n";
            return 2;
        }
    } catch (const host::HostError& error) {
        std::cerr << "kvx info: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace

void addInfoCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<InfoOptions>();
    options->path = defaultPluginPath();
    CLI::App* command =
        app.add_subcommand("info", "Show a library's build info and whether a module can be created");
    command->add_option("plugin", options->path, "Module library (.kvx)")->capture_default_str();
    command->add_option("--id", options->id, "Module id")->capture_default_str();
    command->add_option("--subtype", options->subtype, "Module subtype")->capture_default_str();
    command->callback([options, &exitStatus] { exitStatus = runInfo(*options); });
}

}  // namespace kvx::cli
