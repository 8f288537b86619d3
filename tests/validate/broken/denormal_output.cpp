// SPDX-License-Identifier: MIT
// Broken: writes a subnormal number where its output would be exactly zero.
#include "broken/broken_module.h"

namespace {
class DenormalOutput : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (out.boundBuffer() == nullptr) return;
        for (int32_t i = 0; i < sampleCount; ++i)
            if (out.boundBuffer()[i] == 0.0f) out.boundBuffer()[i] = 1e-40f;
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(DenormalOutput)
