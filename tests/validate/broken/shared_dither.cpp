// SPDX-License-Identifier: MIT
// Broken: dithers its moving output with a noise generator shared by all instances, so two
// instances fed the same session sound different.
#include "broken/broken_module.h"

namespace {
uint32_t sharedNoise = 12345;  // one state for the whole library

class SharedDither : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        const kvx::AudioOutPin& out = kvx::adsr::AdsrTestAccess::output(*this);
        if (!out.isStreaming() || out.boundBuffer() == nullptr) return;
        for (int32_t i = 0; i < sampleCount; ++i) {
            sharedNoise = sharedNoise * 1664525u + 1013904223u;
            out.boundBuffer()[i] += static_cast<float>(sharedNoise >> 8) * 1e-12f;
        }
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SharedDither)
