// SPDX-License-Identifier: MIT
// The LV2 plug-ins one patch becomes: a midi plug-in (notes as the patch maps them, its controls,
// its outputs; one voice, the latest note sounding) or, for a patch of more than one voice, an
// instrument plug-in with the same ports that plays the patch's voices; and, when the patch has
// audio inputs, an effect plug-in (one voice) that feeds them from audio ports too. A patch's
// ports name what the patch names: Port::pin is an index into the patch's inputs (SignalIn),
// outputs (SignalOut) or controls (Parameter).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lv2/layout/plugin_layout.h"
#include "patch/patch_file.h"

namespace kvx::lv2 {

// midi (instrument for a patch of voices), and effect when the patch has audio inputs.
std::vector<Flavour> patchFlavoursFor(const patch::PatchFile& patch);

// The ports of `patch` as `flavour` (midi, instrument or effect). Throws LayoutError when the flavour does
// not fit or two ports would share a symbol.
PluginLayout patchLayoutFor(const patch::PatchFile& patch, Flavour flavour);

// A name as an LV2 symbol: letters, digits and '_' ("env.attack" -> "env_attack").
std::string portSymbol(std::string_view name);

// "<uriBase>patches/<name>/<flavour>", `name` kept to URI-safe characters.
std::string patchPluginUri(std::string_view uriBase, std::string_view name, Flavour flavour);

}  // namespace kvx::lv2
