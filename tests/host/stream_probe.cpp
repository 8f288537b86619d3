// SPDX-License-Identifier: MIT
// The stream probe: a pass-through that records the stream events a host sends it.
#include <algorithm>
#include <array>

#include "factory/registered_module.h"
#include "interfaces/host_event.h"
#include "plugin/audio_pins.h"
#include "plugin/mp_base2.h"
#include "tests/host/stream_probe.h"

namespace {

using kvx::test::StreamProbeRecord;

class StreamProbe : public kvx::MpBase2 {
public:
    StreamProbe() {
        registerPin(input, kvx::test::STREAM_PROBE_INPUT);
        registerPin(output, kvx::test::STREAM_PROBE_OUTPUT);
    }

    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        for (const kvx::HostEvent* e = events; e != nullptr; e = e->next)
            if ((e->type == kvx::EV_STREAM_BEGIN || e->type == kvx::EV_STREAM_END) && count < records.size())
                records[count++] = StreamProbeRecord{position + e->timestamp, e->type, e->pinId};
        MpBase2::process(sampleCount, events);
        position += sampleCount;
    }

    int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept override {
        if (a != kvx::test::STREAM_PROBE_READ || c == nullptr) return MpBase2::customCall(a, b, c);
        const size_t n = std::min(count, static_cast<size_t>(b));
        std::copy_n(records.begin(), n, static_cast<StreamProbeRecord*>(c));
        return static_cast<int32_t>(n);
    }

protected:
    void onPinChanges() noexcept override {
        installModuleRoutineIfNew(kvx::subBlockRoutine(&StreamProbe::run));
        output.declareStreaming(true, -1);
    }

private:
    void run(int32_t sampleCount) noexcept {
        const int32_t at = blockPosition();
        std::copy_n(input.boundBuffer() + at, sampleCount, output.boundBuffer() + at);
    }

    kvx::AudioInPin input;
    kvx::AudioOutPin output;
    std::array<StreamProbeRecord, 4096> records{};
    size_t count = 0;
    int64_t position = 0;
};

const kvx::RegisteredModule<StreamProbe> registration{0, kvx::test::STREAM_PROBE_ID};

}  // namespace
