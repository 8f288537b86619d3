// SPDX-License-Identifier: MIT
// The Turtle of a bundle: manifest.ttl (every plug-in's URI, binary and data file) and the data
// file with each plug-in's name, licence, maintainer, version, features and ports, written from
// the modules' descriptions and the port layouts the bridge binary uses.
#pragma once

#include <string>
#include <vector>

#include "lv2/layout/plugin_layout.h"
#include "patch/patch_file.h"

namespace kvx::lv2 {

// Who publishes the plug-ins and which version they are (KvxProject.cmake, project()).
struct Publisher {
    std::string maintainerName;
    std::string maintainerEmail;
    std::string homepage;
    int minorVersion = 0;
    int microVersion = 0;
};
Publisher projectPublisher();

struct PluginEntry {
    std::string uri;
    const describe::ModuleDescription* module = nullptr;
    PluginLayout layout;
};

std::string manifestTurtle(const std::vector<PluginEntry>& plugins, const std::string& binary,
                           const std::string& dataFile);
std::string pluginTurtle(const std::vector<PluginEntry>& plugins, const Publisher& publisher);

// A patch's plug-ins: their project is the patch; their control ports take the controls' ranges.
struct PatchPluginEntry {
    std::string uri;
    PluginLayout layout;
};
std::string patchPluginTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch,
                              const Publisher& publisher);

// The patch's presets for each of `plugins`: the manifest's part (each preset a pset:Preset with
// lv2:appliesTo its plug-in and rdfs:seeAlso `presetsFile`) and that file, which gives the label
// and the control ports' values in the ports' units. Empty texts for a patch without presets.
std::string presetUri(const std::string& pluginUri, size_t preset);
std::string presetManifestTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch,
                                 const std::string& presetsFile);
std::string presetsTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch);

// One preset of one plug-in: its label and control port values in the ports' units.
struct PresetPortValue {
    std::string symbol;
    double value = 0.0;
};
struct PresetTurtle {
    std::string uri;
    std::string pluginUri;
    std::string label;
    std::vector<PresetPortValue> ports;
};
// Presets as a preset bundle's manifest.ttl that holds them whole (a host's user presets folder,
// e.g. ~/.lv2/NAME.preset.lv2/, takes it as it is).
std::string presetBundleTurtle(const std::vector<PresetTurtle>& presets);

// A number as a Turtle literal that reads back as the same double ("0.1", "10.0", "1e-05").
std::string turtleNumber(double value);

}  // namespace kvx::lv2
