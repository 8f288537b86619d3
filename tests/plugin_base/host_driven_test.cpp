// SPDX-License-Identifier: MIT
// The probe loaded from Probe.kvx and driven through our host library, as any host would drive
// a module built on the base; and hosts that refuse IMpHostServices yet call process anyway.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/plugin_base/probe_harness.h"
#include "tests/support/mp_test_access.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

using host::HostCall;

// The stretches a host can read back from the probe's two outputs.
std::vector<Stretch> stretchesIn(const GuardedBuffer& offsets, const GuardedBuffer& counts,
                                 int32_t sampleCount) {
    std::vector<Stretch> found;
    for (int32_t i = 0; i < sampleCount;) {
        if (!counts.written(static_cast<size_t>(i))) {
            ++i;
            continue;
        }
        const float length = counts.data()[i];
        const auto n = static_cast<int32_t>(std::fabs(length));
        found.push_back({static_cast<int32_t>(offsets.data()[i]), n, length > 0});
        i += n > 0 ? n : 1;
    }
    return found;
}

class ProbeThroughHost : public ::testing::TestWithParam<host::Attach> {
protected:
    ProbeThroughHost()
        : library(testModulePath("Probe")),
          instance(library, PROBE_MODULE_ID, PROBE_SUBTYPE, GetParam()),
          offsets(64),
          counts(64) {
        EXPECT_EQ(instance.plugin()->bindPinBuffer(PROBE_OFFSETS, offsets.data()), RESULT_OK);
        EXPECT_EQ(instance.plugin()->bindPinBuffer(PROBE_COUNTS, counts.data()), RESULT_OK);
        EXPECT_EQ(instance.bindBuffer(PROBE_SIGNAL, 64), RESULT_OK);
    }
    void run(int32_t sampleCount, const HostEvent* events) {
        offsets.poison();
        counts.poison();
        instance.process(sampleCount, events);
        EXPECT_TRUE(untouchedOutside(offsets, sampleCount));
        EXPECT_TRUE(untouchedOutside(counts, sampleCount));
    }
    host::PluginLibrary library;
    host::PluginInstance instance;
    GuardedBuffer offsets, counts;
    host::EventList events;
};

TEST_P(ProbeThroughHost, TheHostSeesTheBlockSplitAndTheReportsAtTheirSamples) {
    host::HostServices& host = instance.host();
    host.sleepCountdown = 64;
    events.add(0, EV_GRAPH_BEGIN);
    events.addBool(10, PROBE_FLAG, false);
    events.add(30, 105);
    events.addFloat(35, PROBE_START_AT, 40.0f);
    run(64, events.head());
    // 0-9 direct (graph start made both outputs stream); at 10 they go constant and the
    // countdown of 64 starts: 20 samples to the event at 30, 5 to 35, then the last 29, during
    // which the routine starts the outputs streaming again at 40.
    EXPECT_EQ(stretchesIn(offsets, counts, 64),
              (std::vector<Stretch>{{0, 10, false}, {10, 20, false}, {30, 5, false}, {35, 29, true}}));
    std::vector<std::vector<int32_t>> reports;
    for (const auto& e : host.trace)
        if (e.call != HostCall::QuerySampleRate)
            reports.push_back({static_cast<int32_t>(e.call), e.timestamp, e.pinId, e.value});
    const int32_t streaming = static_cast<int32_t>(HostCall::SendPinStreaming);
    const int32_t value = static_cast<int32_t>(HostCall::SendPinValue);
    const int32_t countdown = static_cast<int32_t>(HostCall::GetSleepCountdown);
    EXPECT_EQ(reports, (std::vector<std::vector<int32_t>>{{streaming, 0, PROBE_OFFSETS, 1},
                                                          {streaming, 0, PROBE_COUNTS, 1},
                                                          {value, 0, PROBE_ECHO, 4},
                                                          {countdown, 0, -1, 64},
                                                          {streaming, 10, PROBE_OFFSETS, 0},
                                                          {countdown, 0, -1, 64},
                                                          {streaming, 10, PROBE_COUNTS, 0},
                                                          {streaming, 40, PROBE_OFFSETS, 1},
                                                          {streaming, 40, PROBE_COUNTS, 1}}));
    EXPECT_FALSE(host.sleepRequested);

    // Events past the block: the block ends at its last sample, nothing is delivered.
    const size_t before = host.trace.size();
    events.clear();
    events.addBool(64, PROBE_FLAG, false);
    events.addBool(1000, PROBE_FLAG, false);
    run(64, events.head());
    EXPECT_EQ(stretchesIn(offsets, counts, 64), (std::vector<Stretch>{{0, 64, false}}));
    EXPECT_EQ(host.trace.size(), before);
}

TEST_P(ProbeThroughHost, ASleepingHostStopsCallingUntilItHasAnEvent) {
    ASSERT_EQ(instance.bindBuffer(PROBE_OFFSETS, 32), RESULT_OK);  // the runner fills it while asleep
    host::SleepingRunner runner(instance, PROBE_OFFSETS);
    host::EventList wake;
    wake.add(3, 105);
    events.addBool(0, PROBE_FLAG, false);
    for (int block = 0; block < 10; ++block) {
        const HostEvent* list = block == 0 ? events.head() : block == 5 ? wake.head() : nullptr;
        EXPECT_EQ(runner.runBlock(32, list), block == 0 || block == 5) << "block " << block;
    }
    // Block 0 runs its countdown of one block and asks to sleep; block 5 runs up to its event.
    EXPECT_EQ(runner.stats().blocksCalled, 2);
    EXPECT_EQ(runner.stats().blocksSlept, 8);
    EXPECT_EQ(runner.stats().sleepRequests, 2);
}

