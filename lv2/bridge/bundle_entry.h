// SPDX-License-Identifier: MIT
// What both bridges, the module's and the patch's, read first at instantiate: the sample rate
// checked, the bundle's index and this plug-in's entry in it; and, once their layout is built,
// that it gives the ports the bundle's Turtle declares.
#pragma once

#include <string>
#include <vector>

#include "lv2/layout/bundle_index.h"

namespace kvx::lv2 {

struct BundleEntry {
    std::string folder;  // ends with '/'
    BundleIndex index;
    IndexedPlugin plugin;
};

// Throws BridgeError for a rate out of range or a plug-in the index does not list.
BundleEntry openBundleEntry(const std::string& bundleFolder, const std::string& uri, double rate);

// Throws BridgeError, naming `source`, when `ports` are not the ports the entry declares.
void requireDeclaredPorts(const std::string& source, const std::vector<std::string>& ports,
                          const IndexedPlugin& plugin);

}  // namespace kvx::lv2
