// SPDX-License-Identifier: MIT
// Out of memory during instance creation: the Nth operator new (N = 1, 2, ...) of a creation
// through the factory of the loaded ADSR.kvx fails. The factory must answer -1 with a null
// instance, free whatever it had allocated, hand back any host reference, and keep creating
// working instances afterwards. The conformance kit's interposer fails the allocation and counts what
// is allocated and freed meanwhile; the loaded library's allocations resolve to it too.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/event_list.h"
#include "host/host_services.h"
#include "host/plugin_library.h"
#include "conformance/heap_interposer.h"
#include "interfaces/interface_ids.h"
#include "interfaces/plugin_interfaces.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"
#include "plugin/audio_pins.h"
#include "plugin/mp_base2.h"
#include "tests/support/test_paths.h"

namespace {

namespace adsr = kvx::adsr;

enum class Creation {
    Plain,
    WithHost
};

class AllocationFailure : public ::testing::TestWithParam<Creation> {
protected:
    // One creation with the Nth operator new failing; returns the factory's result and notes
    // whether the failure happened and how many blocks the creation left allocated.
    int32_t createFailing(int64_t failAt, kvx::host::HostServices& host, void** out) {
        kvx::conformance::startCounting();
        kvx::conformance::failAllocation(failAt);
        int32_t result;
        if (GetParam() == Creation::Plain)
            result = library.factory2()->createInstance(adsr::MODULE_ID, adsr::MODULE_SUBTYPE, out);
        else
            result = library.factory()->createInstanceWithHost(adsr::MODULE_ID, adsr::MODULE_SUBTYPE,
                                                               host.asUnknown(), out);
        kvx::conformance::failAllocation(0);
        const kvx::conformance::HeapCounts counts = kvx::conformance::stopCounting();
        failed = kvx::conformance::allocationFailed();
        live = counts.allocations - counts.frees;
        return result;
    }

    // The library still creates an instance that runs an attack.
    void expectWorkingInstance() {
        kvx::host::HostServices host;
        void* created = nullptr;
        ASSERT_EQ(library.factory()->createInstanceWithHost(adsr::MODULE_ID, adsr::MODULE_SUBTYPE,
                                                            host.asUnknown(), &created),
                  kvx::RESULT_OK);
        auto* plugin = static_cast<kvx::IMpPlugin2*>(created);
        float inputs[7][32];
        float output[32] = {};
        for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
            std::fill_n(inputs[pin - adsr::PIN_ATTACK_TIME], 32, 0.25f);
            plugin->bindPinBuffer(pin, inputs[pin - adsr::PIN_ATTACK_TIME]);
        }
        plugin->bindPinBuffer(adsr::PIN_OUTPUT, output);
        kvx::host::EventList events;
        events.addBool(0, adsr::PIN_GATE, true);
        events.addBool(0, adsr::PIN_TRIGGER, true);
        plugin->process(32, events.head());
        EXPECT_GT(output[31], output[0]);
        EXPECT_GT(output[31], 0.0f);
        static_cast<kvx::IMpUnknown*>(created)->release();
        EXPECT_EQ(host.releases, host.servicesHandedOut);
    }

    kvx::host::PluginLibrary library{kvx::test::adsrLibraryPath()};
    bool failed = false;  // the last createFailing's allocation did fail
    int64_t live = 0;     // blocks the last createFailing allocated and did not free
};

TEST_P(AllocationFailure, EveryAllocationOfCreationFailsCleanly) {
    int64_t failurePoints = 0;
    for (int64_t failAt = 1;; ++failAt) {
        SCOPED_TRACE("failing allocation " + std::to_string(failAt));
        kvx::host::HostServices host;
        void* out = reinterpret_cast<void*>(1);
        const int32_t result = createFailing(failAt, host, &out);
        if (!failed) {
            // Fewer allocations than failAt: creation ran to completion.
            ASSERT_EQ(result, kvx::RESULT_OK);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(static_cast<kvx::IMpUnknown*>(out)->release(), 0);
            break;
        }
        ++failurePoints;
        EXPECT_EQ(result, kvx::RESULT_FAIL);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(live, 0) << "blocks leaked by the failed creation";
        EXPECT_EQ(host.releases, host.servicesHandedOut) << "host references kept by the failed creation";
        expectWorkingInstance();
        ASSERT_LT(failAt, 10000) << "creation never completes";
    }
    // Creating an instance allocates at least the instance itself.
    EXPECT_GE(failurePoints, 1);
    RecordProperty("failurePoints", static_cast<int>(failurePoints));
}

// A module with more pins than fit inside the object: the registration whose table must move
// to the heap fails with std::bad_alloc, leaves the registry and the pin as they were, and a
// later registration succeeds.
class ManyPins : public kvx::MpBase2 {
public:
    void add(kvx::MpPinBase& pin) { registerPin(pin); }
};

TEST(PinRegistration, AFailedMoveOfTheTableToTheHeapThrowsAndChangesNothing) {
    std::vector<kvx::AudioInPin> pins(kvx::PinRegistry::INLINE_CAPACITY + 1);
    ManyPins module;
    for (int32_t id = 0; id < kvx::PinRegistry::INLINE_CAPACITY; ++id)
        module.add(pins[static_cast<size_t>(id)]);
    kvx::AudioInPin& spilling = pins.back();
    float buffer[1] = {};
    kvx::conformance::startCounting();
    kvx::conformance::failAllocation(1);
    EXPECT_THROW(module.add(spilling), std::bad_alloc);
    kvx::conformance::failAllocation(0);
    kvx::conformance::stopCounting();
    EXPECT_TRUE(kvx::conformance::allocationFailed());
    EXPECT_EQ(module.bindPinBuffer(kvx::PinRegistry::INLINE_CAPACITY, buffer), kvx::RESULT_FAIL);
    EXPECT_EQ(spilling.boundBuffer(), nullptr);

    module.add(spilling);
    EXPECT_EQ(module.bindPinBuffer(kvx::PinRegistry::INLINE_CAPACITY, buffer), kvx::RESULT_OK);
    EXPECT_EQ(spilling.boundBuffer(), buffer);
    EXPECT_EQ(module.bindPinBuffer(0, buffer), kvx::RESULT_OK);
}

INSTANTIATE_TEST_SUITE_P(Factory, AllocationFailure, ::testing::Values(Creation::Plain, Creation::WithHost),
                         [](const ::testing::TestParamInfo<Creation>& info) {
                             return info.param == Creation::Plain ? "CreateInstance"
                                                                  : "CreateInstanceWithHost";
                         });

}  // namespace
