// SPDX-License-Identifier: MIT
// The subcommands of the kvx tool. Each adds itself to the application and runs when chosen;
// a command reports failure by returning a non-zero exit status through `exitStatus`.
#pragma once

#include <CLI/CLI.hpp>

namespace kvx::cli {

void addListCommand(CLI::App& app, int& exitStatus);
void addInfoCommand(CLI::App& app, int& exitStatus);
void addRenderCommand(CLI::App& app, int& exitStatus);
void addValidateCommand(CLI::App& app, int& exitStatus);
void addLv2Command(CLI::App& app, int& exitStatus);
void addStudioCommand(CLI::App& app, int& exitStatus);

}  // namespace kvx::cli
