// SPDX-License-Identifier: MIT
// kvx: list, inspect, render and validate module libraries without their usual host.
#include <iostream>

#include "kvx/version.h"
#include "tools/kvx/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"kvx: list, inspect, render and validate .kvx module libraries, and make LV2 bundles of them", "kvx"};
    app.set_version_flag("--version", "kvx " KVX_VERSION_STRING);
    app.require_subcommand(1);
    int exitStatus = 0;
    kvx::cli::addListCommand(app, exitStatus);
    kvx::cli::addInfoCommand(app, exitStatus);
    kvx::cli::addRenderCommand(app, exitStatus);
    kvx::cli::addValidateCommand(app, exitStatus);
    kvx::cli::addLv2Command(app, exitStatus);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        // One clear line for a wrong command line.
        std::cerr << "kvx: " << error.what() << " (see kvx --help)\n";
        return error.get_exit_code() != 0 ? error.get_exit_code() : 2;
    } catch (const std::exception& error) {
        std::cerr << "kvx: " << error.what() << "\n";
        return 1;
    }
    return exitStatus;
}
