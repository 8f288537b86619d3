// SPDX-License-Identifier: MIT
// kvx studio: a local web page that draws and plays a module or a patch as kvx render renders it.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "host/host_error.h"
#include "patch/patch_reader.h"
#include "render/error.h"
#include "render/patch_loading.h"
#include "studio/server.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

void addStudioCommand(CLI::App& app, int& exitStatus) {
    struct Settings {
        render::RenderOptions options;
        studio::ServerOptions server;
        std::string host;
    };
    auto settings = std::make_shared<Settings>();
    settings->options.plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "studio", "Serve a page on 127.0.0.1 that draws and plays a module or a patch (NAME.kvxpatch.json) "
                  "as kvx render renders it");
    addModuleArguments(*command, {.plugin = &settings->options.plugin,
                                  .id = &settings->options.id,
                                  .subtype = &settings->options.subtype,
                                  .describe = &settings->options.describe});
    command->add_option("--port", settings->server.port, "Port to listen on (0: a free one)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    command->add_option("--host", settings->host,
                        "Address to listen on instead of 127.0.0.1 (others on the network may then reach it)");
    command->add_flag("--open", settings->server.open, "Open the page in the browser (xdg-open)");
    command->callback([settings, &exitStatus] {
        try {
            studio::Subject subject;
            subject.base = settings->options;
            subject.named = settings->options.plugin;
            if (patch::isPatchFileName(subject.base.plugin)) {
                subject.patch = render::loadToolPatch(subject.base.plugin, modulePath());
            } else {
                resolveModuleArguments(subject.base.plugin, subject.base.id, subject.base.subtype,
                                       !subject.base.id.empty());
            }
            if (!settings->host.empty()) {
                settings->server.address = settings->host;
                std::cerr << "kvx studio: warning: listening on " << settings->host
                          << ", not only on this machine's loopback; anyone who can reach it and has the "
                             "token can use the studio\n";
            }
            exitStatus = studio::serve(subject, settings->server, std::cout, std::cerr);
        } catch (const studio::RequestError& error) {
            std::cerr << "kvx studio: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const patch::PatchError& error) {
            std::cerr << "kvx studio: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const render::RenderError& error) {
            std::cerr << "kvx studio: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const host::HostError& error) {
            std::cerr << "kvx studio: " << error.what() << "\n";
            exitStatus = 1;
        }
    });
}

}  // namespace kvx::cli
