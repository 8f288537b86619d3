// SPDX-License-Identifier: MIT
// The PatchSpec checks.
#include "host/patch_checks.h"

#include <set>
#include <utility>

#include "host/host_error.h"

namespace kvx::host {

namespace {

const PatchPin* findPin(const PatchModule& module, int32_t id) {
    for (const PatchPin& pin : module.pins)
        if (pin.id == id) return &pin;
    return nullptr;
}

bool validModule(const PatchSpec& spec, int32_t module) {
    return module >= 0 && static_cast<size_t>(module) < spec.modules.size();
}

const char* kindName(PatchPinKind kind) {
    switch (kind) {
        case PatchPinKind::AudioIn:
            return "an audio input";
        case PatchPinKind::AudioOut:
            return "an audio output";
        case PatchPinKind::BoolIn:
            return "a bool input";
        case PatchPinKind::FloatIn:
            return "a float input";
    }
    return "a pin of no known kind";
}

// "" when `module`'s pin `pin` exists and is of `kind`, else why not.
std::string pinFault(const PatchSpec& spec, int32_t module, int32_t pin, PatchPinKind kind) {
    if (!validModule(spec, module)) return "no module " + std::to_string(module) + " in the patch";
    const PatchPin* found = findPin(spec.modules[static_cast<size_t>(module)], pin);
    const std::string where = "pin " + std::to_string(pin) + " of " + moduleName(spec, module);
    if (found == nullptr) return where + " is not a pin the patch drives";
    if (found->kind != kind) return where + " is " + kindName(found->kind) + ", not " + kindName(kind);
    return "";
}

std::string end(const PatchSpec& spec, int32_t module, int32_t pin) {
    return moduleName(spec, module) + "." + std::to_string(pin);
}

}  // namespace

std::string moduleName(const PatchSpec& spec, int32_t module) {
    if (!validModule(spec, module)) return "module " + std::to_string(module);
    const std::string& name = spec.modules[static_cast<size_t>(module)].name;
    return name.empty() ? "module " + std::to_string(module) : name;
}

std::string patchPrefix(const PatchSpec& spec) {
    return (spec.source.empty() ? "patch" : spec.source) + ": ";
}

void checkPatchSpec(const PatchSpec& spec) {
    const std::string prefix = patchPrefix(spec);
    if (spec.modules.empty()) throw HostError(prefix + "the patch has no modules");
    for (size_t m = 0; m < spec.modules.size(); ++m) {
        const PatchModule& module = spec.modules[m];
        int32_t previous = -1;
        for (const PatchPin& pin : module.pins) {
            if (pin.id < 0 || pin.id <= previous)
                throw HostError(prefix + "the pins of " + moduleName(spec, static_cast<int32_t>(m)) +
                                " are not in ascending id order without repeats (pin " +
                                std::to_string(pin.id) + ")");
            previous = pin.id;
        }
    }
    std::set<std::pair<int32_t, int32_t>> fed;
    for (size_t c = 0; c < spec.connections.size(); ++c) {
        const PatchConnection& connection = spec.connections[c];
        const std::string what = prefix + "connection " + std::to_string(c) + " (" +
                                 end(spec, connection.fromModule, connection.fromPin) + " -> " +
                                 end(spec, connection.toModule, connection.toPin) + "): ";
        std::string fault = pinFault(spec, connection.fromModule, connection.fromPin, PatchPinKind::AudioOut);
        if (fault.empty())
            fault = pinFault(spec, connection.toModule, connection.toPin, PatchPinKind::AudioIn);
        if (!fault.empty()) throw HostError(what + fault);
        if (!fed.emplace(connection.toModule, connection.toPin).second)
            throw HostError(what + "input " + std::to_string(connection.toPin) + " of " +
                            moduleName(spec, connection.toModule) +
                            " is already connected; an input takes one connection");
    }
    for (const PatchOutput& output : spec.outputs) {
        const std::string fault = pinFault(spec, output.module, output.pin, PatchPinKind::AudioOut);
        if (!fault.empty()) throw HostError(prefix + "output \"" + output.name + "\": " + fault);
    }
}

}  // namespace kvx::host
