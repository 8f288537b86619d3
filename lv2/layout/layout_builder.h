// SPDX-License-Identifier: MIT
// Ports added one after another in index order, refusing a symbol used twice: how a module's and
// a patch's layouts are both built.
#pragma once

#include <set>
#include <string>

#include "lv2/layout/plugin_layout.h"

namespace kvx::lv2 {

class LayoutBuilder {
public:
    explicit LayoutBuilder(Flavour flavour) { layout.flavour = flavour; }

    void add(PortRole role, PortType type, bool input, std::string symbol, std::string name, int32_t pin = -1,
             int channel = 0) {
        if (!symbols.insert(symbol).second)
            throw LayoutError("two ports of the " + std::string(flavourName(layout.flavour)) +
                              " plug-in would be named '" + symbol + "'");
        Port port;
        port.index = static_cast<uint32_t>(layout.ports.size());
        port.role = role;
        port.type = type;
        port.input = input;
        port.symbol = std::move(symbol);
        port.name = std::move(name);
        port.pin = pin;
        port.channel = channel;
        layout.ports.push_back(std::move(port));
    }

    PluginLayout done() { return std::move(layout); }

private:
    PluginLayout layout;
    std::set<std::string> symbols;
};

}  // namespace kvx::lv2
