// SPDX-License-Identifier: MIT
// Broken: at graph start its output tells the host nothing.
#include "broken/broken_module.h"

namespace {
class SilentGraphStart : public kvx::adsr::Adsr {
protected:
    void handleGraphStart() noexcept override {}
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SilentGraphStart)
