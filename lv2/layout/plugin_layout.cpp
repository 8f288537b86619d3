// SPDX-License-Identifier: MIT
// Flavours and port layouts of described modules.
#include "lv2/layout/plugin_layout.h"

#include "lv2/layout/layout_builder.h"

namespace kvx::lv2 {

namespace {

using describe::Datatype;
using describe::ModuleDescription;
using describe::PinDescription;
using describe::Role;

bool hasAudioOutput(const ModuleDescription& module) {
    for (const PinDescription& pin : module.pins)
        if (!pin.isInput() && pin.isAudio()) return true;
    return false;
}

// Inputs a person sets: parameters, and control-rate inputs that carry a signal.
bool isParameter(const PinDescription& pin) {
    return pin.isInput() && (pin.role == Role::Parameter || (pin.role == Role::Signal && !pin.isAudio()));
}

}  // namespace

const char* flavourName(Flavour flavour) {
    switch (flavour) {
        case Flavour::Midi:
            return "midi";
        case Flavour::Amp:
            return "amp";
        case Flavour::Gate:
            return "gate";
        case Flavour::Cv:
            return "cv";
        case Flavour::Effect:
            return "effect";
        case Flavour::Instrument:
            return "instrument";
        case Flavour::Audio:
            break;
    }
    return "audio";
}

std::optional<Flavour> flavourNamed(std::string_view name) {
    for (Flavour flavour : {Flavour::Midi, Flavour::Amp, Flavour::Gate, Flavour::Cv, Flavour::Audio,
                            Flavour::Effect, Flavour::Instrument})
        if (name == flavourName(flavour)) return flavour;
    return std::nullopt;
}

const Port* PluginLayout::find(PortRole role) const {
    for (const Port& port : ports)
        if (port.role == role) return &port;
    return nullptr;
}

std::vector<std::string> PluginLayout::symbols() const {
    std::vector<std::string> result;
    for (const Port& port : ports) result.push_back(port.symbol);
    return result;
}

std::vector<Flavour> flavoursFor(const ModuleDescription& module) {
    if (!hasAudioOutput(module)) return {};
    if (module.inputWithRole(Role::Gate) != nullptr)
        return {Flavour::Midi, Flavour::Amp, Flavour::Gate, Flavour::Cv};
    return {Flavour::Audio, Flavour::Cv};
}

PluginLayout layoutFor(const ModuleDescription& module, Flavour flavour) {
    const PinDescription* gate = module.inputWithRole(Role::Gate);
    const PinDescription* reset = module.inputWithRole(Role::Reset);
    if (!hasAudioOutput(module)) throw LayoutError("\"" + module.id + "\" has no audio output to play");
    const bool needsGate = flavour == Flavour::Midi || flavour == Flavour::Amp || flavour == Flavour::Gate;
    if (needsGate && gate == nullptr)
        throw LayoutError("\"" + module.id + "\" has no gate input for the " + flavourName(flavour) +
                          " plug-in");
    if (flavour == Flavour::Effect || flavour == Flavour::Instrument)
        throw LayoutError(std::string("the ") + flavourName(flavour) +
                          " plug-in is a patch's, not a module's");
    if (flavour == Flavour::Audio && gate != nullptr)
        throw LayoutError("\"" + module.id + "\" has a gate input: it plays as midi, amp, gate or cv");

    const PortType signalType = flavour == Flavour::Cv ? PortType::Cv : PortType::Audio;
    LayoutBuilder builder(flavour);
    if (flavour == Flavour::Midi || flavour == Flavour::Amp)
        builder.add(PortRole::MidiIn, PortType::Atom, true, "midi_in", "MIDI in");
    if (flavour == Flavour::Gate || (flavour == Flavour::Cv && gate != nullptr))
        builder.add(PortRole::GateIn, signalType, true, gate->symbol, gate->name);
    if (flavour == Flavour::Cv && reset != nullptr)
        builder.add(PortRole::ResetIn, PortType::Cv, true, reset->symbol, reset->name);
    for (const PinDescription& pin : module.pins)
        if (pin.isInput() && pin.isAudio() && pin.role == Role::Signal)
            builder.add(PortRole::SignalIn, signalType, true, pin.symbol, pin.name, pin.id);
    for (const PinDescription& pin : module.pins)
        if (!pin.isInput() && pin.isAudio())
            builder.add(PortRole::SignalOut, signalType, false, pin.symbol, pin.name, pin.id);
    if (flavour == Flavour::Amp) {
        builder.add(PortRole::AmpIn, PortType::Audio, true, "in_l", "Left in", -1, 0);
        builder.add(PortRole::AmpIn, PortType::Audio, true, "in_r", "Right in", -1, 1);
        builder.add(PortRole::AmpOut, PortType::Audio, false, "out_l", "Left out", -1, 0);
        builder.add(PortRole::AmpOut, PortType::Audio, false, "out_r", "Right out", -1, 1);
    }
    for (const PinDescription& pin : module.pins)
        if (isParameter(pin))
            builder.add(PortRole::Parameter, PortType::Control, true, pin.symbol, pin.name, pin.id);
    return builder.done();
}

std::vector<const PinDescription*> pinsLeftOut(const ModuleDescription& module, const PluginLayout& layout) {
    const bool notes = layout.find(PortRole::MidiIn) != nullptr || layout.find(PortRole::GateIn) != nullptr;
    const bool reset = layout.find(PortRole::ResetIn) != nullptr;
    std::vector<const PinDescription*> left;
    for (const PinDescription& pin : module.pins) {
        bool played = false;
        for (const Port& port : layout.ports) played |= port.pin == pin.id;
        if (pin.isInput() && (pin.role == Role::Gate || pin.role == Role::Trigger)) played |= notes;
        if (pin.isInput() && pin.role == Role::Reset) played |= reset;
        if (!played) left.push_back(&pin);
    }
    return left;
}

std::string pluginUri(std::string_view uriBase, const ModuleDescription& module, Flavour flavour) {
    return std::string(uriBase) + module.symbol + "/" + flavourName(flavour);
}

std::string_view projectUriBase() { return KVX_URI_BASE; }

}  // namespace kvx::lv2
