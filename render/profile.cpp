// SPDX-License-Identifier: MIT
// The modules the render has a profile for.
#include "render/profile.h"

#include "render/envelope_profile.h"

namespace kvx::render {

const ModuleProfile* profileFor(std::string_view id, int32_t subtype) {
    if (isEnvelope(id, subtype)) return &envelopeProfile();
    return nullptr;
}

const describe::ModuleDescription& builtInModule() { return builtInEnvelopeDescription().modules.front(); }

}  // namespace kvx::render
