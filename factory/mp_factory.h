// SPDX-License-Identifier: MIT
// MpFactory: the process-wide factory of a module library. Not reference counted: it lives
// from library load to unload.
#pragma once

#include "factory/module_registry.h"
#include "interfaces/factory_interfaces.h"

namespace kvx {

class MpFactory : public IMpFactory2 {
public:
    // Answers IMpFactory2, IMpFactory and IMpUnknown with this pointer.
    int32_t queryInterface(const MpGuid* iid, void** out) noexcept override;
    int32_t addRef() noexcept override { return 1; }
    int32_t release() noexcept override { return 1; }
    int32_t createInstanceWithHost(const char16_t* id, int32_t subtype, IMpUnknown* host,
                                   void** out) noexcept override;
    int32_t getBuildInfo(int32_t* version, int32_t capacity, char16_t* text) noexcept override;
    int32_t createInstance(const char16_t* id, int32_t subtype, void** out) noexcept override;
    virtual ~MpFactory() = default;

    ModuleRegistry registry;
};

}  // namespace kvx
