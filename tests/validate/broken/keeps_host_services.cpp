// SPDX-License-Identifier: MIT
// Broken: never releases the host services it obtained.
#include "broken/broken_module.h"

namespace {
class KeepsHostServices : public kvx::adsr::Adsr {
public:
    ~KeepsHostServices() override { kvx::MpTestAccess::hostServices(*this) = nullptr; }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(KeepsHostServices)
