// SPDX-License-Identifier: MIT
// Broken: writes one output sample past the end of every block.
#include "broken/broken_module.h"

namespace {
class WritesPastBlock : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (sampleCount >= 0 && out.boundBuffer() != nullptr) out.boundBuffer()[sampleCount] = 0.25f;
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(WritesPastBlock)
