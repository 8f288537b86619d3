// SPDX-License-Identifier: MIT
// Broken: at a sample rate of 0 its output is NaN (a rate it divides by, unguarded).
#include <limits>

#include "broken/broken_module.h"

namespace {
class NanAtRateZero : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (out.boundBuffer() == nullptr || hostSampleRate() != 0.0f) return;
        for (int32_t i = 0; i < sampleCount; ++i)
            out.boundBuffer()[i] = std::numeric_limits<float>::quiet_NaN();
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(NanAtRateZero)
