// SPDX-License-Identifier: MIT
// kvx-validate: the process `kvx validate` hands its resolved arguments to. It runs the check
// groups in child processes and prints the report; it is apart from kvx because the checks that
// count allocations and locks need the heap and lock interposer in the program, and kvx's other
// commands should run on the system allocator.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "validate/checks/groups.h"
#include "validate/isolation.h"
#include "validate/report.h"

namespace {

struct Arguments {
    std::string library;
    std::string id;
    int32_t subtype = 0;
    int seeds = 12;
    unsigned long long seed = 1;
    unsigned timeout = 120;
    std::string describe;  // empty: no description (kvx has chosen already)
    bool json = false;
};

int validate(const Arguments& arguments) {
    kvx::validate::Context context;
    context.path = arguments.library;
    context.id = kvx::host::toUtf16(arguments.id);
    context.subtype = arguments.subtype;
    context.seeds = arguments.seeds < 1 ? 1 : arguments.seeds;
    context.seed = arguments.seed;
    context.description = arguments.describe;

    // What every check would fail on alike is said once, before any check runs: a description
    // that cannot be read, a module the library cannot create (tried in a child process, as every
    // check is, so that this process never loads the library).
    if (!arguments.describe.empty()) kvx::describe::loadDescription(arguments.describe);
    const kvx::validate::Group creation{
        "creation", {{"module", "the library creates the module", [](const kvx::validate::Context& c) {
                          std::optional<kvx::host::PluginLibrary> library;
                          try {
                              library.emplace(c.path);
                          } catch (const kvx::host::HostError&) {
                              return kvx::validate::pass();  // the loading checks report it, one by one
                          }
                          try {
                              kvx::host::PluginInstance instance(*library, c.id, c.subtype);
                          } catch (const kvx::host::HostError& error) {
                              return kvx::validate::fail(error.what());
                          }
                          return kvx::validate::pass();
                      }}}};
    const auto created = kvx::validate::runGroupIsolated(creation, context, arguments.timeout);
    if (created.front().outcome.status == kvx::validate::Status::Fail)
        throw std::runtime_error(created.front().outcome.detail);

    kvx::validate::Report report;
    report.library = arguments.library;
    report.module = arguments.id;
    report.description = arguments.describe;
    report.subtype = arguments.subtype;
    const auto began = std::chrono::steady_clock::now();
    for (const kvx::validate::Group& group : kvx::validate::allGroups()) {
        std::vector<kvx::validate::CheckResult> results =
            kvx::validate::runGroupIsolated(group, context, arguments.timeout);
        report.results.insert(report.results.end(), results.begin(), results.end());
    }
    kvx::validate::judgeOwedSamplesEverywhere(report);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (arguments.json)
        kvx::validate::printJson(std::cout, report);
    else
        kvx::validate::printText(std::cout, report);
    return report.passed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "kvx-validate: runs the checks of `kvx validate` in a process of its own. Its command line is "
        "internal and may change with any release: run `kvx validate` instead.",
        "kvx-validate"};
    Arguments arguments;
    // LIBRARY and ID come after "--" as kvx passes them, so that neither an empty id nor one that
    // starts with '-' is read as an option.
    app.add_option("library", arguments.library, "Module library, as kvx validate resolved it")->required();
    app.add_option("id", arguments.id, "Module id (UTF-8)")->required();
    app.add_option("--subtype", arguments.subtype, "Module subtype")->capture_default_str();
    app.add_option("--seeds", arguments.seeds, "Random sessions per randomised check (at least 1)")
        ->capture_default_str();
    app.add_option("--seed", arguments.seed, "First random seed")->capture_default_str();
    app.add_option("--timeout", arguments.timeout, "Seconds a check may run")->capture_default_str();
    app.add_option("--describe", arguments.describe,
                   "Description to check against the library (default: none)");
    app.add_flag("--json", arguments.json, "Machine-readable report");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        std::cerr << "kvx-validate: " << error.what() << " (this helper is run by kvx validate)\n";
        return 2;
    }
    try {
        return validate(arguments);
    } catch (const std::exception& error) {
        std::cerr << "kvx-validate: " << error.what() << "\n";
        return 1;
    }
}
