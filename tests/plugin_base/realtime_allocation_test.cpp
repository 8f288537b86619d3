// SPDX-License-Identifier: MIT
// Real-time safety: over thousands of blocks of every size with every kind of event, process()
// and everything it calls (pins, sleep logic, the module's routine, the host services it calls)
// make no heap allocation, free nothing and take no lock, counted by the conformance kit's
// interposer at operator new, malloc and the pthread locks in this process. Driven through
// our host, as a host would, for the envelope and for the probe.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "conformance/heap_interposer.h"
#include "interfaces/interface_ids.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/plugin_base/probe_module.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

using conformance::HeapCounts;
using conformance::mallocHooked;
using conformance::startCounting;
using conformance::stopCounting;

constexpr int32_t MAX_BLOCK = 512;
constexpr int32_t BLOCK_SIZES[] = {1, 7, 32, 64, 100, 256, 511, 512, 0};

// The interposer must see allocations and locks, including those made inside the C library
// and a loaded module library, or a count of zero would prove nothing.
// Where test allocations escape to, so that the compiler cannot drop them.
void* volatile escaped = nullptr;

TEST(Interposer, SeesHeapAndLockCallsInThisProcessAndInLoadedLibraries) {
    host::PluginLibrary library(adsrLibraryPath());
    startCounting();
    escaped = new int(3);
    delete static_cast<int*>(escaped);
    HeapCounts counts = stopCounting();
    EXPECT_EQ(counts.allocations, 1);
    EXPECT_EQ(counts.frees, 1);
    EXPECT_EQ(counts.requestedBytes, static_cast<int64_t>(sizeof(int)));
    EXPECT_GE(counts.usableBytes, counts.requestedBytes);

    if (mallocHooked()) {
        startCounting();
        escaped = std::malloc(24);
        std::free(escaped);
        escaped = strdup("inside the C library");
        std::free(escaped);
        std::mutex mutex;
        mutex.lock();
        mutex.unlock();
        counts = stopCounting();
        EXPECT_GE(counts.allocations, 2);
        EXPECT_GE(counts.frees, 2);
        EXPECT_GE(counts.lockCalls, 1);
    }

    void* created = nullptr;
    startCounting();
    ASSERT_EQ(library.factory2()->createInstance(adsr::MODULE_ID, 0, &created), 0);
    counts = stopCounting();
    EXPECT_GE(counts.allocations, 1)
        << "the instance and its pin registry come from the library's heap calls";
    static_cast<IMpUnknown*>(created)->release();
}

// Block sizes and event lists, all built before anything is counted. Events come in bursts
// (the first 30 of every 100 blocks) so that the modules also go still and ask to sleep.
struct Session {
    std::vector<int32_t> sizes;
    std::vector<host::EventList> lists;
    std::vector<const HostEvent*> heads;
};

Session buildAdsrSession(int32_t blocks) {
    Session s;
    s.lists.resize(static_cast<size_t>(blocks));
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t n = BLOCK_SIZES[b % 9];
        host::EventList& e = s.lists[static_cast<size_t>(b)];
        const int32_t at = n > 0 ? (b * 37) % n : 0;
        s.sizes.push_back(n);
        if (b == 0) e.add(0, EV_GRAPH_BEGIN);
        if (b % 100 >= 30) continue;
        if (b % 3 == 0) e.addBool(at, adsr::PIN_GATE, b % 6 == 0);
        if (b % 4 == 0) e.addBool(at, adsr::PIN_TRIGGER, true);
        if (b % 11 == 0) e.addFloat(at, adsr::PIN_RESET, b % 22 == 0 ? 1.0f : 0.0f);
        if (b % 5 == 0)
            e.add(at, b % 10 == 0 ? EV_STREAM_BEGIN : EV_STREAM_END, adsr::PIN_ATTACK_TIME + b % 7);
        if (b % 7 == 0) e.add(at, EV_PIN_OTHER, adsr::PIN_OUTPUT);
        if (b % 13 == 0) e.add(at, EV_PIN_VALUE, 42);
        if (b % 17 == 0) e.add(at, 105);
        if (b % 19 == 0) e.addBool(n, adsr::PIN_GATE, false);        // at the block's end
        if (b % 23 == 0) e.addBool(n + 9, adsr::PIN_TRIGGER, true);  // past it
        if (b % 29 == 0) e.addBool(-4, adsr::PIN_GATE, true);        // before it
        if (b % 100 == 29) {                                         // the burst ends: inputs still, gate off
            for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
                e.add(at, EV_STREAM_END, pin);
            e.addBool(at, adsr::PIN_GATE, false);
        }
    }
    return s;
}

