// SPDX-License-Identifier: MIT
// Broken: also creates the module for the id with a blank appended.
#include "broken/broken_module.h"

namespace {
class Plain : public kvx::adsr::Adsr {};
const kvx::ModuleRegistration nearMiss{0, u"KV ADSR4 ", &kvx::adsr::createAdsr};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Plain)
