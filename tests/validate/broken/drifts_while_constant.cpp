// SPDX-License-Identifier: MIT
// Broken: changes the last written sample of a block while its output is declared constant.
#include <cmath>

#include "broken/broken_module.h"

namespace {
class DriftsWhileConstant : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (sampleCount > 0 && !out.isStreaming() && out.boundBuffer() != nullptr) {
            float& last = out.boundBuffer()[sampleCount - 1];
            if (std::isfinite(last)) last += 0.001f;
        }
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(DriftsWhileConstant)
