// Out of memory during instance creation: the Nth operator new (N = 1, 2, ...) of a creation
// through the factory of the loaded ADSR.kvx fails. The factory must answer -1 with a null
// instance, free whatever it had allocated, hand back any host reference, and keep creating
// working instances afterwards. This executable replaces the global operator new; the loaded
// library's allocations resolve to it too.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "host/event_list.h"
#include "host/host_services.h"
#include "host/plugin_library.h"
#include "interfaces/interface_ids.h"
#include "interfaces/plugin_interfaces.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"
#include "plugin/audio_pins.h"
#include "plugin/mp_base2.h"
#include "tests/support/test_paths.h"

namespace {

// Injection state. Only touched by the test's own thread while armed.
struct Injection {
    bool armed = false;
    int64_t failAt = 0;   // the allocation number (from 1) that fails
    int64_t count = 0;    // allocations attempted while armed
    int64_t live = 0;     // successful allocations minus deallocations while armed
    bool failed = false;  // the failure was injected
};
Injection injection;

void* allocate(std::size_t size, bool mayThrow) {
    if (injection.armed) {
        if (++injection.count == injection.failAt) {
            injection.failed = true;
            if (mayThrow) throw std::bad_alloc();
            return nullptr;
        }
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        if (mayThrow) throw std::bad_alloc();
        return nullptr;
    }
    if (injection.armed) ++injection.live;
    return block;
}

void deallocate(void* block) noexcept {
    if (block == nullptr) return;
    if (injection.armed) --injection.live;
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size, true); }
void* operator new[](std::size_t size) { return allocate(size, true); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, false); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, false); }
void operator delete(void* block) noexcept { deallocate(block); }
void operator delete[](void* block) noexcept { deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { deallocate(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { deallocate(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { deallocate(block); }

namespace {

namespace adsr = kvx::adsr;

enum class Creation {
    Plain,
    WithHost
};

class AllocationFailure : public ::testing::TestWithParam<Creation> {
protected:
    // One creation with the Nth allocation failing; returns the factory's result.
    int32_t createFailing(int64_t failAt, kvx::host::HostServices& host, void** out) {
        injection = Injection{true, failAt, 0, 0, false};
        int32_t result;
        if (GetParam() == Creation::Plain)
            result = library.factory2()->createInstance(adsr::MODULE_ID, adsr::MODULE_SUBTYPE, out);
        else
            result = library.factory()->createInstanceWithHost(adsr::MODULE_ID, adsr::MODULE_SUBTYPE,
                                                               host.asUnknown(), out);
        injection.armed = false;
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
};

TEST_P(AllocationFailure, EveryAllocationOfCreationFailsCleanly) {
    int64_t failurePoints = 0;
    for (int64_t failAt = 1;; ++failAt) {
        SCOPED_TRACE("failing allocation " + std::to_string(failAt));
        kvx::host::HostServices host;
        void* out = reinterpret_cast<void*>(1);
        const int32_t result = createFailing(failAt, host, &out);
        if (!injection.failed) {
            // Fewer allocations than failAt: creation ran to completion.
            ASSERT_EQ(result, kvx::RESULT_OK);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(static_cast<kvx::IMpUnknown*>(out)->release(), 0);
            break;
        }
        ++failurePoints;
        EXPECT_EQ(result, kvx::RESULT_FAIL);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(injection.live, 0) << "blocks leaked by the failed creation";
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
    injection = Injection{true, 1, 0, 0, false};
    EXPECT_THROW(module.add(spilling), std::bad_alloc);
    injection.armed = false;
    EXPECT_TRUE(injection.failed);
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
