// SPDX-License-Identifier: MIT
// The factory singleton of one loaded library, and the calls that register modules with it.
#pragma once

#include <cstdint>

#include "factory/module_registry.h"
#include "factory/mp_factory.h"

namespace kvx {

// The singleton, created with an empty registry on first use (during library load).
MpFactory* getFactory();

// Registers a creator under (subtype, id); the first registration of a key wins.
void registerModule(int32_t subtype, const char16_t* id, CreatorFunction creator);

// Destroys the singleton; runs once when the library unloads.
void destroyFactory() noexcept;

// A static object of this type registers a module while the library loads:
//   static const kvx::ModuleRegistration registration{0, u"MY ID", &createMyModule};
struct ModuleRegistration {
    ModuleRegistration(int32_t subtype, const char16_t* id, CreatorFunction creator) {
        registerModule(subtype, id, creator);
    }
};

}  // namespace kvx
