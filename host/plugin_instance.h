// SPDX-License-Identifier: MIT
// PluginInstance: one module instance created through a library's factory, attached to its
// own HostServices, with host-owned buffers for its audio pins.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "host/host_services.h"
#include "host/plugin_library.h"
#include "interfaces/plugin_interfaces.h"

namespace kvx::host {

enum class Attach {
    ThroughFactory,  // createInstanceWithHost attaches the host
    ByHost,          // createInstance, then attachHost on the IMpPlugin2 view
};

// Creates module (id, subtype) attached to `host` and returns its IMpPlugin2 view, which holds
// the one reference. A library without IMpFactory2 is always attached through the factory.
// Throws HostError when the factory refuses or the instance lacks IMpPlugin2.
IMpPlugin2* createPlugin(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                         IMpUnknown* host, Attach attach = Attach::ByHost);

class PluginInstance {
public:
    // Creates module (id, subtype). Throws HostError when the factory refuses or the instance
    // lacks IMpPlugin2.
    PluginInstance(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                   Attach attach = Attach::ByHost);
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    IMpPlugin2* plugin() const { return plugin2; }
    HostServices& host() const { return *services; }

    // Allocates (or resizes) a host buffer of `samples` for the pin and binds it. Returns the
    // module's bindPinBuffer result.
    int32_t bindBuffer(int32_t pinId, size_t samples);
    float* buffer(int32_t pinId);

    // One block: sets the host's block position, then calls process.
    void process(int32_t sampleCount, const HostEvent* events);

    int64_t blocksProcessed() const { return blockIndex; }
    int64_t position() const { return samplePosition; }
    // Advances the host's position without calling the module (skipped blocks).
    void skip(int64_t sampleCount, int64_t blocks = 1);

private:
    std::unique_ptr<HostServices> services;
    IMpPlugin2* plugin2 = nullptr;
    std::map<int32_t, std::vector<float>> buffers;
    int64_t blockIndex = 0;
    int64_t samplePosition = 0;
};

}  // namespace kvx::host
