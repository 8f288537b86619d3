// SPDX-License-Identifier: MIT
// Broken: while its output holds still, the routine that the sleep-aware wrapper runs declares
// the output constant again at the last sample of its stretch (the host hands over a fresh
// countdown there), then takes the stretch off that countdown, as a wrapper counting down after
// the routine would: it asks to sleep before the handed countdown has run out.
#include "broken/broken_module.h"

namespace {
class SleepsBeforeWrappedCountdown : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        // The envelope installs its routine once; this module's routine wraps it.
        if (isInstalled(kvx::subBlockRoutine(&SleepsBeforeWrappedCountdown::run)))
            installModuleRoutine(kvx::subBlockRoutine(&Adsr::generateEnvelope));
        Adsr::onPinChanges();
        installModuleRoutine(kvx::subBlockRoutine(&SleepsBeforeWrappedCountdown::run));
    }

private:
    void run(int32_t sampleCount) noexcept {
        generateEnvelope(sampleCount);
        kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (sampleCount < 2 || out.isStreaming() || !kvx::MpTestAccess::routesThroughWrapper(*this)) return;
        out.declareStreaming(false, blockPosition() + sampleCount - 1);
        kvx::MpTestAccess::setSamplesBeforeSleep(*this,
                                                 kvx::MpTestAccess::samplesBeforeSleep(*this) - sampleCount);
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SleepsBeforeWrappedCountdown)
