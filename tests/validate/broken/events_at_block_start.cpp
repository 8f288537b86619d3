// SPDX-License-Identifier: MIT
// Broken: applies every event at the first sample of its block instead of at its timestamp.
#include "broken/broken_module.h"

namespace {
class EventsAtBlockStart : public kvx::adsr::Adsr {
public:
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        size_t count = 0;
        for (const kvx::HostEvent* event = events; event != nullptr && count < MAX_EVENTS;
             event = event->next) {
            moved[count] = *event;
            moved[count].timestamp = 0;
            ++count;
        }
        for (size_t i = 0; i < count; ++i) moved[i].next = i + 1 < count ? &moved[i + 1] : nullptr;
        Adsr::process(sampleCount, count > 0 ? moved : nullptr);
    }
    static constexpr size_t MAX_EVENTS = 512;
    kvx::HostEvent moved[MAX_EVENTS];
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(EventsAtBlockStart)
