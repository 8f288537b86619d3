// SPDX-License-Identifier: MIT
// RawHost: a host written as bare tables of function pointers, so that it relies on the binary
// contract alone. Two objects (IMpHostServices and IMpHostAux) with their own reference counts;
// the calls a module makes are counted, and the ones that say something about its output
// (streaming reports, sleep requests) are recorded in call order into fixed storage, so the host
// never allocates while a module processes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kvx::conformance {

class RawHost;

// An interface object: its first word is the table address, as the contract requires.
struct RawHostObject {
    void** table;
    RawHost* owner;
    int32_t refs = 1;
    int32_t handedOut = 0;  // successful queries that returned this object
    int32_t releases = 0;   // release() calls received
};

// One call a module made that tells the host about its output, in the order it was made.
struct ModuleCall {
    enum Kind : int32_t {
        Streaming,     // sendPinStreaming(timestamp, pin, streaming)
        SleepRequest,  // requestSleep()
    };
    Kind kind;
    int32_t timestamp = 0;  // Streaming: the position the module gave
    int32_t pin = -1;       // Streaming: the output pin
    int32_t streaming = 0;  // Streaming: 1 changing, 0 constant
};

class RawHost {
public:
    RawHost();
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;

    // The pointer a module's attachHost receives (the services object, as IMpUnknown).
    void* unknown() { return &services; }

    // --- Answers ---
    float sampleRate = 48000.0f;
    int32_t countdown = 64;       // written by getSleepCountdown
    bool refuseServices = false;  // a host that does not offer IMpHostServices
    bool refuseAux = false;

    // --- Per block, reset by beginBlock ---
    void beginBlock();
    static constexpr size_t MAX_CALLS = 4096;
    std::array<ModuleCall, MAX_CALLS> calls{};
    size_t callCount = 0;
    size_t callsDropped = 0;  // recorded calls beyond MAX_CALLS
    int32_t sleepRequestsThisBlock = 0;

    // --- Whole life ---
    int64_t sleepRequests = 0;
    int64_t countdownCalls = 0;
    int64_t rateQueries = 0;
    int64_t valueSends = 0;
    int64_t queriesForServices = 0;
    int64_t queriesForAux = 0;

    RawHostObject services;
    RawHostObject aux;

private:
    friend struct RawHostCalls;
    void record(const ModuleCall& call);
};

}  // namespace kvx::conformance
