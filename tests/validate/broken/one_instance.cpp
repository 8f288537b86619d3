// SPDX-License-Identifier: MIT
// Broken: every creation hands out the same envelope (a singleton behind the factory).
#include "broken/broken_module.h"

namespace {
kvx::IMpUnknown* created = nullptr;

kvx::IMpUnknown* theSameEnvelope() {
    // The library keeps the first reference, so that the next creation finds the envelope alive.
    if (created == nullptr) created = static_cast<kvx::IMpPlugin2*>(new kvx::adsr::Adsr());
    created->addRef();
    return created;
}

const kvx::ModuleRegistration registration{0, u"KV ADSR4", theSameEnvelope};
}  // namespace
