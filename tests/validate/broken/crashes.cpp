// SPDX-License-Identifier: MIT
// Broken: crashes when an event of an unknown type (105) arrives.
#include <cstdlib>

#include "broken/broken_module.h"

namespace {
class Crashes : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        for (const kvx::HostEvent* event = events; event != nullptr; event = event->next)
            if (event->type == 105) std::abort();
        Adsr::process(sampleCount, events);
    }
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Crashes)
