// SPDX-License-Identifier: MIT
// Flavours and port layouts of patches.
#include "lv2/layout/patch_layout.h"

#include "lv2/layout/layout_builder.h"

namespace kvx::lv2 {

std::vector<Flavour> patchFlavoursFor(const patch::PatchFile& patch) {
    const Flavour played = patch.voices > 1 ? Flavour::Instrument : Flavour::Midi;
    if (patch.inputs.empty()) return {played};
    return {played, Flavour::Effect};
}

PluginLayout patchLayoutFor(const patch::PatchFile& patch, Flavour flavour) {
    if (flavour != Flavour::Midi && flavour != Flavour::Effect && flavour != Flavour::Instrument)
        throw LayoutError(std::string("a patch plays as midi, effect or instrument, not as ") +
                          flavourName(flavour));
    if (flavour == Flavour::Effect && patch.inputs.empty())
        throw LayoutError("the patch has no audio input for the effect plug-in");
    LayoutBuilder builder(flavour);
    builder.add(PortRole::MidiIn, PortType::Atom, true, "midi_in", "MIDI in");
    if (flavour == Flavour::Effect)
        for (size_t i = 0; i < patch.inputs.size(); ++i) {
            const std::string name = patch.pinName(patch.inputs[i]);
            builder.add(PortRole::SignalIn, PortType::Audio, true, portSymbol(name), name,
                        static_cast<int32_t>(i));
        }
    for (size_t i = 0; i < patch.graph.outputs.size(); ++i) {
        const std::string& name = patch.graph.outputs[i].name;
        builder.add(PortRole::SignalOut, PortType::Audio, false, portSymbol(name), name,
                    static_cast<int32_t>(i));
    }
    for (size_t i = 0; i < patch.controls.size(); ++i) {
        const std::string& name = patch.controls[i].name;
        builder.add(PortRole::Parameter, PortType::Control, true, portSymbol(name), name,
                    static_cast<int32_t>(i));
    }
    return builder.done();
}

std::string portSymbol(std::string_view name) {
    std::string symbol;
    for (char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        symbol += letter || (digit && !symbol.empty()) ? c : '_';
    }
    return symbol.empty() ? "_" : symbol;
}

std::string patchPluginUri(std::string_view uriBase, std::string_view name, Flavour flavour) {
    std::string safe;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        safe += plain ? c : '-';
    }
    return std::string(uriBase) + "patches/" + safe + "/" + flavourName(flavour);
}

}  // namespace kvx::lv2
