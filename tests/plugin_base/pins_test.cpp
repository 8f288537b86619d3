// SPDX-License-Identifier: MIT
// Pin behaviour that modules and hosts rely on: raw value decoding (never past the value),
// streaming reports, positions, graph start order, buffer binding and customCall forwarding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "interfaces/result_codes.h"
#include "tests/plugin_base/probe_harness.h"
#include "tests/support/mp_test_access.h"

namespace kvx::test {
namespace {

using host::HostCall;
using host::TraceEntry;

struct Call {
    HostCall call;
    int32_t timestamp;
    int32_t pinId;
    int32_t value;
    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Call& c) {
    return out << "{call " << static_cast<int>(c.call) << ", t " << c.timestamp << ", pin " << c.pinId << ", "
               << c.value << "}";
}

std::vector<Call> calls(const std::vector<TraceEntry>& trace) {
    std::vector<Call> out;
    for (const TraceEntry& e : trace) out.push_back({e.call, e.timestamp, e.pinId, e.value});
    return out;
}

// Exactly `size` bytes on the heap (none for size <= 0), so a read past them is caught by the
// address sanitizer.
std::vector<unsigned char> exactBytes(std::initializer_list<int> bytes, int32_t size) {
    std::vector<unsigned char> out(bytes.begin(), bytes.end());
    out.resize(static_cast<size_t>(std::max(size, 0)));
    return out;
}

struct BoolCase {
    int32_t size;
    std::initializer_list<int> bytes;
    bool expected;
};

TEST(BoolPin, FourBytesAreOneIntegerOtherSizesTheFirstByte) {
    const int32_t word256 = 256, wordHigh = 1 << 24;
    unsigned char w256[4], wHigh[4];
    std::memcpy(w256, &word256, 4);
    std::memcpy(wHigh, &wordHigh, 4);
    const BoolCase cases[] = {
        {4, {w256[0], w256[1], w256[2], w256[3]}, true},  // 256: its first byte is 0
        {4, {wHigh[0], wHigh[1], wHigh[2], wHigh[3]}, true},
        {4, {0, 0, 0, 0}, false},
        {1, {0}, false},
        {1, {2}, true},
        {2, {0, 1}, false},
        {3, {0, 1, 1}, false},
        {8, {0, 1, 1, 1, 1, 1, 1, 1}, false},
        {5, {7, 0, 0, 0, 0}, true},
        {0, {}, false},
        {-1, {}, false},
        {-4, {}, false},
    };
    for (const BoolCase& c : cases) {
        for (bool fromEvent : {false, true}) {
            SCOPED_TRACE("size " + std::to_string(c.size) + (fromEvent ? " from event" : ""));
            BoolInPin pin;
            MpTestAccess::setValue(pin, !c.expected);
            std::vector<unsigned char> bytes = exactBytes(c.bytes, c.size);
            const void* data = bytes.empty() ? nullptr : bytes.data();  // size <= 0 reads no byte
            if (fromEvent)
                pin.setRawValueFromEvent(c.size, data);
            else
                pin.setRawValue(c.size, data);
            EXPECT_EQ(pin.currentValue(), c.expected);
        }
    }
}

TEST(FloatPin, RawSettersCopyAtMostFourBytesAndNeverWritePastTheValue) {
    for (int32_t size = -2; size <= 8; ++size) {
        for (bool fromEvent : {false, true}) {
            SCOPED_TRACE("size " + std::to_string(size) + (fromEvent ? " from event" : ""));
            // Built over a known byte pattern, so that padding bytes compare as defined values.
            alignas(FloatInPin) unsigned char storage[sizeof(FloatInPin)];
            std::memset(storage, 0x5A, sizeof storage);
            FloatInPin& pin = *new (storage) FloatInPin;
            MpTestAccess::setValue(pin, 1.5f);
            auto* object = reinterpret_cast<unsigned char*>(&pin);
            const size_t valueAt =
                static_cast<size_t>(static_cast<const unsigned char*>(pin.rawData()) - object);
            const std::vector<unsigned char> before(object, object + sizeof pin);

            std::vector<unsigned char> source = exactBytes({}, size);
            for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(0xA0 + i);
            const void* data = source.empty() ? nullptr : source.data();
            if (fromEvent)
                pin.setRawValueFromEvent(size, data);
            else
                pin.setRawValue(size, data);

            const size_t copied = static_cast<size_t>(std::clamp(size, 0, 4));
            for (size_t i = 0; i < sizeof pin; ++i) {
                const bool copiedByte = i >= valueAt && i < valueAt + copied;
                EXPECT_EQ(object[i], copiedByte ? source[i - valueAt] : before[i]) << "byte " << i;
            }
            pin.~FloatInPin();
        }
    }
}

TEST(ControlPin, ItsRawFormIsTheValuesOwnBytes) {
    BoolInPin boolean;
    FloatOutPin real;
    const unsigned char yes = 1;
    const float value = -2.75f;
    boolean.setRawValue(1, &yes);
    real.setRawValue(4, &value);
    EXPECT_EQ(boolean.rawSize(), 1);
    EXPECT_EQ(real.rawSize(), 4);
    EXPECT_EQ(*static_cast<const bool*>(boolean.rawData()), true);
    EXPECT_EQ(std::memcmp(real.rawData(), &value, 4), 0);
    EXPECT_TRUE(boolean.currentValue());
    EXPECT_EQ(real.currentValue(), value);
    // The codes a host reads, written out: the aliases must carry them.
    EXPECT_EQ(boolean.pinDatatype(), 4);
    EXPECT_EQ(boolean.pinDirection(), 0);
    EXPECT_EQ(real.pinDatatype(), 6);
    EXPECT_EQ(real.pinDirection(), 1);
}

class Pins : public ::testing::Test {
protected:
    ProbeModule& probe() { return harness.probe(); }
    ProbeHarness harness;
    host::EventList events;
};

TEST_F(Pins, RegistrationNumbersThePinsInOrderAndBindingFindsThem) {
    const MpPinBase* expected[] = {&probe().signal,  &probe().offsets, &probe().flag,  &probe().counts,
                                   &probe().startAt, &probe().echo,    &probe().stopAt};
    const auto& pins = MpTestAccess::pins(probe());
    ASSERT_EQ(pins.size(), size_t{PROBE_PIN_COUNT});
    int32_t id = 0;
    for (const auto& [key, pin] : pins) {
        EXPECT_EQ(key, id);
        EXPECT_EQ(pin, expected[id]);
        EXPECT_EQ(MpTestAccess::id(*pin), id);
        EXPECT_EQ(MpTestAccess::owner(*pin), &probe());
        ++id;
    }
    EXPECT_EQ(harness.attachResult, RESULT_OK);
    float unused[4] = {};
    EXPECT_EQ(harness.view2()->bindPinBuffer(PROBE_FLAG, unused), RESULT_OK);
    EXPECT_EQ(harness.view2()->bindPinBuffer(PROBE_ECHO, unused), RESULT_OK);
    EXPECT_EQ(harness.view2()->bindPinBuffer(PROBE_PIN_COUNT, unused), RESULT_FAIL);
    EXPECT_EQ(harness.view2()->bindPinBuffer(-1, unused), RESULT_FAIL);
    EXPECT_EQ(probe().signal.boundBuffer(), harness.signal.data());  // untouched by the failed binds
}

// A module whose pin enum and registration order disagree cannot be built: the registration
// that would give a pin another id than its enum says throws, before it changes anything.
class RegistersLater : public MpBase2 {
public:
    void add(MpPinBase& pin, int32_t expectedId) { registerPin(pin, expectedId); }
};

TEST(RegisterPin, AnIdOutOfOrderThrowsAndChangesNothing) {
    AudioInPin first, second;
    BoolInPin third;
    RegistersLater module;
    module.add(first, 0);
    for (int32_t wrong : {0, 2, -1, 1000}) {
        SCOPED_TRACE("expected id " + std::to_string(wrong));
        EXPECT_THROW(module.add(second, wrong), std::logic_error);
        EXPECT_EQ(MpTestAccess::pins(module).size(), 1u);
        EXPECT_EQ(MpTestAccess::id(second), -1);
        EXPECT_EQ(MpTestAccess::owner(second), nullptr);
    }
    module.add(second, 1);
    module.add(third, 2);
    EXPECT_EQ(MpTestAccess::id(third), 2);
    EXPECT_EQ(MpTestAccess::owner(third), &module);
}

// Past the pins that fit inside the object the table moves to the heap: ids, lookups and the
// ascending order stay as they were, before and after the move.
TEST(RegisterPin, MorePinsThanFitInsideTheObjectKeepTheirIdsAndOrder) {
    constexpr int32_t COUNT = 3 * PinRegistry::INLINE_CAPACITY + 1;
    std::vector<AudioInPin> pins(COUNT);
    RegistersLater module;
    for (int32_t id = 0; id < COUNT; ++id) module.add(pins[static_cast<size_t>(id)], id);
    const PinRegistry& registry = MpTestAccess::pins(module);
    ASSERT_EQ(registry.size(), size_t{COUNT});
    int32_t expected = 0;
    for (const auto& [id, pin] : registry) {
        EXPECT_EQ(id, expected);
        EXPECT_EQ(pin, &pins[static_cast<size_t>(id)]);
        ++expected;
    }
    EXPECT_EQ(expected, COUNT);
    float buffer[4] = {};
    for (int32_t id : {0, PinRegistry::INLINE_CAPACITY - 1, PinRegistry::INLINE_CAPACITY, COUNT - 1}) {
        SCOPED_TRACE("pin " + std::to_string(id));
        EXPECT_EQ(module.bindPinBuffer(id, buffer + id % 4), RESULT_OK);
        EXPECT_EQ(pins[static_cast<size_t>(id)].boundBuffer(), buffer + id % 4);
    }
    EXPECT_EQ(module.bindPinBuffer(COUNT, buffer), RESULT_FAIL);
    EXPECT_EQ(module.bindPinBuffer(-1, buffer), RESULT_FAIL);
}

TEST_F(Pins, AValueEventTakesItsBytesFromDataBeforeTheInlineBytes) {
    const float fromData = 2.5f, inlineFloat = 7.0f;
    const int32_t word256 = 256;
    events.addData(0, PROBE_START_AT, 4, &fromData);
    std::memcpy(events[0].inlineValue, &inlineFloat, 4);
    events.addData(0, PROBE_FLAG, 4, &word256);  // inline bytes all 0
    harness.run(8, events.head());
    EXPECT_EQ(probe().startAt.currentValue(), 2.5f);
    EXPECT_TRUE(probe().flag.currentValue());

    events.clear();
    events.addInline(0, PROBE_START_AT, 4, &inlineFloat, 4);
    const unsigned char zero = 0;
    events.addData(0, PROBE_FLAG, 1, &zero);
    events[1].inlineValue[0] = 1;
    harness.run(8, events.head());
    EXPECT_EQ(probe().startAt.currentValue(), 7.0f);
    EXPECT_FALSE(probe().flag.currentValue());
}

TEST_F(Pins, AnInputStreamStartWhileStreamingOnlyMarksItUpdated) {
    for (int block = 0; block < 2; ++block) {
        events.clear();
        events.add(0, EV_STREAM_BEGIN, PROBE_SIGNAL);
        harness.run(8, events.head());
        ASSERT_EQ(harness.records(ProbeRecord::NOTIFY).size(), 1u);
        EXPECT_TRUE(harness.records(ProbeRecord::NOTIFY)[0].signalUpdated);
        EXPECT_EQ(MpTestAccess::streamingCount(probe()), 1);
    }
    EXPECT_FALSE(probe().signal.updatedNow());
}

TEST_F(Pins, DeclareStreamingReportsEveryCallAndCountsOnlyChanges) {
    harness.host.sleepCountdown = 40;
    MpTestAccess::setBlockPosition(probe(), 6);
    probe().offsets.declareStreaming(false, -1);
    harness.host.sleepCountdown = 90;  // the second call hands the countdown over again
    probe().offsets.declareStreaming(false, -1);
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 0);
    EXPECT_EQ(MpTestAccess::samplesBeforeSleep(probe()), 90);
    probe().offsets.declareStreaming(true, -7);  // only exactly -1 means blockOffset
    probe().offsets.declareStreaming(true, -1);
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 1);
    EXPECT_TRUE(MpTestAccess::routesDirect(probe()));
    probe().offsets.declareStreaming(false, 20);
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 0);
    EXPECT_TRUE(MpTestAccess::routesThroughWrapper(probe()));

    const std::vector<Call> expected = {
        {HostCall::GetSleepCountdown, 0, -1, 40},
        {HostCall::SendPinStreaming, 6, PROBE_OFFSETS, 0},
        {HostCall::GetSleepCountdown, 0, -1, 90},
        {HostCall::SendPinStreaming, 6, PROBE_OFFSETS, 0},
        {HostCall::SendPinStreaming, -7, PROBE_OFFSETS, 1},
        {HostCall::SendPinStreaming, 6, PROBE_OFFSETS, 1},
        {HostCall::GetSleepCountdown, 0, -1, 90},
        {HostCall::SendPinStreaming, 20, PROBE_OFFSETS, 0},
    };
    EXPECT_EQ(calls(harness.host.trace), expected);
}

