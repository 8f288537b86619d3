// ProbeHarness: one in-process ProbeModule attached to our host's services, with its audio
// buffers placed between guard zones so that any write outside the block shows up.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "host/host_services.h"
#include "interfaces/interface_ids.h"
#include "tests/plugin_base/probe_module.h"

namespace kvx::test {

// One sub-block routine call as the module saw it.
struct Stretch {
    int32_t offset;
    int32_t count;
    bool sleepAllowed;
    bool operator==(const Stretch&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Stretch& s) {
    return out << "{" << s.offset << ", " << s.count << (s.sleepAllowed ? ", sleep allowed}" : ", no sleep}");
}

// A host block buffer with GUARD samples on either side, all starting as SENTINEL.
class GuardedBuffer {
public:
    static constexpr int32_t GUARD = 32;
    static constexpr float SENTINEL = -7777.0f;

    explicit GuardedBuffer(int32_t capacity)
        : samples(static_cast<size_t>(capacity + 2 * GUARD), SENTINEL), capacity(capacity) {}
    float* block() { return samples.data() + GUARD; }
    float at(int32_t i) const { return samples[static_cast<size_t>(GUARD + i)]; }
    void refill() { std::fill(samples.begin(), samples.end(), SENTINEL); }
    // True when nothing before the block and nothing from `sampleCount` on was written.
    bool untouchedOutside(int32_t sampleCount) const {
        if (sampleCount < 0) sampleCount = 0;
        for (int32_t i = -GUARD; i < 0; ++i)
            if (at(i) != SENTINEL) return false;
        for (int32_t i = sampleCount; i < capacity + GUARD; ++i)
            if (at(i) != SENTINEL) return false;
        return true;
    }

private:
    std::vector<float> samples;
    int32_t capacity;
};

class ProbeHarness {
public:
    explicit ProbeHarness(int32_t capacity = 512) : signal(capacity), offsets(capacity), counts(capacity) {
        // Created and attached the way the factory does it.
        module = new ProbeModule();
        attachResult = static_cast<IMpLegacyInitialization*>(module)->attachHost(host.asUnknown());
        view2()->bindPinBuffer(PROBE_SIGNAL, signal.block());
        view2()->bindPinBuffer(PROBE_OFFSETS, offsets.block());
        view2()->bindPinBuffer(PROBE_COUNTS, counts.block());
    }
    ~ProbeHarness() { view2()->release(); }
    ProbeHarness(const ProbeHarness&) = delete;
    ProbeHarness& operator=(const ProbeHarness&) = delete;

    IMpPlugin2* view2() { return static_cast<IMpPlugin2*>(module); }
    ProbeModule& probe() { return *module; }

    // One host block through the IMpPlugin2 view; records and buffers start afresh.
    void run(int32_t sampleCount, const HostEvent* events) {
        module->recordCount = 0;
        offsets.refill();
        counts.refill();
        host.clearSleepRequest();
        view2()->process(sampleCount, events);
        ++host.block;
        EXPECT_FALSE(module->recordsDropped);
        EXPECT_TRUE(offsets.untouchedOutside(sampleCount)) << "output written outside the block";
        EXPECT_TRUE(counts.untouchedOutside(sampleCount)) << "output written outside the block";
    }

    std::vector<ProbeRecord> records(ProbeRecord::Kind kind) const {
        std::vector<ProbeRecord> found;
        for (int32_t i = 0; i < module->recordCount; ++i)
            if (module->records[static_cast<size_t>(i)].kind == kind)
                found.push_back(module->records[static_cast<size_t>(i)]);
        return found;
    }
    std::vector<ProbeRecord::Kind> kinds() const {
        std::vector<ProbeRecord::Kind> found;
        for (int32_t i = 0; i < module->recordCount; ++i)
            found.push_back(module->records[static_cast<size_t>(i)].kind);
        return found;
    }
    std::vector<Stretch> stretches() const {
        std::vector<Stretch> found;
        for (const ProbeRecord& r : records(ProbeRecord::ROUTINE))
            found.push_back({r.offset, r.count, r.sleepAllowed});
        return found;
    }
    // Checks that the outputs hold exactly what the stretches wrote, and the sentinel elsewhere.
    void expectOutputsMatch(const std::vector<Stretch>& expected, int32_t sampleCount) const {
        std::vector<float> wantOffsets(static_cast<size_t>(sampleCount), GuardedBuffer::SENTINEL);
        std::vector<float> wantCounts = wantOffsets;
        for (const Stretch& s : expected)
            for (int32_t i = s.offset; i < s.offset + s.count; ++i) {
                wantOffsets[static_cast<size_t>(i)] = static_cast<float>(s.offset);
                wantCounts[static_cast<size_t>(i)] = static_cast<float>(s.sleepAllowed ? s.count : -s.count);
            }
        for (int32_t i = 0; i < sampleCount; ++i) {
            ASSERT_EQ(offsets.at(i), wantOffsets[static_cast<size_t>(i)]) << "sample " << i;
            ASSERT_EQ(counts.at(i), wantCounts[static_cast<size_t>(i)]) << "sample " << i;
        }
    }

    host::HostServices host;  // declared first: outlives the module, which releases it
    GuardedBuffer signal, offsets, counts;
    int32_t attachResult = 0;

private:
    ProbeModule* module = nullptr;
};

}  // namespace kvx::test
