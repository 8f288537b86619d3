// SPDX-License-Identifier: MIT
// Broken: the library exports a second symbol next to MP_GetFactory.
#include "broken/broken_module.h"

namespace {
class Plain : public kvx::adsr::Adsr {};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Plain)

extern "C" __attribute__((visibility("default"))) int kvx_broken_extra_export() { return 42; }
