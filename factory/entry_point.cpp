// SPDX-License-Identifier: MIT
// The one export of a module library, MP_GetFactory, and the factory's teardown at unload.
// Compiled into every module library (not into the static base library), so that each loaded
// library has its own entry point next to its own singleton.
#include "factory/factory_singleton.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"

namespace {

// Constructed during library load; its destructor runs when the library unloads.
struct FactoryTeardown {
    FactoryTeardown() noexcept = default;
    ~FactoryTeardown() { kvx::destroyFactory(); }
};
const FactoryTeardown factoryTeardown;

}  // namespace

// Writes the factory (as IMpUnknown) to *out and returns RESULT_OK; RESULT_FAIL for null out.
extern "C" __attribute__((visibility("default"))) int32_t MP_GetFactory(void** out) noexcept {
    if (out == nullptr) return kvx::RESULT_FAIL;
    try {
        return kvx::getFactory()->queryInterface(&kvx::IID_MP_UNKNOWN, out);
    } catch (...) {
        *out = nullptr;
        return kvx::RESULT_FAIL;
    }
}
