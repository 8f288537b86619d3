// SPDX-License-Identifier: MIT
// Writing a bundle.
#include "lv2/bundle/bundle_writer.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "host/host_error.h"
#include "host/patch.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "lv2/bundle/turtle.h"
#include "lv2/layout/bundle_index.h"
#include "lv2/layout/patch_layout.h"
#include "patch/patch_reader.h"

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

std::string readText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw BundleError("cannot read " + path.string());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A library copied into a patch's bundle: its file name there (NAME.kvx, NAME.kvx.json beside).
struct BundledLibrary {
    std::string name;
    std::string descriptionText;
};

// The bundle's copy of each library the patch uses, by the library's path: its own file name,
// or with -2, -3 ... when two libraries of one name come from different folders.
std::map<std::string, BundledLibrary> bundledLibraries(const PatchBundleSource& source) {
    std::map<std::string, BundledLibrary> libraries;
    std::set<std::string> taken;
    for (size_t m = 0; m < source.patch.graph.modules.size(); ++m) {
        const std::string& path = source.patch.graph.modules[m].libraryPath;
        if (libraries.contains(path)) continue;
        const std::string stem = fs::path(path).filename().replace_extension().string();
        std::string name = stem + ".kvx";
        for (int n = 2; taken.contains(name); ++n) name = stem + "-" + std::to_string(n) + ".kvx";
        taken.insert(name);
        const std::string& described = source.patch.modules[m].descriptionSource;
        std::error_code error;
        BundledLibrary library{
            name, fs::is_regular_file(described, error) ? readText(described) : source.undescribedText};
        if (library.descriptionText.empty()) throw BundleError(path + " has no description to bundle");
        libraries.emplace(path, std::move(library));
    }
    return libraries;
}

// The patch's text with every module named by its library's copy in the bundle and its id.
std::string bundledPatchText(const PatchBundleSource& source,
                             const std::map<std::string, BundledLibrary>& libraries) {
    nlohmann::ordered_json root;
    try {
        root = nlohmann::ordered_json::parse(source.patchText);
    } catch (const nlohmann::json::exception& error) {
        throw BundleError(source.patchPath + ": " + error.what());
    }
    if (!root.contains("name")) root["name"] = source.patch.name;
    nlohmann::ordered_json& modules = root["modules"];
    for (size_t m = 0; m < source.patch.graph.modules.size(); ++m) {
        const host::PatchModule& module = source.patch.graph.modules[m];
        const describe::ModuleDescription& described = source.patch.modules[m].description;
        nlohmann::ordered_json rewritten;
        rewritten["name"] = modules[m]["name"];
        rewritten["library"] = libraries.at(module.libraryPath).name;
        rewritten["id"] = described.id;
        if (described.subtype != 0) rewritten["subtype"] = described.subtype;
        for (const auto& [key, value] : modules[m].items())
            if (key != "name" && key != "module" && key != "library" && key != "id" && key != "subtype")
                rewritten[key] = value;
        modules[m] = std::move(rewritten);
    }
    return root.dump(2) + "\n";
}

// The written bundle read back as the bridge reads it, and its patch built.
void checkPatchBundle(const fs::path& patchFile) {
    try {
        patch::PathModuleSource modules({});
        const patch::PatchFile bundled = patch::loadPatch(patchFile.string(), modules);
        const host::Patch built(bundled.graph, 48000.0f, 64);
    } catch (const std::exception& error) {
        throw BundleError(std::string("the bundle's patch does not run: ") + error.what());
    }
}

}  // namespace

std::vector<WrittenPlugin> writePatchBundle(const PatchBundleSource& source, const std::string& folderName) {
    const patch::PatchFile& patch = source.patch;
    const std::string fileName = fs::path(source.patchPath).filename().string();
    const std::string stem = fileName.substr(0, fileName.size() - std::string_view(".kvxpatch.json").size());
    std::vector<PatchPluginEntry> entries;
    for (Flavour flavour : patchFlavoursFor(patch)) {
        try {
            entries.push_back(PatchPluginEntry{patchPluginUri(projectUriBase(), stem, flavour),
                                               patchLayoutFor(patch, flavour)});
        } catch (const LayoutError& error) {
            throw BundleError(source.patchPath + ": " + error.what());
        }
    }
    const std::map<std::string, BundledLibrary> libraries = bundledLibraries(source);
    const std::string patchText = bundledPatchText(source, libraries);

    const fs::path folder(folderName);
    prepareFolder(folder);
    BundleIndex index;
    index.patch = stem + ".kvxpatch.json";
    const std::string dataFile = stem + ".ttl";
    std::vector<PluginEntry> manifestEntries;
    for (const PatchPluginEntry& entry : entries) {
        index.plugins.push_back(IndexedPlugin{entry.uri, "", entry.layout.flavour, entry.layout.symbols()});
        manifestEntries.push_back(PluginEntry{entry.uri, nullptr, entry.layout});
    }
    for (const auto& [path, library] : libraries) {
        copyInto(path, folder / library.name);
        writeText(folder / (library.name + ".json"), library.descriptionText);
    }
    copyInto(source.bridgeBinary, folder / BRIDGE_BINARY_NAME);
    writeText(folder / index.patch, patchText);
    writeText(folder / dataFile, patchPluginTurtle(entries, patch, projectPublisher()));
    writeText(folder / BUNDLE_INDEX_FILE, indexText(index));
    std::string manifest = manifestTurtle(manifestEntries, BRIDGE_BINARY_NAME, dataFile);
    if (!patch.presets.empty()) {
        const std::string presetsFile = "presets.ttl";
        writeText(folder / presetsFile, presetsTurtle(entries, patch));
        manifest += presetManifestTurtle(entries, patch, presetsFile);
    } else {
        std::error_code ignored;  // a bundle written before, with presets since removed
        fs::remove(folder / "presets.ttl", ignored);
    }
    writeText(folder / "manifest.ttl", manifest);
    checkPatchBundle(folder / index.patch);

    std::vector<WrittenPlugin> written;
    for (const PatchPluginEntry& entry : entries)
        written.push_back(
            WrittenPlugin{entry.uri, patch.name + " (" + flavourName(entry.layout.flavour) + ")", {}});
    return written;
}

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
