// SPDX-License-Identifier: MIT
// The instance's memory layout, which the many-voice cost depends on: every instance starts on
// a cache line, and the envelope keeps what its routine touches on a moving segment together,
// within one line's length. Which lines that is depends on the base's size too: the benchmarks'
// guards hold the whole layout (two lines per moving block), so that a field added to the base
// is weighed there, by its cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

// The output's buffer pointer and the running segment, from the first byte of one to the last of
// another, span no more than a line: placed on a line boundary they share it.
TEST(InstanceLayout, WhatTheRoutineTouchesFitsInOneLine) {
    IMpUnknown* created = adsr::createAdsr();
    const auto& module = static_cast<const adsr::Adsr&>(*static_cast<IMpPlugin2*>(created));
    const std::vector<std::pair<size_t, size_t>> fields = adsr::AdsrTestAccess::generatorFields(module);
    size_t first = SIZE_MAX, end = 0;
    for (const auto& [offset, size] : fields) {
        first = std::min(first, offset);
        end = std::max(end, offset + size);
    }
    EXPECT_LE(end - first, LINE) << "from byte " << first << " to " << end;
    created->release();
}

}  // namespace
}  // namespace kvx::test
