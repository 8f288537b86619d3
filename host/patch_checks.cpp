// SPDX-License-Identifier: MIT
// The PatchGraph checks.
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

bool validModule(const PatchGraph& graph, int32_t module) {
    return module >= 0 && static_cast<size_t>(module) < graph.modules.size();
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
std::string pinFault(const PatchGraph& graph, int32_t module, int32_t pin, PatchPinKind kind) {
    if (!validModule(graph, module)) return "no module " + std::to_string(module) + " in the patch";
    const PatchPin* found = findPin(graph.modules[static_cast<size_t>(module)], pin);
    const std::string where = "pin " + std::to_string(pin) + " of " + moduleName(graph, module);
    if (found == nullptr) return where + " is not a pin the patch drives";
    if (found->kind != kind) return where + " is " + kindName(found->kind) + ", not " + kindName(kind);
    return "";
}

std::string end(const PatchGraph& graph, int32_t module, int32_t pin) {
    return moduleName(graph, module) + "." + std::to_string(pin);
}

}  // namespace

std::string moduleName(const PatchGraph& graph, int32_t module) {
    if (!validModule(graph, module)) return "module " + std::to_string(module);
    const std::string& name = graph.modules[static_cast<size_t>(module)].name;
    return name.empty() ? "module " + std::to_string(module) : name;
}

std::string patchPrefix(const PatchGraph& graph) {
    return (graph.source.empty() ? "patch" : graph.source) + ": ";
}

void checkPatchGraph(const PatchGraph& graph) {
    const std::string prefix = patchPrefix(graph);
    if (graph.modules.empty()) throw HostError(prefix + "the patch has no modules");
    for (size_t m = 0; m < graph.modules.size(); ++m) {
        const PatchModule& module = graph.modules[m];
        int32_t previous = -1;
        for (const PatchPin& pin : module.pins) {
            if (pin.id < 0 || pin.id <= previous)
                throw HostError(prefix + "the pins of " + moduleName(graph, static_cast<int32_t>(m)) +
                                " are not in ascending id order without repeats (pin " +
                                std::to_string(pin.id) + ")");
            previous = pin.id;
        }
    }
    std::set<std::pair<int32_t, int32_t>> fed;
    for (size_t c = 0; c < graph.connections.size(); ++c) {
        const PatchConnection& connection = graph.connections[c];
        const std::string what = prefix + "connection " + std::to_string(c) + " (" +
                                 end(graph, connection.fromModule, connection.fromPin) + " -> " +
                                 end(graph, connection.toModule, connection.toPin) + "): ";
        std::string fault = pinFault(graph, connection.fromModule, connection.fromPin, PatchPinKind::AudioOut);
        if (fault.empty())
            fault = pinFault(graph, connection.toModule, connection.toPin, PatchPinKind::AudioIn);
        if (!fault.empty()) throw HostError(what + fault);
        if (!fed.emplace(connection.toModule, connection.toPin).second)
            throw HostError(what + "input " + std::to_string(connection.toPin) + " of " +
                            moduleName(graph, connection.toModule) +
                            " is already connected; an input takes one connection");
    }
    for (const PatchOutput& output : graph.outputs) {
        const std::string fault = pinFault(graph, output.module, output.pin, PatchPinKind::AudioOut);
        if (!fault.empty()) throw HostError(prefix + "output \"" + output.name + "\": " + fault);
    }
}

}  // namespace kvx::host
