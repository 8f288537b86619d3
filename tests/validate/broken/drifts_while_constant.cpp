// Broken: changes the last written sample of a block while its output is declared constant.
#include <cmath>

#include "broken/broken_module.h"

namespace {
class DriftsWhileConstant : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        Adsr::process(sampleCount, events);
        if (sampleCount > 0 && !output.streaming && output.buffer != nullptr) {
            float& last = output.buffer[sampleCount - 1];
            if (std::isfinite(last)) last += 0.001f;
        }
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(DriftsWhileConstant)
