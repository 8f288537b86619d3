// Broken: never returns from a 7-sample block.
#include "broken/broken_module.h"

namespace {
class Hangs : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        volatile bool spinning = sampleCount == 7;
        while (spinning) {
        }
        Adsr::process(sampleCount, events);
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Hangs)
