// SPDX-License-Identifier: MIT
// The arguments that name the module a command works on (PLUGIN, --id, --subtype, --describe),
// taken alike by kvx info, render, validate and lv2.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace kvx::cli {

// Where a command keeps them; a command without a field (kvx lv2 takes every module of a library)
// leaves it null and gets no such option.
struct ModuleArguments {
    std::string* plugin = nullptr;
    std::string* id = nullptr;
    int32_t* subtype = nullptr;
    std::string* describe = nullptr;
    const char* idHelp = "Module id (default: the description's module, else \"KV ADSR4\")";
    const char* describeHelp = "Description to use instead of PLUGIN.json";
};

// Adds the options `into` has room for; returns --id (null without one).
CLI::Option* addModuleArguments(CLI::App& command, const ModuleArguments& into);

// After parsing: `plugin` becomes a library path, and a module named by symbol or id from kvx
// list also sets `id` and `subtype`, unless `idGiven`. Returns whether `plugin` named a module.
bool resolveModuleArguments(std::string& plugin, std::string& id, int32_t& subtype, bool idGiven);

}  // namespace kvx::cli
