// SPDX-License-Identifier: MIT
// run() is real-time safe: over sessions with notes, gate edges, control changes, sleep, and
// blocks longer than the bridge's slices, the heap and lock interposer counts no allocation and
// no lock inside any lilv_instance_run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/heap_interposer.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

struct Counted {
    conformance::HeapCounts total;
    int64_t runs = 0;
};

void countRuns(LilvPluginHost& host, Counted& counted) {
    host.onRunStart = [] { conformance::startCounting(); };
    host.onRunEnd = [&counted] {
        const conformance::HeapCounts counts = conformance::stopCounting();
        counted.total.allocations += counts.allocations;
        counted.total.frees += counts.frees;
        counted.total.lockCalls += counts.lockCalls;
        ++counted.runs;
    };
}

void expectNothingCounted(const Counted& counted) {
    EXPECT_GT(counted.runs, 50);
    EXPECT_EQ(counted.total.allocations, 0);
    EXPECT_EQ(counted.total.frees, 0);
    if (conformance::mallocHooked()) {
        EXPECT_EQ(counted.total.lockCalls, 0);
    }
}

TEST(Lv2Realtime, MidiRunsAllocateAndLockNothing) {
    const Lv2World world({buildDir() + "/ADSR.lv2"});
    for (const char* flavour : {"midi", "amp"}) {
        SCOPED_TRACE(flavour);
        // Slices of 256: blocks up to 4096 are split inside run.
        LilvPluginHost host(world, std::string(ADSR_URI_BASE) + flavour, {.maxBlock = 256});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        std::vector<MidiAt> midi;
        for (int64_t on = 100; on < 200000; on += 9000) {
            midi.push_back(MidiAt{on, 0x90, 60, 100});
            midi.push_back(MidiAt{on + 3000, 0x80, 60, 0});
        }
        for (int i = 0; i < 300; ++i) midi.push_back(MidiAt{150000, 0x90, static_cast<uint8_t>(i % 128), 1});
        midi.push_back(MidiAt{150001, 0xB0, 123, 0});
        Counted counted;
        countRuns(host, counted);
        host.run(210000, randomBlocks(9), midi, {}, [&](int64_t start) {
            host.setControl("sustain", start % 2 == 0 ? 0.4f : 0.6f);
            host.setControl("attack", start > 100000 ? 0.02f : 0.01f);
        });
        expectNothingCounted(counted);
    }
}

TEST(Lv2Realtime, GateRunsAllocateAndLockNothing) {
    const Lv2World world({buildDir() + "/ADSR.lv2"});
    LilvPluginHost host(world, std::string(ADSR_URI_BASE) + "gate", {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    std::vector<float> gate(100000, 0.0f);
    for (size_t i = 0; i < gate.size(); ++i) gate[i] = (i / 700) % 3 == 0 ? 1.0f : 0.0f;
    for (size_t i = 60000; i < 61000; ++i) gate[i] = i % 2 == 0 ? 1.0f : 0.0f;  // edges at every frame
    Counted counted;
    countRuns(host, counted);
    host.run(100000, randomBlocks(4, 2048), {}, {{"gate", gate}});
    expectNothingCounted(counted);
}

}  // namespace
}  // namespace kvx::test
