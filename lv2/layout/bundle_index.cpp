// SPDX-License-Identifier: MIT
// Writing and reading kvx-lv2.json.
#include "lv2/layout/bundle_index.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace kvx::lv2 {

const IndexedPlugin* BundleIndex::find(const std::string& uri) const {
    for (const IndexedPlugin& plugin : plugins)
        if (plugin.uri == uri) return &plugin;
    return nullptr;
}

std::string indexText(const BundleIndex& index) {
    nlohmann::ordered_json json;
    json["format"] = 1;
    if (index.patch.empty()) {
        json["library"] = index.library;
        json["description"] = index.description;
    } else {
        json["patch"] = index.patch;
    }
    json["plugins"] = nlohmann::ordered_json::array();
    for (const IndexedPlugin& plugin : index.plugins)
        json["plugins"].push_back({{"uri", plugin.uri},
                                   {"module", plugin.module},
                                   {"flavour", flavourName(plugin.flavour)},
                                   {"ports", plugin.ports}});
    return json.dump(2) + "\n";
}

BundleIndex readBundleIndex(const std::string& bundle) {
    const std::string path = bundle + (bundle.ends_with('/') ? "" : "/") + BUNDLE_INDEX_FILE;
    std::ifstream file(path);
    if (!file) throw IndexError("cannot read " + path);
    std::stringstream text;
    text << file.rdbuf();
    try {
        const nlohmann::json json = nlohmann::json::parse(text.str());
        if (json.at("format").get<int>() != 1) throw IndexError(path + ": unknown format");
        BundleIndex index;
        if (json.contains("patch")) {
            index.patch = json.at("patch").get<std::string>();
        } else {
            index.library = json.at("library").get<std::string>();
            index.description = json.at("description").get<std::string>();
        }
        for (const nlohmann::json& entry : json.at("plugins")) {
            IndexedPlugin plugin;
            plugin.uri = entry.at("uri").get<std::string>();
            plugin.module = entry.at("module").get<std::string>();
            const std::optional<Flavour> flavour = flavourNamed(entry.at("flavour").get<std::string>());
            if (!flavour) throw IndexError(path + ": unknown flavour for " + plugin.uri);
            plugin.flavour = *flavour;
            plugin.ports = entry.at("ports").get<std::vector<std::string>>();
            index.plugins.push_back(std::move(plugin));
        }
        return index;
    } catch (const nlohmann::json::exception& error) {
        throw IndexError(path + ": " + error.what());
    }
}

}  // namespace kvx::lv2
