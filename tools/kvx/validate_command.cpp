// SPDX-License-Identifier: MIT
// kvx validate: resolves which library, module and description to check, then becomes the helper
// kvx-validate, which checks group by group in child processes that the library honours the
// binary contract and survives a hostile host. The checks that count allocations and locks need
// the heap and lock interposer in the program: it lives in the helper, so that kvx does not carry it.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "describe/description_reader.h"
#include "patch/patch_reader.h"
#include "tools/kvx/commands.h"
#include "tools/kvx/module_arguments.h"
#include "tools/kvx/patch_commands.h"
#include "tools/kvx/tool_paths.h"

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

// Replaces this process by the helper, so that its report, its messages and its exit status are
// kvx validate's. Returns only when that fails: 127 when the helper is missing, 126 when it does
// not start (as env and the shells answer for a command they cannot run).
int runHelper(const ValidateOptions& options) {
    const HelperProgram helper = validateHelper();
    if (helper.path.empty()) {
        std::cerr << "kvx: the validator's helper is missing: neither " << helper.besideTool << " nor "
                  << helper.installed << " exists\n";
        return 127;
    }
    // Options as --name=value; the library and the id verbatim after "--", so that an empty id or
    // one that starts with '-' stays a value. An empty description is none: kvx has chosen it.
    std::vector<std::string> arguments = {helper.path, "--subtype=" + std::to_string(options.subtype),
                                          "--seeds=" + std::to_string(options.seeds),
                                          "--seed=" + std::to_string(options.seed),
                                          "--timeout=" + std::to_string(options.timeout)};
    if (!options.describe.empty()) arguments.push_back("--describe=" + options.describe);
    if (options.json) arguments.push_back("--json");
    arguments.insert(arguments.end(), {"--", options.path, options.id});
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    execv(helper.path.c_str(), argv.data());
    const int error = errno;
    std::cerr << "kvx: cannot run the validator's helper " << helper.path << ": " << std::strerror(error)
              << "\n";
    return error == ENOENT ? 127 : 126;
}

}  // namespace

void addValidateCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<ValidateOptions>();
    options->path = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "validate",
        "Check that a module library honours the binary contract and agrees with its description, or that a "
        "patch reads against its modules' descriptions and their libraries agree with them");
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
        if (patch::isPatchFileName(options->path)) {
            exitStatus = runPatchValidate(options->path);
            return;
        }
        const bool idGiven = idOption->count() > 0;
        ValidateOptions chosen = *options;
        const bool named = resolveModuleArguments(chosen.path, chosen.id, chosen.subtype, idGiven);
        chosen.describe = describe::chooseDescriptionFile(chosen.path, chosen.describe);
        if (!chosen.describe.empty()) {
            // A malformed description stops here with its one line: checking the module against
            // it, or some other module in its place, would only bury the cause.
            describe::Description description;
            try {
                description = describe::loadDescription(chosen.describe);
            } catch (const describe::DescriptionError& error) {
                std::cerr << "kvx: " << error.what() << "\n";
                exitStatus = 1;
                return;
            }
            if (!idGiven && !named && description.modules.size() == 1) {
                chosen.id = description.modules.front().id;
                chosen.subtype = description.modules.front().subtype;
            }
        }
        exitStatus = runHelper(chosen);
    });
}

}  // namespace kvx::cli
