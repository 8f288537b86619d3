// SPDX-License-Identifier: MIT
// The bundle's index, kvx-lv2.json: which module library and description the bundle holds, and
// per plug-in URI the module (by symbol), the flavour and the port symbols the Turtle declares.
// The generator writes it beside the Turtle; the bridge binary reads it to find what to load and
// refuses to run when the description no longer gives the ports the Turtle promised.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "lv2/layout/plugin_layout.h"

namespace kvx::lv2 {

inline constexpr const char* BUNDLE_INDEX_FILE = "kvx-lv2.json";

struct IndexedPlugin {
    std::string uri;
    std::string module;  // the module's symbol in the description (empty in a patch's bundle)
    Flavour flavour = Flavour::Midi;
    std::vector<std::string> ports;  // symbols in index order
};

struct BundleIndex {
    std::string library;      // file name of the module library inside the bundle
    std::string description;  // file name of its description inside the bundle
    // A patch's bundle: the file name of the patch inside the bundle (which names its libraries,
    // each with its description beside it), and no library or description; empty for a module's.
    std::string patch;
    std::vector<IndexedPlugin> plugins;

    const IndexedPlugin* find(const std::string& uri) const;
};

class IndexError : public std::runtime_error {
public:
    explicit IndexError(const std::string& message) : std::runtime_error(message) {}
};

std::string indexText(const BundleIndex& index);
// Reads `bundle`/kvx-lv2.json. Throws IndexError naming the file and what is wrong.
BundleIndex readBundleIndex(const std::string& bundle);

}  // namespace kvx::lv2
