// SPDX-License-Identifier: MIT
// Broken: asks the host to sleep at the end of blocks in which its output is streaming.
#include "broken/broken_module.h"

namespace {
class SleepsWhileStreaming : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        kvx::IMpHostServices* host = kvx::MpTestAccess::hostServices(*this);
        if (out.isStreaming() && host != nullptr) host->requestSleep();
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SleepsWhileStreaming)