INSTANTIATE_TEST_SUITE_P(Attach, ProbeThroughHost,
                         ::testing::Values(host::Attach::ThroughFactory, host::Attach::ByHost),
                         [](const auto& info) {
                             return info.param == host::Attach::ByHost ? "ByHost" : "ThroughFactory";
                         });

// Every kind of event, including ones that make the module talk to the host.
void addEverything(host::EventList& events, int32_t block) {
    events.clear();
    if (block == 0) events.add(0, EV_GRAPH_BEGIN);
    events.addBool(block % 7, PROBE_FLAG, block % 2 == 0);
    events.add(8, block % 3 == 0 ? EV_STREAM_BEGIN : EV_STREAM_END, PROBE_SIGNAL);
    events.addFloat(12, PROBE_START_AT, static_cast<float>(20 + block % 10));
    events.add(40, 105);
}

TEST(NoHostServices, AnInstanceWithoutHostServicesProcessesWithoutCalls) {
    host::HostServices host;
    host.answerHostServices = false;
    auto* probe = new ProbeModule();
    EXPECT_EQ(probe->attachHost(host.asUnknown()), RESULT_UNSUPPORTED);
    EXPECT_EQ(MpTestAccess::hostServices(*probe), nullptr);
    EXPECT_NE(MpTestAccess::hostAux(*probe), nullptr);
    EXPECT_EQ(MpTestAccess::hostSampleRate(*probe), 0.0f);
    const float value = 1.0f;
    EXPECT_EQ(probe->echo.sendRawValue(4, &value, -1), RESULT_FAIL);

    GuardedBuffer offsets(64), counts(64);
    probe->bindPinBuffer(PROBE_OFFSETS, offsets.data());
    probe->bindPinBuffer(PROBE_COUNTS, counts.data());
    host::EventList events;
    for (int32_t block = 0; block < 40; ++block) {
        addEverything(events, block);
        static_cast<IMpPlugin2*>(probe)->process(64, events.head());
        static_cast<IMpPlugin2*>(probe)->process(64, nullptr);  // the sleep path, with no one to ask
    }
    EXPECT_GT(probe->recordCount, 0);
    EXPECT_TRUE(untouchedOutside(offsets, 64));
    EXPECT_TRUE(host.trace.empty());
    EXPECT_EQ(static_cast<IMpPlugin*>(probe)->release(), 0);
    EXPECT_EQ(host.releases, 0);
}

// A host that refuses IMpHostServices but loads the libraries and calls process all the same.
TEST(NoHostServices, LoadedLibrariesSurviveAHostThatRefusesServices) {
    for (bool adsr : {false, true}) {
        SCOPED_TRACE(adsr ? "ADSR.kvx" : "Probe.kvx");
        host::HostServices host;
        host.answerHostServices = false;
        host::PluginLibrary library(adsr ? adsrLibraryPath() : testModulePath("Probe"));
        void* created = nullptr;
        ASSERT_EQ(library.factory()->createInstanceWithHost(adsr ? adsr::MODULE_ID : PROBE_MODULE_ID, 0,
                                                            host.asUnknown(), &created),
                  RESULT_OK);
        void* view = nullptr;
        ASSERT_EQ(static_cast<IMpUnknown*>(created)->queryInterface(&IID_MP_PLUGIN2, &view), RESULT_OK);
        static_cast<IMpUnknown*>(created)->release();
        auto* plugin = static_cast<IMpPlugin2*>(view);

        std::vector<std::vector<float>> buffers(16, std::vector<float>(64, 0.25f));
        for (int32_t pin = 0; pin < 16; ++pin)
            plugin->bindPinBuffer(pin, buffers[static_cast<size_t>(pin)].data());
        host::EventList events;
        for (int32_t block = 0; block < 40; ++block) {
            if (adsr) {
                events.clear();
                if (block == 0) events.add(0, EV_GRAPH_BEGIN);
                events.addBool(block % 5, adsr::PIN_GATE, block % 4 < 2);
                events.addBool(block % 5, adsr::PIN_TRIGGER, true);
                events.add(9, block % 2 ? EV_STREAM_BEGIN : EV_STREAM_END, adsr::PIN_ATTACK_TIME);
                events.addFloat(20, adsr::PIN_RESET, block % 9 == 8 ? 1.0f : 0.0f);
            } else {
                addEverything(events, block);
            }
            plugin->process(64, events.head());
            plugin->process(64, nullptr);
        }
        if (adsr) {
            for (float sample : buffers[adsr::PIN_OUTPUT]) EXPECT_TRUE(std::isfinite(sample));
        }
        EXPECT_TRUE(host.trace.empty());
        EXPECT_EQ(plugin->release(), 0);
        EXPECT_EQ(host.releases, 0);
        EXPECT_EQ(host.servicesHandedOut, 0);
    }
}

}  // namespace
}  // namespace kvx::test
