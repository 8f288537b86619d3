// SPDX-License-Identifier: MIT
// The instance's memory layout, which the many-voice cost depends on: every instance starts on
// a cache line, and what a block of a moving segment touches lies on two of its lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "host/plugin_library.h"
#include "interfaces/interface_ids.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/adsr_test_access.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

constexpr uintptr_t LINE = 64;

// Instances created by the loaded library between heap blocks of assorted sizes, so that the
// allocator hands out addresses at every 16-byte phase.
TEST(InstanceLayout, EveryInstanceStartsOnACacheLine) {
    host::PluginLibrary library(adsrLibraryPath());
    std::vector<void*> spacers;
    std::vector<IMpUnknown*> instances;
    for (size_t i = 0; i < 16; ++i) {
        spacers.push_back(std::malloc(16 * i + 8));
        void* created = nullptr;
        ASSERT_EQ(library.factory2()->createInstance(adsr::MODULE_ID, adsr::MODULE_SUBTYPE, &created),
                  RESULT_OK);
        void* object = nullptr;  // the primary view's address is the object's
        ASSERT_EQ(static_cast<IMpUnknown*>(created)->queryInterface(&IID_MP_UNKNOWN, &object), RESULT_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % LINE, 0u) << "instance " << i;
        static_cast<IMpUnknown*>(object)->release();
        instances.push_back(static_cast<IMpUnknown*>(created));
    }
    for (IMpUnknown* instance : instances) EXPECT_EQ(instance->release(), 0);
    for (void* spacer : spacers) std::free(spacer);
}

TEST(InstanceLayout, AMovingBlockTouchesTwoLinesOfTheInstance) {
    IMpUnknown* created = adsr::createAdsr();
    const auto& module = static_cast<const adsr::Adsr&>(*static_cast<IMpPlugin2*>(created));
    std::set<size_t> lines;
    for (const auto& [offset, size] : adsr::AdsrTestAccess::movingBlockFields(module))
        for (size_t byte = offset; byte < offset + size; ++byte) lines.insert(byte / LINE);
    EXPECT_EQ(lines.size(), 2u) << "lines " << ::testing::PrintToString(lines);
    EXPECT_EQ(*lines.begin(), 0u);  // the view pointer the host calls through
    EXPECT_EQ(sizeof(MpBase2) % LINE, 24u) << "the base's size places a first audio pin's buffer pointer";
    created->release();
}

}  // namespace
}  // namespace kvx::test
