// SPDX-License-Identifier: MIT
// Where the patch reader finds the modules a patch names: by symbol (or id) along a module path,
// and the description of a library file the patch names itself. The tools give it their module
// path and the envelope's built-in description; tests and the fuzz target give it what they hold.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "describe/description.h"
#include "describe/module_listing.h"

namespace kvx::patch {

// Why a library cannot be described: one line, without the patch file's name.
class ModuleSourceError : public std::runtime_error {
public:
    explicit ModuleSourceError(const std::string& message) : std::runtime_error(message) {}
};

class ModuleSource {
public:
    virtual ~ModuleSource() = default;
    // The module named `name` (its symbol, '-' standing for '_', or its id), or null.
    virtual const describe::FoundModule* find(std::string_view name) = 0;
    // The symbols `find` knows, for messages.
    virtual std::vector<std::string> symbols() = 0;
    // The description of the library file `path`. Throws ModuleSourceError.
    virtual describe::Description describeLibrary(const std::string& path) = 0;
};

// Modules along a module path (listed on first use), and libraries described by the
// NAME.kvx.json beside them. `undescribed`, when given, describes a library that has no file
// beside it (the tools pass the envelope's built-in description, as `kvx render ADSR.kvx` does).
class PathModuleSource final : public ModuleSource {
public:
    explicit PathModuleSource(std::vector<describe::ModuleFolder> folders,
                              const describe::Description* undescribed = nullptr);
    const describe::FoundModule* find(std::string_view name) override;
    std::vector<std::string> symbols() override;
    describe::Description describeLibrary(const std::string& path) override;

    // What the listing passed over (malformed descriptions, libraries without one).
    const std::vector<describe::SkippedEntry>& skipped();

private:
    const describe::ModuleListing& listing();

    std::vector<describe::ModuleFolder> folders;
    const describe::Description* undescribed;
    std::unique_ptr<describe::ModuleListing> listed;
};

}  // namespace kvx::patch