Session buildProbeSession(int32_t blocks) {
    Session s;
    s.lists.resize(static_cast<size_t>(blocks));
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t n = BLOCK_SIZES[b % 9];
        host::EventList& e = s.lists[static_cast<size_t>(b)];
        const int32_t at = n > 0 ? (b * 37) % n : 0;
        s.sizes.push_back(n);
        if (b % 50 == 0) e.add(0, EV_GRAPH_BEGIN);
        if (b % 100 >= 30) continue;
        if (b % 3 == 0) e.addBool(at, PROBE_FLAG, b % 9 == 0);
        if (b % 4 == 0) e.addFloat(at, PROBE_START_AT, static_cast<float>((b * 13) % (n + 1)));
        if (b % 5 == 0) e.add(at, b % 10 == 0 ? EV_STREAM_BEGIN : EV_STREAM_END, PROBE_SIGNAL);
        if (b % 7 == 0) e.add(at, EV_PIN_OTHER, PROBE_OFFSETS);
        if (b % 17 == 0) e.add(at, 105);
        if (b % 23 == 0) e.addBool(n + 1, PROBE_FLAG, true);
        if (b % 100 == 29) {  // the burst ends: input and outputs still
            e.add(at, EV_STREAM_END, PROBE_SIGNAL);
            e.addBool(at, PROBE_FLAG, false);
        }
    }
    return s;
}

struct Library {
    std::string name;
    std::string path;
    std::u16string id;
    std::vector<int32_t> audioPins;
    int32_t outputPin;
    Session (*build)(int32_t);
};

void PrintTo(const Library& l, std::ostream* out) { *out << l.name; }

class RealTime : public ::testing::TestWithParam<Library> {};

TEST_P(RealTime, ProcessAllocatesNothingOverManyBlocksWithEvents) {
    const Library& lib = GetParam();
    constexpr int32_t BLOCKS = 6000;
    host::PluginLibrary library(lib.path);
    host::PluginInstance instance(library, lib.id, 0);
    host::HostServices& host = instance.host();
    host.reserveTrace(1 << 18);  // the host records without growing
    for (int32_t pin : lib.audioPins) ASSERT_EQ(instance.bindBuffer(pin, MAX_BLOCK), 0);
    for (int32_t pin : lib.audioPins)
        if (pin != lib.outputPin) std::fill(instance.buffer(pin), instance.buffer(pin) + MAX_BLOCK, 0.3f);

    Session session = lib.build(BLOCKS);
    for (host::EventList& list : session.lists) session.heads.push_back(list.head());
    host::SleepingRunner runner(instance, lib.outputPin);

    startCounting();
    for (int32_t b = 0; b < BLOCKS; ++b) {
        if (b < BLOCKS / 2)
            instance.process(session.sizes[static_cast<size_t>(b)], session.heads[static_cast<size_t>(b)]);
        else
            runner.runBlock(session.sizes[static_cast<size_t>(b)], session.heads[static_cast<size_t>(b)]);
    }
    const HeapCounts counts = stopCounting();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    EXPECT_EQ(counts.lockCalls, 0);

    // The blocks did real work: the module reported streaming changes and asked to sleep.
    int64_t streamingReports = 0, sleepRequests = 0;
    for (const host::TraceEntry& e : host.trace) {
        streamingReports += e.call == host::HostCall::SendPinStreaming;
        sleepRequests += e.call == host::HostCall::RequestSleep;
    }
    EXPECT_GT(streamingReports, 100);
    EXPECT_GT(sleepRequests, 10);
    EXPECT_GT(runner.stats().blocksSlept, 0);
}

INSTANTIATE_TEST_SUITE_P(Libraries, RealTime,
                         ::testing::Values(Library{"Adsr",
                                                   adsrLibraryPath(),
                                                   adsr::MODULE_ID,
                                                   {2, 3, 4, 5, 6, 7, 8, 9},
                                                   adsr::PIN_OUTPUT,
                                                   &buildAdsrSession},
                                           Library{"Probe",
                                                   testModulePath("Probe"),
                                                   PROBE_MODULE_ID,
                                                   {PROBE_SIGNAL, PROBE_OFFSETS, PROBE_COUNTS},
                                                   PROBE_OFFSETS,
                                                   &buildProbeSession}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kvx::test
