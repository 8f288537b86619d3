// SPDX-License-Identifier: MIT
// Shared by the deliberately broken module libraries: each derives from the envelope, breaks
// one rule of the contract, and registers itself as "KV ADSR4" subtype 0 in its own library.
// They reach the envelope's output pin through AdsrTestAccess, host services through
// MpTestAccess.
#pragma once

#include "factory/registered_module.h"
#include "modules/adsr/adsr.h"
#include "tests/support/adsr_test_access.h"
#include "tests/support/mp_test_access.h"

// Registers `Module` under the envelope's id; a library holds exactly one broken module.
#define KVX_REGISTER_BROKEN_MODULE(Module)                                  \
    namespace {                                                             \
    const kvx::RegisteredModule<Module> brokenRegistration{0, u"KV ADSR4"}; \
    }
