// SPDX-License-Identifier: MIT
// Writing a bundle.
#include "lv2/bundle/bundle_writer.h"

#include <filesystem>
#include <fstream>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "lv2/bundle/turtle.h"
#include "lv2/layout/bundle_index.h"

namespace kvx::lv2 {

namespace {

namespace fs = std::filesystem;

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) throw BundleError("cannot write " + path.string());
}

void copyInto(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    if (error)
        throw BundleError("cannot copy " + from.string() + " to " + to.string() + ": " + error.message());
}

void prepareFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::exists(folder, error)) {
        if (!fs::is_directory(folder, error))
            throw BundleError(folder.string() + " exists and is not a folder");
        const bool empty = fs::is_empty(folder, error);
        if (!empty && !fs::exists(folder / BUNDLE_INDEX_FILE, error))
            throw BundleError(folder.string() + " is neither empty nor a bundle written by kvx lv2");
        return;
    }
    fs::create_directories(folder, error);
    if (error) throw BundleError("cannot create " + folder.string() + ": " + error.message());
}

// Every described module must be creatable: a bundle that cannot play is refused here, not
// discovered by a host.
// Every described module can be created, and its pins are what the description says (the line
// kvx render and kvx validate refuse the description with, otherwise).
void checkModulesAgree(const std::string& library, const describe::Description& description) {
    std::string refused;
    try {
        const host::PluginLibrary loaded(library);
        for (const describe::ModuleDescription& module : description.modules) {
            { host::PluginInstance instance(loaded, host::toUtf16(module.id), module.subtype); }
            if (refused.empty())
                refused =
                    describe::refusal(describe::checkAgainstLibrary(loaded, module), description.source);
        }
    } catch (const host::HostError& error) {
        throw BundleError(std::string(error.what()) + " (described in " + description.source + ")");
    }
    if (!refused.empty()) throw BundleError(refused);
}

}  // namespace

std::vector<WrittenPlugin> writeBundle(const BundleSource& source, const std::string& folderName) {
    describe::Description description;
    try {
        description = describe::parseDescription(source.descriptionText, source.descriptionSource);
    } catch (const describe::DescriptionError& error) {
        throw BundleError(error.what());
    }
    checkModulesAgree(source.library, description);

    std::vector<PluginEntry> entries;
    for (const describe::ModuleDescription& module : description.modules)
        for (Flavour flavour : flavoursFor(module)) {
            try {
                entries.push_back(PluginEntry{pluginUri(projectUriBase(), module, flavour), &module,
                                              layoutFor(module, flavour)});
            } catch (const LayoutError& error) {
                throw BundleError("\"" + module.id + "\": " + error.what());
            }
        }
    if (entries.empty())
        throw BundleError(source.descriptionSource + " describes no module with an audio output to play");

    const fs::path folder(folderName);
    prepareFolder(folder);
    const std::string stem = fs::path(source.library).filename().replace_extension().string();
    BundleIndex index;
    index.library = stem + ".kvx";
    index.description = stem + ".kvx.json";
    const std::string dataFile = stem + ".ttl";
    for (const PluginEntry& entry : entries)
        index.plugins.push_back(
            IndexedPlugin{entry.uri, entry.module->symbol, entry.layout.flavour, entry.layout.symbols()});

    copyInto(source.library, folder / index.library);
    copyInto(source.bridgeBinary, folder / BRIDGE_BINARY_NAME);
    writeText(folder / index.description, source.descriptionText);
    writeText(folder / dataFile, pluginTurtle(entries, projectPublisher()));
    writeText(folder / BUNDLE_INDEX_FILE, indexText(index));
    writeText(folder / "manifest.ttl", manifestTurtle(entries, BRIDGE_BINARY_NAME, dataFile));

    std::vector<WrittenPlugin> written;
    for (const PluginEntry& entry : entries) {
        written.push_back(WrittenPlugin{
            entry.uri, entry.module->name + " (" + flavourName(entry.layout.flavour) + ")", {}});
        for (const describe::PinDescription* pin : pinsLeftOut(*entry.module, entry.layout))
            written.back().leftOut.push_back(pin->symbol);
    }
    return written;
}

}  // namespace kvx::lv2
