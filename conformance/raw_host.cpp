// SPDX-License-Identifier: MIT
// RawHost: the tables of the host objects and what each slot does.
#include "conformance/raw_host.h"

#include <cstring>

#include "conformance/raw_abi.h"

namespace kvx::conformance {

struct RawHostCalls {
    static RawHostObject* self(void* object) { return static_cast<RawHostObject*>(object); }

    static int32_t query(void* object, const uint8_t* id, void** out) {
        if (out == nullptr) return -1;
        *out = nullptr;
        if (id == nullptr) return -1;
        RawHost& host = *self(object)->owner;
        RawHostObject* answer = nullptr;
        if (std::memcmp(id, iid::HOST_SERVICES.data(), 16) == 0) {
            ++host.queriesForServices;
            if (!host.refuseServices) answer = &host.services;
        } else if (std::memcmp(id, iid::HOST_AUX.data(), 16) == 0) {
            ++host.queriesForAux;
            if (!host.refuseAux) answer = &host.aux;
        } else if (std::memcmp(id, iid::UNKNOWN.data(), 16) == 0) {
            answer = &host.services;
        }
        if (answer == nullptr) return -2;
        ++answer->refs;
        ++answer->handedOut;
        *out = answer;
        return 0;
    }
    static int32_t addRef(void* object) { return ++self(object)->refs; }
    static int32_t release(void* object) {
        ++self(object)->releases;
        return --self(object)->refs;
    }
    static int32_t sendPinValue(void* object, int32_t, int32_t, int32_t, const void*) {
        ++self(object)->owner->valueSends;
        return 0;
    }
    static int32_t sendPinStreaming(void* object, int32_t timestamp, int32_t pin, int32_t streaming) {
        self(object)->owner->record(
            ModuleCall{ModuleCall::Streaming, timestamp, pin, streaming != 0 ? 1 : 0});
        return 0;
    }
    static int32_t requestSleep(void* object) {
        RawHost& host = *self(object)->owner;
        ++host.sleepRequests;
        ++host.sleepRequestsThisBlock;
        host.record(ModuleCall{ModuleCall::SleepRequest});
        return 0;
    }
    static int32_t reserved(void*) { return -2; }
    static int32_t getSleepCountdown(void* object, int32_t* countdown) {
        RawHost& host = *self(object)->owner;
        ++host.countdownCalls;
        if (countdown != nullptr) *countdown = host.countdown;
        return 0;
    }
    static int32_t querySampleRate(void* object, float* rate) {
        RawHost& host = *self(object)->owner;
        ++host.rateQueries;
        if (rate != nullptr) *rate = host.sampleRate;
        return 0;
    }
};

namespace {

// IMpHostServices, slots 0 to 8.
void* servicesTable[9] = {reinterpret_cast<void*>(&RawHostCalls::query),
                          reinterpret_cast<void*>(&RawHostCalls::addRef),
                          reinterpret_cast<void*>(&RawHostCalls::release),
                          reinterpret_cast<void*>(&RawHostCalls::sendPinValue),
                          reinterpret_cast<void*>(&RawHostCalls::sendPinStreaming),
                          reinterpret_cast<void*>(&RawHostCalls::requestSleep),
                          reinterpret_cast<void*>(&RawHostCalls::reserved),
                          reinterpret_cast<void*>(&RawHostCalls::getSleepCountdown),
                          reinterpret_cast<void*>(&RawHostCalls::querySampleRate)};

// IMpHostAux has only the three IMpUnknown slots.
void* auxTable[3] = {reinterpret_cast<void*>(&RawHostCalls::query),
                     reinterpret_cast<void*>(&RawHostCalls::addRef),
                     reinterpret_cast<void*>(&RawHostCalls::release)};

}  // namespace

RawHost::RawHost() : services{servicesTable, this}, aux{auxTable, this} {}

void RawHost::beginBlock() {
    callCount = 0;
    callsDropped = 0;
    sleepRequestsThisBlock = 0;
}

void RawHost::record(const ModuleCall& call) {
    if (callCount < MAX_CALLS)
        calls[callCount++] = call;
    else
        ++callsDropped;
}

}  // namespace kvx::conformance
