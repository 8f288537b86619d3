// SPDX-License-Identifier: MIT
// Event lists a host must not send (times before the current position, down to INT_MIN, and
// past the block): the module applies such an event at the current position, never runs a
// stretch outside the block and never writes outside it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "conformance/guarded_buffer.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/test_paths.h"

namespace {

using kvx::host::EventList;
using kvx::conformance::GuardedBuffer;
namespace adsr = kvx::adsr;

constexpr int32_t BLOCK = 16;

// One instance with guarded buffers of its own: every pin's buffer sits between guard zones.
class GuardedInstance {
public:
    explicit GuardedInstance(const kvx::host::PluginLibrary& library)
        : instance(library, adsr::MODULE_ID, 0) {
        buffers.reserve(adsr::PIN_COUNT);
        for (int32_t pin = 0; pin < adsr::PIN_COUNT; ++pin) {
            GuardedBuffer& buffer = buffers.emplace_back(BLOCK);
            // Inputs hold a short envelope: 10 ms segments, sustain 0.5, middle curves.
            const float setting = pin == adsr::PIN_SUSTAIN_LEVEL ? 0.5f : 0.25f;
            if (pin != adsr::PIN_OUTPUT) std::fill_n(buffer.data(), BLOCK, setting);
            instance.plugin()->bindPinBuffer(pin, buffer.data());
        }
        instance.plugin()->openModule();
    }

    // Runs one block and returns its output; fails the test if a guard sample changed.
    std::vector<float> run(const kvx::HostEvent* events) {
        instance.process(BLOCK, events);
        const GuardedBuffer& out = buffers[adsr::PIN_OUTPUT];
        const std::optional<int64_t> hit = out.firstGuardHit();
        EXPECT_FALSE(hit) << "output sample " << *hit << " written";
        return std::vector<float>(out.data(), out.data() + BLOCK);
    }

private:
    kvx::host::PluginInstance instance;
    std::vector<GuardedBuffer> buffers;
};

// A trigger whose time lies before the current position (after a gate at 6) is applied at 6,
// exactly as if it had been sent at 6.
TEST(HostileEventTimes, AnEarlierTimeIsAppliedAtTheCurrentPosition) {
    kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
    GuardedInstance reference(library);
    EventList inOrder;
    inOrder.addBool(6, adsr::PIN_GATE, true);
    inOrder.addBool(6, adsr::PIN_TRIGGER, true);
    const std::vector<float> expected = reference.run(inOrder.head());
    // Before its first event the module may leave the block unwritten; it never rises early.
    ASSERT_FALSE(expected[5] > 0.0f);
    ASSERT_GT(expected[6], 0.0f) << "the attack starts at the trigger's sample";

    for (int32_t early : {5, 0, -1, -1000, INT_MIN + 1, INT_MIN}) {
        SCOPED_TRACE(early);
        GuardedInstance instance(library);
        EventList events;
        events.addBool(6, adsr::PIN_GATE, true);
        events.addBool(early, adsr::PIN_TRIGGER, true);  // out of order: not sorted
        const std::vector<float> out = instance.run(events.head());
        EXPECT_EQ(std::memcmp(out.data(), expected.data(), BLOCK * sizeof(float)), 0);
    }
}

// Times at and past the block's end are never delivered and never stretch the block.
TEST(HostileEventTimes, TimesPastTheBlockAreNotDelivered) {
    kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
    for (int32_t late : {BLOCK, BLOCK + 1, 1 << 20, INT_MAX}) {
        SCOPED_TRACE(late);
        GuardedInstance instance(library);
        EventList events;
        events.addBool(late, adsr::PIN_GATE, true);
        events.addBool(late, adsr::PIN_TRIGGER, true);
        // Not seen: nothing starts (an idle module may leave the block unwritten).
        for (float sample : instance.run(events.head())) EXPECT_FALSE(sample > 0.0f);
        for (float sample : instance.run(nullptr)) EXPECT_FALSE(sample > 0.0f);
        // The same events inside the block do start the attack.
        EventList inside;
        inside.addBool(0, adsr::PIN_GATE, true);
        inside.addBool(0, adsr::PIN_TRIGGER, true);
        EXPECT_GT(instance.run(inside.head())[1], 0.0f);
    }
}

}  // namespace
