// SPDX-License-Identifier: MIT
#include "lv2/bridge/bundle_entry.h"

#include <cmath>
#include <cstdint>

#include <lv2/midi/midi.h>

#include "lv2/bridge/bridge.h"
#include "lv2/layout/patch_layout.h"
#include "patch/patch_reader.h"

namespace kvx::lv2 {
namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

}  // namespace

BundleEntry openBundleEntry(const std::string& bundleFolder, const std::string& uri, double rate) {
    if (!std::isfinite(rate) || rate < MIN_SAMPLE_RATE || rate > MAX_SAMPLE_RATE)
        throw BridgeError("cannot run at a sample rate of " + std::to_string(rate) + " Hz (1 Hz to " +
                          std::to_string(static_cast<int64_t>(MAX_SAMPLE_RATE)) + " Hz)");
    BundleEntry entry;
    entry.folder = bundleFolder.ends_with('/') ? bundleFolder : bundleFolder + "/";
    entry.index = readBundleIndex(entry.folder);
    const IndexedPlugin* plugin = entry.index.find(uri);
    if (plugin == nullptr)
        throw BridgeError(entry.folder + BUNDLE_INDEX_FILE + " does not list this plug-in");
    entry.plugin = *plugin;
    return entry;
}

void requireDeclaredPorts(const std::string& source, const std::vector<std::string>& ports,
                          const IndexedPlugin& plugin) {
    if (ports != plugin.ports)
        throw BridgeError(source + " gives the ports [" + joined(ports) +
                          "], the bundle's Turtle declares [" + joined(plugin.ports) +
                          "]: write the bundle again with kvx lv2");
}

PatchEntry openPatchEntry(const std::string& bundleFolder, const std::string& uri, double rate,
                          const HostFeatures& features) {
    const BundleEntry opened = openBundleEntry(bundleFolder, uri, rate);
    PatchEntry entry;
    patch::PathModuleSource modules({});
    entry.file = patch::loadPatch(opened.folder + opened.index.patch, modules);
    entry.layout = patchLayoutFor(entry.file, opened.plugin.flavour);
    requireDeclaredPorts(entry.file.graph.source, entry.layout.symbols(), opened.plugin);
    if (features.map == nullptr) throw BridgeError("the host offers no urid:map, needed to read MIDI");
    entry.midiEvent = features.map->map(features.map->handle, LV2_MIDI__MidiEvent);
    return entry;
}

}  // namespace kvx::lv2
