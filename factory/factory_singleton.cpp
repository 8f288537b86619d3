// SPDX-License-Identifier: MIT
// The factory singleton: one per loaded library, no lock (its first use is at library load).
#include "factory/factory_singleton.h"

namespace kvx {

namespace {
MpFactory* factoryInstance = nullptr;
}

MpFactory* getFactory() {
    if (factoryInstance == nullptr) factoryInstance = new MpFactory();
    return factoryInstance;
}

void registerModule(int32_t subtype, const char16_t* id, CreatorFunction creator) {
    if (id == nullptr) return;
    getFactory()->registry.add(subtype, id, creator);
}

void destroyFactory() noexcept {
    delete factoryInstance;
    // Reset so that nothing can reach a destroyed factory should code run after unload.
    factoryInstance = nullptr;
}

}  // namespace kvx