TEST_F(Pins, ValueAtReadsAtBlockOffsetForAnyNegativePosition) {
    for (int32_t i = 0; i < 16; ++i) harness.signal.data()[i] = 0.5f * static_cast<float>(i);
    MpTestAccess::setBlockPosition(probe(), 5);
    EXPECT_EQ(probe().signal.valueAt(-1), 2.5f);
    EXPECT_EQ(probe().signal.valueAt(-7), 2.5f);
    EXPECT_EQ(probe().signal.valueAt(), 2.5f);
    EXPECT_EQ(probe().signal.valueAt(0), 0.0f);
    EXPECT_EQ(probe().signal.valueAt(9), 4.5f);
}

TEST_F(Pins, SendRawValueReplacesOnlyMinusOneByTheBlockOffset) {
    const float value = 0.25f;
    MpTestAccess::setBlockPosition(probe(), 12);
    EXPECT_EQ(probe().echo.sendRawValue(4, &value, -1), RESULT_OK);
    probe().echo.sendRawValue(4, &value, -7);
    probe().echo.sendRawValue(1, &value, 30);
    probe().echo.sendRawValue(4, &value);
    const std::vector<Call> expected = {{HostCall::SendPinValue, 12, PROBE_ECHO, 4},
                                        {HostCall::SendPinValue, -7, PROBE_ECHO, 4},
                                        {HostCall::SendPinValue, 30, PROBE_ECHO, 1},
                                        {HostCall::SendPinValue, 12, PROBE_ECHO, 4}};
    EXPECT_EQ(calls(harness.host.trace), expected);
}

