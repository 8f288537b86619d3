// SPDX-License-Identifier: MIT
// Broken: never returns once the host reports a sample rate above 100 MHz (as a module sizing a
// loop by the rate might).
#include "broken/broken_module.h"

namespace {
class Hangs : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        volatile bool spinning = hostSampleRate() > 1e8f;
        while (spinning) {
        }
        Adsr::onPinChanges();
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Hangs)
