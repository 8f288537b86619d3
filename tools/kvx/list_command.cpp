// SPDX-License-Identifier: MIT
// kvx list: the modules found along the module path, from their descriptions; entries that
// cannot be listed are named on standard error and passed over.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/kvx/commands.h"
#include "tools/kvx/tool_paths.h"

namespace kvx::cli {

namespace {

struct ListOptions {
    bool json = false;
    bool folders = false;
};

void printTable(const describe::ModuleListing& listing) {
    size_t idWidth = 2, symbolWidth = 6, nameWidth = 4;
    for (const describe::FoundModule& found : listing.modules) {
        idWidth = std::max(idWidth, found.module.id.size() + 2);
        symbolWidth = std::max(symbolWidth, found.module.symbol.size());
        nameWidth = std::max(nameWidth, found.module.name.size());
    }
    auto pad = [](const std::string& text, size_t width) {
        return text + std::string(width - text.size() + 2, ' ');
    };
    std::cout << pad("id", idWidth) << "subtype  " << pad("symbol", symbolWidth) << pad("name", nameWidth)
              << "library\n";
    for (const describe::FoundModule& found : listing.modules) {
        const std::string subtype = std::to_string(found.module.subtype);
        std::cout << pad("\"" + found.module.id + "\"", idWidth) << subtype
                  << std::string(subtype.size() < 9 ? 9 - subtype.size() : 1, ' ')
                  << pad(found.module.symbol, symbolWidth) << pad(found.module.name, nameWidth)
                  << found.library << "\n";
    }
}

void printJson(const describe::ModuleListing& listing) {
    nlohmann::json modules = nlohmann::json::array(), skipped = nlohmann::json::array();
    for (const describe::FoundModule& found : listing.modules)
        modules.push_back({{"id", found.module.id},
                           {"subtype", found.module.subtype},
                           {"symbol", found.module.symbol},
                           {"name", found.module.name},
                           {"pins", found.module.pins.size()},
                           {"library", found.library},
                           {"description", found.description}});
    for (const describe::SkippedEntry& entry : listing.skipped)
        skipped.push_back({{"path", entry.path}, {"reason", entry.reason}});
    std::cout << nlohmann::json{{"modules", modules}, {"skipped", skipped}}.dump(2) << "\n";
}

int runList(const ListOptions& options) {
    const std::vector<describe::ModuleFolder> folders = modulePath();
    if (options.folders) {
        for (const describe::ModuleFolder& folder : folders) std::cout << folder.path << "\n";
        return 0;
    }
    const describe::ModuleListing listing = describe::listModules(folders);
    if (options.json) {
        printJson(listing);
        return 0;
    }
    for (const describe::SkippedEntry& entry : listing.skipped)
        std::cerr << "kvx list: skipped " << entry.path << ": " << entry.reason << "\n";
    if (listing.modules.empty()) {
        std::cerr << "kvx list: no described modules in the module path (kvx list --path shows it)\n";
        return 0;
    }
    printTable(listing);
    return 0;
}

}  // namespace

void addListCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* command = app.add_subcommand(
        "list",
        "List the described modules in the module path (KVX_PATH, ~/.local/lib/kvx, the installed folder)");
    command->add_flag("--json", options->json, "Machine-readable listing, skipped entries included");
    command->add_flag("--path", options->folders, "Print the folders searched, in order, and nothing else");
    command->callback([options, &exitStatus] { exitStatus = runList(*options); });
}

}  // namespace kvx::cli
