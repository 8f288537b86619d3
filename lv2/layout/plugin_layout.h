// SPDX-License-Identifier: MIT
// The LV2 plug-ins one described module becomes: which flavours it gets and, per flavour, the
// ports in index order with the module pin each one drives. The bundle generator writes the
// Turtle from this layout and the bridge binary wires its ports by the same layout, so the two
// cannot disagree about what port N is.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "describe/description.h"

namespace kvx::lv2 {

// How a host plays the module.
enum class Flavour {
    Midi,        // MIDI notes drive trigger and gate; the output on an audio port (for DAWs)
    Amp,         // Midi plus a stereo input multiplied by the output (a MIDI-gated amplitude shaper)
    Gate,        // an audio-rate gate input (above 0.5 is on); the output on an audio port
    Cv,          // gate and reset as CV inputs, signals and output on CV ports (for modular hosts)
    Audio,       // a module without a gate: its signal inputs and outputs on audio ports
    Effect,      // a patch with audio inputs: Midi plus those inputs on audio ports
    Instrument,  // a patch with voices: the midi plug-in's ports, played polyphonically
};

// "midi", "amp", "gate", "cv", "audio", "effect", "instrument"
const char* flavourName(Flavour flavour);
std::optional<Flavour> flavourNamed(std::string_view name);

// What a port carries, seen from the bridge.
enum class PortRole {
    MidiIn,     // atom:Sequence of midi:MidiEvent: notes -> trigger and gate
    GateIn,     // a gate signal: rising above 0.5 -> trigger and gate on, falling -> gate off
    ResetIn,    // a reset signal: rising above 0.5 -> reset 1.0
    SignalIn,   // a module audio input, copied into the pin's buffer
    SignalOut,  // a module audio output, copied from the pin's buffer
    AmpIn,      // audio multiplied by the first output (channel 0 left, 1 right)
    AmpOut,     // the product
    Parameter,  // a control port in the pin's user unit, mapped to the pin value
};

enum class PortType {
    Atom,
    Audio,
    Cv,
    Control
};

struct Port {
    uint32_t index = 0;
    PortRole role = PortRole::Parameter;
    PortType type = PortType::Audio;
    bool input = true;
    std::string symbol;
    std::string name;
    int32_t pin = -1;  // the module pin (SignalIn, SignalOut, Parameter), else -1
    int channel = 0;   // AmpIn / AmpOut: 0 left, 1 right
};

struct PluginLayout {
    Flavour flavour = Flavour::Midi;
    std::vector<Port> ports;  // ports[i].index == i

    // The first port with `role`, or null.
    const Port* find(PortRole role) const;
    // "midi_in output attack ...": the port symbols in index order.
    std::vector<std::string> symbols() const;
};

class LayoutError : public std::runtime_error {
public:
    explicit LayoutError(const std::string& message) : std::runtime_error(message) {}
};

// The flavours that make sense for `module`: midi, amp, gate and cv with a gate input; audio and
// cv without one. None without an audio output.
std::vector<Flavour> flavoursFor(const describe::ModuleDescription& module);

// The ports of `module` as `flavour`. Throws LayoutError when the flavour does not fit the
// module or two ports would share a symbol.
PluginLayout layoutFor(const describe::ModuleDescription& module, Flavour flavour);

// The module's pins that no port of `layout` plays (a reset in a flavour without a reset port),
// in id order: what a host of that plug-in cannot reach.
std::vector<const describe::PinDescription*> pinsLeftOut(const describe::ModuleDescription& module,
                                                         const PluginLayout& layout);

// "<uriBase><module symbol>/<flavour>", e.g. https://kvx.example.org/modules/adsr/midi.
std::string pluginUri(std::string_view uriBase, const describe::ModuleDescription& module, Flavour flavour);

// The project's permanent URI base for modules (KvxProject.cmake).
std::string_view projectUriBase();

}  // namespace kvx::lv2
