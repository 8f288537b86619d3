// SPDX-License-Identifier: MIT
// Broken: when its first pin change comes while an input already streams (the envelope routine
// would then run directly), the active routine stays the empty one, so nothing is written until
// the next streaming change.
#include "broken/broken_module.h"

namespace {
class StaleActiveRoutine : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        const bool first = !isInstalled(kvx::subBlockRoutine(&Adsr::generateEnvelope));
        const kvx::SubBlockRoutine before = kvx::MpTestAccess::activeRoutine(*this);
        Adsr::onPinChanges();
        if (first && kvx::MpTestAccess::routesDirect(*this))
            kvx::MpTestAccess::setActiveRoutine(*this, before);
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(StaleActiveRoutine)
