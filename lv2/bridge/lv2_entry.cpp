// SPDX-License-Identifier: MIT
// The bridge binary's one export, lv2_descriptor: a descriptor per plug-in listed in the index of
// the bundle the binary sits in (found from the binary's own path), served by Bridge for a
// module's bundle and by PatchBridge for a patch's.
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lv2/bridge/bridge.h"
#include "lv2/bridge/instrument_bridge.h"
#include "lv2/bridge/patch_bridge.h"
#include "lv2/layout/bundle_index.h"

namespace kvx::lv2 {

namespace {

// A module's plug-in, a patch's or a patch's instrument, whichever the bundle holds.
struct Instance {
    std::unique_ptr<Bridge> module;
    std::unique_ptr<PatchBridge> patch;
    std::unique_ptr<InstrumentBridge> instrument;
};

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char* bundlePath,
                       const LV2_Feature* const* features) {
    const HostFeatures host = HostFeatures::from(features);
    const std::string uri = descriptor->URI;
    try {
        const std::string bundle = bundlePath != nullptr ? bundlePath : "";
        auto* instance = new Instance;
        try {
            const BundleIndex index = readBundleIndex(bundle);
            const IndexedPlugin* entry = index.find(uri);
            if (index.patch.empty())
                instance->module = std::make_unique<Bridge>(bundle, uri, sampleRate, host);
            else if (entry != nullptr && entry->flavour == Flavour::Instrument)
                instance->instrument = std::make_unique<InstrumentBridge>(bundle, uri, sampleRate, host);
            else
                instance->patch = std::make_unique<PatchBridge>(bundle, uri, sampleRate, host);
        } catch (...) {
            delete instance;
            throw;
        }
        return instance;
    } catch (const std::exception& error) {
        host.error("kvx-lv2: " + uri + ": " + error.what());
    } catch (...) {
        host.error("kvx-lv2: " + uri + ": unknown error");
    }
    return nullptr;
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* instance = static_cast<Instance*>(handle);
    if (instance->module)
        instance->module->connect(port, data);
    else if (instance->instrument)
        instance->instrument->connect(port, data);
    else
        instance->patch->connect(port, data);
}

void activate(LV2_Handle handle) {
    auto* instance = static_cast<Instance*>(handle);
    try {
        if (instance->module)
            instance->module->activate();
        else if (instance->instrument)
            instance->instrument->reset();
        else
            instance->patch->activate();
    } catch (const std::exception& error) {
        // Nothing to report to: the instance plays silence until it can be created again.
        std::fprintf(stderr, "kvx-lv2: cannot start the module again: %s\n", error.what());
    }
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* instance = static_cast<Instance*>(handle);
    if (instance->module)
        instance->module->run(frames);
    else if (instance->instrument)
        instance->instrument->run(frames);
    else
        instance->patch->run(frames);
}

// An instrument ends its notes (at the next run); the others start afresh at activate.
void deactivate(LV2_Handle handle) {
    auto* instance = static_cast<Instance*>(handle);
    if (instance->instrument) instance->instrument->reset();
}

void cleanup(LV2_Handle instance) { delete static_cast<Instance*>(instance); }

const void* extensionData(const char*) { return nullptr; }

// The plug-ins of this binary's bundle, read once when a host first asks.
struct DescriptorTable {
    std::vector<std::string> uris;
    std::vector<LV2_Descriptor> descriptors;

    DescriptorTable() {
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&instantiate), &self) == 0 || self.dli_fname == nullptr) return;
        const std::string bundle = std::filesystem::path(self.dli_fname).parent_path().string();
        try {
            for (const IndexedPlugin& plugin : readBundleIndex(bundle).plugins) uris.push_back(plugin.uri);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "kvx-lv2: %s\n", error.what());
            uris.clear();
        }
        for (const std::string& uri : uris)
            descriptors.push_back(LV2_Descriptor{uri.c_str(), instantiate, connectPort, activate, run,
                                                 deactivate, cleanup, extensionData});
    }
};

}  // namespace

}  // namespace kvx::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    static const kvx::lv2::DescriptorTable table;
    return index < table.descriptors.size() ? &table.descriptors[index] : nullptr;
}