TEST_F(Pins, GraphStartSendsEveryOutputsInitialValueInIdOrder) {
    events.add(9, EV_GRAPH_BEGIN);
    harness.run(16, events.head());
    const std::vector<Call> expected = {{HostCall::SendPinStreaming, 9, PROBE_OFFSETS, 1},
                                        {HostCall::SendPinStreaming, 9, PROBE_COUNTS, 1},
                                        {HostCall::SendPinValue, 9, PROBE_ECHO, 4}};
    EXPECT_EQ(calls(harness.host.trace), expected);
    EXPECT_EQ(MpTestAccess::streamingCount(probe()), 2);
}

// Inputs only: graph start has nothing to send.
class InputsOnly : public MpBase2 {
public:
    InputsOnly() {
        registerPin(in);
        registerPin(gate);
    }
    AudioInPin in;
    BoolInPin gate;
};

TEST(GraphStart, AModuleWithoutOutputsSendsNothing) {
    host::HostServices host;
    auto* module = new InputsOnly();
    module->attachHost(host.asUnknown());
    HostEvent start{};
    start.type = EV_GRAPH_BEGIN;
    static_cast<IMpPlugin2*>(module)->process(0, &start);
    // (The empty module then asks to sleep, which is all the host hears.)
    for (const TraceEntry& e : host.trace) EXPECT_EQ(e.call, HostCall::RequestSleep);
    static_cast<IMpPlugin2*>(module)->release();
    EXPECT_EQ(host.releases, 1);
}

