// SPDX-License-Identifier: MIT
// The conformance kit's strict host against broken libraries whose faults a host that holds the last
// value cannot hear: the output is bit for bit the envelope's, yet samples the module owed were
// left unwritten, and the strict host says which.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "conformance/strict_runner.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

constexpr int32_t BLOCK = 64;

struct Heard {
    std::vector<float> output;
    std::string violation;
};

// Two blocks: `first` events, then a block without events; parameters for a 1 ms attack.
Heard render(const std::string& path, host::EventList& first) {
    host::PluginLibrary library(path);
    host::PluginInstance instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE);
    std::vector<int32_t> inputs;
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
        instance.bindBuffer(pin, BLOCK);
        std::fill_n(instance.buffer(pin), BLOCK, pin == adsr::PIN_SUSTAIN_LEVEL ? 0.5f : 0.0f);
        inputs.push_back(pin);
    }
    conformance::StrictRunner runner(instance, {adsr::PIN_OUTPUT}, inputs, BLOCK);
    Heard heard;
    for (const HostEvent* events : {first.head(), static_cast<const HostEvent*>(nullptr)}) {
        runner.runBlock(BLOCK, events);
        heard.output.insert(heard.output.end(), runner.output(adsr::PIN_OUTPUT),
                            runner.output(adsr::PIN_OUTPUT) + BLOCK);
    }
    heard.violation = runner.violation();
    return heard;
}

void expectCaughtThoughInaudible(const std::string& broken, host::EventList& events) {
    const Heard envelope = render(adsrLibraryPath(), events);
    const Heard faulty = render(testModulePath(broken), events);
    EXPECT_EQ(envelope.violation, "");
    EXPECT_EQ(faulty.output, envelope.output) << "the fault is audible: other tests catch it";
    EXPECT_NE(faulty.violation.find("left unwritten"), std::string::npos) << faulty.violation;
}

// Declared constant at the first pin change (sample 10), the countdown dropped: the module
// sleeps at once where it owed samples 10 to 63.
TEST(StrictHost, CatchesASleepBeforeTheCountdownRunsOut) {
    host::EventList events;
    events.add(0, EV_GRAPH_BEGIN);
    events.addFloat(10, adsr::PIN_RESET, 0.0f);
    expectCaughtThoughInaudible("broken_sleeps_before_countdown", events);
}

// The first pin change comes with an input streaming: the routine does not run until the
// trigger at sample 5 starts streaming anew, and samples 0 to 4 were owed.
TEST(StrictHost, CatchesARoutineThatDoesNotRun) {
    host::EventList events;
    events.add(0, EV_STREAM_BEGIN, adsr::PIN_ATTACK_TIME);
    events.addBool(5, adsr::PIN_GATE, true);
    events.addBool(5, adsr::PIN_TRIGGER, true);
    expectCaughtThoughInaudible("broken_stale_active_routine", events);
}

}  // namespace
}  // namespace kvx::test
