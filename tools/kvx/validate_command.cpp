// SPDX-License-Identifier: MIT
// kvx validate: loads any module library of the family and checks, group by group in child
// processes, that it honours the binary contract and survives a hostile host.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "host/plugin_library.h"
#include "describe/description_reader.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/tool_paths.h"
#include "validate/checks/groups.h"
#include "validate/isolation.h"
#include "validate/report.h"

namespace kvx::cli {

namespace {

struct ValidateOptions {
    std::string path;
    std::string id = "KV ADSR4";
    int32_t subtype = 0;
    int seeds = 12;
    unsigned long long seed = 1;
    bool json = false;
    unsigned timeout = 120;
    std::string describe;  // the description to check; empty: NAME.kvx.json beside the library, if any
};

int runValidate(const ValidateOptions& options) {
    validate::Context context;
    context.path = options.path;
    context.id = host::toUtf16(options.id);
    context.subtype = options.subtype;
    context.seeds = options.seeds < 1 ? 1 : options.seeds;
    context.seed = options.seed;
    context.description = options.describe;

    validate::Report report;
    report.library = options.path;
    report.module = options.id;
    report.description = options.describe;
    report.subtype = options.subtype;
    const auto began = std::chrono::steady_clock::now();
    for (const validate::Group& group : validate::allGroups()) {
        std::vector<validate::CheckResult> results =
            validate::runGroupIsolated(group, context, options.timeout);
        report.results.insert(report.results.end(), results.begin(), results.end());
    }
    validate::judgeOwedSamplesEverywhere(report);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (options.json)
        validate::printJson(std::cout, report);
    else
        validate::printText(std::cout, report);
    return report.passed() ? 0 : 1;
}

}  // namespace

void addValidateCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<ValidateOptions>();
    options->path = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "validate",
        "Check that a module library honours the binary contract and agrees with its description");
    CLI::Option* idOption =
        addModuleArguments(*command, {.plugin = &options->path,
                                      .id = &options->id,
                                      .subtype = &options->subtype,
                                      .describe = &options->describe,
                                      .describeHelp = "Description to check against the library (default: "
                                                      "PLUGIN.json when it exists)"});
    command->add_option("--seeds", options->seeds, "Random sessions per randomised check")
        ->capture_default_str();
    command->add_option("--seed", options->seed, "First random seed (session k uses seed + k)")
        ->capture_default_str();
    command->add_option("--timeout", options->timeout, "Seconds a check may run before it counts as hung")
        ->capture_default_str();
    command->add_flag("--json", options->json, "Machine-readable report");
    command->callback([options, idOption, &exitStatus] {
        const bool idGiven = idOption->count() > 0;
        ValidateOptions chosen = *options;
        const bool named = resolveModuleArguments(chosen.path, chosen.id, chosen.subtype, idGiven);
        chosen.describe = describe::chooseDescriptionFile(chosen.path, chosen.describe);
        if (!idGiven && !named && !chosen.describe.empty()) {
            // The description's module, when it describes one (a malformed description is the
            // description check's failure; the envelope's id stands meanwhile).
            try {
                const describe::Description description = describe::loadDescription(chosen.describe);
                if (description.modules.size() == 1) {
                    chosen.id = description.modules.front().id;
                    chosen.subtype = description.modules.front().subtype;
                }
            } catch (const describe::DescriptionError&) {
            }
        }
        exitStatus = runValidate(chosen);
    });
}

}  // namespace kvx::cli
