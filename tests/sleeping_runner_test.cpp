// SPDX-License-Identifier: MIT
// The host's sleep handling with block counts a host may get wrong: a negative count must not
// make the host write anything, asleep or awake.
#include <gtest/gtest.h>

#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/sleeping_runner.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/test_paths.h"

namespace {

using namespace kvx;

TEST(SleepingRunner, NegativeBlockCountsWriteNothing) {
    host::PluginLibrary library(test::adsrLibraryPath());
    host::PluginInstance instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE);
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_OUTPUT; ++pin) instance.bindBuffer(pin, 64);
    host::SleepingRunner runner(instance, adsr::PIN_OUTPUT);

    host::EventList start;
    start.add(0, EV_GRAPH_BEGIN);
    start.addBool(0, adsr::PIN_GATE, false);
    runner.runBlock(64, start.head());  // idle, constant: asks to sleep
    runner.runBlock(64, nullptr);
    ASSERT_TRUE(runner.asleep());

    float* out = instance.buffer(adsr::PIN_OUTPUT);
    const std::vector<float> before(out, out + 64);
    for (bool refill : {false, true}) {
        runner.refillSleptBlocks = refill;
        EXPECT_FALSE(runner.runBlock(-5, nullptr));  // asleep: not called
        host::EventList wake;
        wake.addBool(0, adsr::PIN_GATE, false);
        EXPECT_TRUE(runner.runBlock(-5, wake.head()));  // awake: called, treated as empty
        EXPECT_EQ(std::vector<float>(out, out + 64), before);
    }
}

}  // namespace
