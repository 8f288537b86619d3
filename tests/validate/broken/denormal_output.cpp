// Broken: writes a subnormal number where its output would be exactly zero.
#include "broken/broken_module.h"

namespace {
class DenormalOutput : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        if (output.buffer == nullptr) return;
        for (int32_t i = 0; i < sampleCount; ++i)
            if (output.buffer[i] == 0.0f) output.buffer[i] = 1e-40f;
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(DenormalOutput)
