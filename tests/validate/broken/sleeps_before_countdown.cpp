// SPDX-License-Identifier: MIT
// Broken: drops the countdown the host hands over when the output is declared constant at an
// event, so it asks to sleep before that countdown has run out (inaudible while the host holds
// the constant).
#include "broken/broken_module.h"

namespace {
class SleepsBeforeCountdown : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        Adsr::onPinChanges();
        if (!kvx::adsr::AdsrTestAccess::output(*this).isStreaming())
            kvx::MpTestAccess::setSamplesBeforeSleep(*this, 0);
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SleepsBeforeCountdown)
