// SPDX-License-Identifier: MIT
// Broken: copies a subnormal sustain sample to its output, as an envelope that holds its sustain
// input without flushing it would. Only inputs that are already tiny give it away.
#include <cmath>

#include "broken/broken_module.h"
#include "modules/adsr/adsr_pins.h"

namespace {
class SubnormalAfterTinyInput : public kvx::adsr::Adsr {
public:
    int32_t bindPinBuffer(int32_t pinId, float* buffer) noexcept override {
        if (pinId == kvx::adsr::PIN_SUSTAIN_LEVEL) sustain = buffer;
        return Adsr::bindPinBuffer(pinId, buffer);
    }
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        float* out = kvx::adsr::AdsrTestAccess::output(*this).boundBuffer();
        if (out == nullptr || sustain == nullptr) return;
        for (int32_t i = 0; i < sampleCount; ++i)
            if (std::fpclassify(sustain[i]) == FP_SUBNORMAL) out[i] = sustain[i];
    }

private:
    float* sustain = nullptr;
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(SubnormalAfterTinyInput)
