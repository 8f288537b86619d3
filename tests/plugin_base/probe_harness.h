// SPDX-License-Identifier: MIT
// ProbeHarness: one in-process ProbeModule attached to our host's services, with its audio
// buffers placed between guard zones so that any write outside the block shows up, and held to
// the strict host's rule: every sample the probe owes in a block must be written.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "host/host_services.h"
#include "conformance/guarded_buffer.h"
#include "conformance/owed_samples.h"
#include "conformance/strict_runner.h"
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

using conformance::GuardedBuffer;

// True when nothing outside the first `sampleCount` samples of the buffer was written.
inline bool untouchedOutside(const GuardedBuffer& buffer, int32_t sampleCount) {
    return !buffer.firstWriteOutside(static_cast<size_t>(sampleCount < 0 ? 0 : sampleCount));
}

class ProbeHarness {
public:
    explicit ProbeHarness(int32_t capacity = 512)
        : signal(static_cast<size_t>(capacity)),
          offsets(static_cast<size_t>(capacity)),
          counts(static_cast<size_t>(capacity)),
          owed({PROBE_SIGNAL}) {
        // Created and attached the way the factory does it.
        module = new ProbeModule();
        attachResult = static_cast<IMpLegacyInitialization*>(module)->attachHost(host.asUnknown());
        view2()->bindPinBuffer(PROBE_SIGNAL, signal.data());
        view2()->bindPinBuffer(PROBE_OFFSETS, offsets.data());
        view2()->bindPinBuffer(PROBE_COUNTS, counts.data());
    }
    ~ProbeHarness() { view2()->release(); }
    ProbeHarness(const ProbeHarness&) = delete;
    ProbeHarness& operator=(const ProbeHarness&) = delete;

    IMpPlugin2* view2() { return static_cast<IMpPlugin2*>(module); }
    ProbeModule& probe() { return *module; }

    // One host block through the IMpPlugin2 view; records and buffers start afresh.
    void run(int32_t sampleCount, const HostEvent* events) {
        module->recordCount = 0;
        offsets.poison();
        counts.poison();
        host.clearSleepRequest();
        const int32_t n = sampleCount < 0 ? 0 : sampleCount;
        owed.beginBlock(position, n, host.sleepCountdown);
        for (const HostEvent* event = events; event != nullptr; event = event->next)
            owed.event(event->timestamp, event->type, event->pinId);
        const size_t traced = host.trace.size();
        view2()->process(sampleCount, events);
        ++host.block;
        position += n;
        EXPECT_FALSE(module->recordsDropped);
        EXPECT_TRUE(untouchedOutside(offsets, sampleCount)) << "output written outside the block";
        EXPECT_TRUE(untouchedOutside(counts, sampleCount)) << "output written outside the block";
        expectOwedSamplesWritten(n, traced);
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
    // Checks that the outputs hold exactly what the stretches wrote, and nothing elsewhere.
    void expectOutputsMatch(const std::vector<Stretch>& expected, int32_t sampleCount) const {
        const float unwritten = conformance::unwrittenSample();
        std::vector<float> wantOffsets(static_cast<size_t>(sampleCount), unwritten);
        std::vector<float> wantCounts = wantOffsets;
        for (const Stretch& s : expected)
            for (int32_t i = s.offset; i < s.offset + s.count; ++i) {
                wantOffsets[static_cast<size_t>(i)] = static_cast<float>(s.offset);
                wantCounts[static_cast<size_t>(i)] = static_cast<float>(s.sleepAllowed ? s.count : -s.count);
            }
        for (size_t i = 0; i < static_cast<size_t>(sampleCount); ++i) {
            ASSERT_TRUE(conformance::sameBits(offsets.data()[i], wantOffsets[i])) << "sample " << i;
            ASSERT_TRUE(conformance::sameBits(counts.data()[i], wantCounts[i])) << "sample " << i;
        }
    }

    host::HostServices host;  // declared first: outlives the module, which releases it
    GuardedBuffer signal, offsets, counts;
    int32_t attachResult = 0;

private:
    // The samples the probe owed in the block just run, by the strict host's rule, are written.
    void expectOwedSamplesWritten(int32_t sampleCount, size_t traced) {
        ASSERT_LT(host.trace.size(), host.trace.capacity()) << "the trace is full: calls went unrecorded";
        calls.clear();
        conformance::appendModuleCalls(host.trace, traced, calls);
        const int32_t firstWritten = offsets.firstWrittenBefore(sampleCount);
        const conformance::OwedSpan span = owed.endBlock(calls.data(), calls.size(), firstWritten);
        for (int32_t i = span.from; i < span.to; ++i) {
            ASSERT_TRUE(offsets.written(static_cast<size_t>(i)) && counts.written(static_cast<size_t>(i)))
                << "owed sample " << i << " left unwritten: " << owed.reason();
        }
    }

    ProbeModule* module = nullptr;
    conformance::OwedSamples owed;
    std::vector<conformance::ModuleCall> calls;
    int64_t position = 0;
};

}  // namespace kvx::test
