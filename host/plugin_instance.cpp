// SPDX-License-Identifier: MIT
// PluginInstance: creation, attachment, buffers and block calls.
#include "host/plugin_instance.h"

#include <string>

#include "host/host_error.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace kvx::host {

IMpPlugin2* createPlugin(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                         IMpUnknown* host, Attach attach) {
    const std::u16string moduleId(id);
    void* created = nullptr;
    int32_t result;
    if (attach == Attach::ThroughFactory || library.factory2() == nullptr)
        result = library.factory()->createInstanceWithHost(moduleId.c_str(), subtype, host, &created);
    else
        result = library.factory2()->createInstance(moduleId.c_str(), subtype, &created);
    if (result != RESULT_OK || created == nullptr) {
        // The factory cannot pass a constructor's message across the binary interface; its
        // result still tells an unknown id from a creator that failed.
        const std::string why =
            result == RESULT_UNSUPPORTED ? "no module is registered under that id and subtype"
            : result == RESULT_FAIL
                ? "the module's creator failed (its constructor threw, or it ran out of memory)"
            : result == RESULT_OK ? "the factory returned no instance"
                                  : "the factory refused";
        throw HostError("'" + library.path() + "' cannot create module \"" + toUtf8(id) + "\" subtype " +
                        std::to_string(subtype) + ": " + why + " (result " + std::to_string(result) + ")");
    }
    auto* unknown = static_cast<IMpUnknown*>(created);
    void* view = nullptr;
    if (unknown->queryInterface(&IID_MP_PLUGIN2, &view) != RESULT_OK || view == nullptr) {
        unknown->release();
        throw HostError("module \"" + toUtf8(id) + "\" does not implement IMpPlugin2");
    }
    auto* plugin2 = static_cast<IMpPlugin2*>(view);
    unknown->release();  // keep the one reference held through plugin2
    if (attach == Attach::ByHost && library.factory2() != nullptr) plugin2->attachHost(host);
    return plugin2;
}

PluginInstance::PluginInstance(const PluginLibrary& library, std::u16string_view id, int32_t subtype,
                               Attach attach)
    : services(std::make_unique<HostServices>()),
      plugin2(createPlugin(library, id, subtype, services->asUnknown(), attach)) {}

PluginInstance::~PluginInstance() {
    if (plugin2 != nullptr) plugin2->release();
}

int32_t PluginInstance::bindBuffer(int32_t pinId, size_t samples) {
    std::vector<float>& storage = buffers[pinId];
    storage.assign(samples, 0.0f);
    return plugin2->bindPinBuffer(pinId, storage.data());
}

float* PluginInstance::buffer(int32_t pinId) {
    auto found = buffers.find(pinId);
    return found == buffers.end() ? nullptr : found->second.data();
}

void PluginInstance::process(int32_t sampleCount, const HostEvent* events) {
    services->block = blockIndex;
    services->blockStart = samplePosition;
    plugin2->process(sampleCount, events);
    ++blockIndex;
    samplePosition += sampleCount > 0 ? sampleCount : 0;
}

void PluginInstance::skip(int64_t sampleCount, int64_t blocks) {
    blockIndex += blocks;
    samplePosition += sampleCount > 0 ? sampleCount : 0;
}

}  // namespace kvx::host
