// SPDX-License-Identifier: MIT
#include "describe/library_agreement.h"

#include <cmath>

#include "describe/user_value.h"

namespace kvx::describe {

namespace {

struct Expected {
    host::PinFound kind;
    host::ValueFound value;
};

Expected expectedOf(const PinDescription& pin) {
    const host::ValueFound value = pin.datatype == Datatype::Bool    ? host::ValueFound::Bool
                                   : pin.datatype == Datatype::Float ? host::ValueFound::Float
                                                                     : host::ValueFound::Unknown;
    if (pin.isInput()) return {pin.isAudio() ? host::PinFound::AudioIn : host::PinFound::ControlIn, value};
    return {pin.isAudio() ? host::PinFound::AudioOut : host::PinFound::ControlOut, value};
}

std::string pinLabel(const PinDescription& pin) {
    return "pin " + std::to_string(pin.id) + " (" + pin.symbol + ")";
}

// "an audio input", "a bool output".
std::string kindText(const PinDescription& pin) {
    return std::string(pin.isAudio() ? "an " : "a ") + datatypeName(pin.datatype) +
           (pin.isInput() ? " input" : " output");
}

std::string foundText(const host::FoundPin& found) {
    std::string text = host::pinFoundName(found.kind);
    if ((found.kind == host::PinFound::ControlIn || found.kind == host::PinFound::ControlOut) &&
        found.value != host::ValueFound::Unknown)
        text += std::string(" taking a ") + host::valueFoundName(found.value);
    return text;
}

}  // namespace

std::vector<host::ProbeHint> probeHints(const ModuleDescription& module) {
    std::vector<host::ProbeHint> hints;
    for (const PinDescription& pin : module.pins) {
        if (!pin.isInput()) continue;
        host::ProbeHint& hint = hints.emplace_back();
        hint.id = pin.id;
        if (pin.defaultValue) {
            const float value = pin.isAudio() || pin.datatype == Datatype::Float
                                    ? pinValueFor(pin, *pin.defaultValue)
                                    : static_cast<float>(*pin.defaultValue != 0.0);
            if (std::isfinite(value)) hint.rest = value;
        }
        hint.heldOn = pin.role == Role::Gate || pin.role == Role::Trigger;
    }
    return hints;
}

PinAgreement comparePins(const ModuleDescription& module, const std::vector<host::FoundPin>& found) {
    PinAgreement agreement;
    for (const PinDescription& pin : module.pins) {
        const host::FoundPin* finding = nullptr;
        for (const host::FoundPin& f : found)
            if (f.id == pin.id) finding = &f;
        if (finding == nullptr) continue;
        const Expected expected = expectedOf(pin);
        const std::string described = pinLabel(pin) + ": described as " + kindText(pin);
        if (finding->kind == host::PinFound::Unknown) {
            agreement.unsure.push_back(pinLabel(pin) + ": cannot tell whether it is " + kindText(pin) + ": " +
                                       finding->unsure);
            continue;
        }
        if (finding->kind != expected.kind ||
            (expected.value != host::ValueFound::Unknown && finding->value != host::ValueFound::Unknown &&
             finding->value != expected.value)) {
            agreement.contradictions.push_back(described + ", but the library's pin is " +
                                               foundText(*finding));
            continue;
        }
        if (expected.value != host::ValueFound::Unknown && finding->value == host::ValueFound::Unknown)
            agreement.unsure.push_back(
                pinLabel(pin) + ": cannot tell whether it takes a bool or a float: " + finding->unsure);
    }
    return agreement;
}

std::string refusal(const PinAgreement& agreement, const std::string& source) {
    if (agreement.contradictions.empty()) return "";
    std::string line = source + " contradicts its library: ";
    for (size_t i = 0; i < agreement.contradictions.size(); ++i)
        line += (i > 0 ? "; " : "") + agreement.contradictions[i];
    return line;
}

PinAgreement checkAgainstLibrary(const host::PluginLibrary& library, const ModuleDescription& module) {
    return comparePins(
        module, host::discoverPins(library, host::toUtf16(module.id), module.subtype, probeHints(module)));
}

}  // namespace kvx::describe