// customCall: a module overrides one of the two forms; a call through either view reaches the
// override exactly once, with its arguments unchanged.
struct CustomCallSeen {
    int calls = 0;
    intptr_t a = 0, b = 0;
    void* c = nullptr;
    bool guardDuringCall = false;
};

class OverridesSecondForm : public ProbeModule {
public:
    int32_t customCall(intptr_t a, intptr_t b, void* c) noexcept override {
        seen = {seen.calls + 1, a, b, c, MpTestAccess::forwardingGuard(*this)};
        return 7;
    }
    CustomCallSeen seen;
};

class OverridesFirstForm : public ProbeModule {
public:
    int32_t customCallV1(intptr_t a, intptr_t b, void* c) noexcept override {
        seen = {seen.calls + 1, a, b, c, MpTestAccess::forwardingGuard(*this)};
        return 7;
    }
    CustomCallSeen seen;
};

template <typename Module>
void expectForwardedOnce(bool throughFirstView, bool overrideIsFirstForm) {
    Module module;
    int token = 0;
    const int32_t result = throughFirstView
                               ? static_cast<IMpPlugin&>(module).customCallV1(-3, INTPTR_MAX, &token)
                               : static_cast<IMpPlugin2&>(module).customCall(-3, INTPTR_MAX, &token);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(module.seen.calls, 1);
    EXPECT_EQ(module.seen.a, -3);
    EXPECT_EQ(module.seen.b, INTPTR_MAX);
    EXPECT_EQ(module.seen.c, &token);
    // Reached through the other view, the override runs inside the forwarding step.
    EXPECT_EQ(module.seen.guardDuringCall, throughFirstView != overrideIsFirstForm);
    EXPECT_FALSE(MpTestAccess::forwardingGuard(module));
}

TEST(CustomCall, AnOverrideIsReachedOnceThroughEitherView) {
    for (bool throughFirstView : {false, true}) {
        SCOPED_TRACE(throughFirstView ? "through IMpPlugin" : "through IMpPlugin2");
        expectForwardedOnce<OverridesSecondForm>(throughFirstView, false);
        expectForwardedOnce<OverridesFirstForm>(throughFirstView, true);
    }
}

TEST(CustomCall, WithoutAnOverrideEitherViewReturnsOkAndClearsTheGuard) {
    ProbeModule module;
    EXPECT_EQ(static_cast<IMpPlugin&>(module).customCallV1(1, 2, nullptr), RESULT_OK);
    EXPECT_FALSE(MpTestAccess::forwardingGuard(module));
    EXPECT_EQ(static_cast<IMpPlugin2&>(module).customCall(1, 2, nullptr), RESULT_OK);
    EXPECT_FALSE(MpTestAccess::forwardingGuard(module));
}

}  // namespace
}  // namespace kvx::test
