// SPDX-License-Identifier: MIT
// What both bridges, the module's and the patch's, read first at instantiate: the sample rate
// checked, the bundle's index and this plug-in's entry in it; and, once their layout is built,
// that it gives the ports the bundle's Turtle declares. The patch bridges read the bundle's patch
// and its layout alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lv2/bridge/host_features.h"
#include "lv2/layout/bundle_index.h"
#include "lv2/layout/plugin_layout.h"
#include "patch/patch_file.h"

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

// A patch's plug-in: the entry opened, the bundle's patch read (its libraries named by file
// beside it), its layout for the entry's flavour checked against the declared ports, and the
// host's URID for MIDI events. Throws BridgeError (and the patch reader's errors).
struct PatchEntry {
    patch::PatchFile file;
    PluginLayout layout;
    uint32_t midiEvent = 0;
};
PatchEntry openPatchEntry(const std::string& bundleFolder, const std::string& uri, double rate,
                          const HostFeatures& features);

}  // namespace kvx::lv2
