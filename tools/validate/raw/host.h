// RawHost: the host side of the validator, written as bare tables of function pointers so that
// it relies on the binary contract alone. Two objects (IMpHostServices and IMpHostAux) with
// their own reference counts; every call a module makes is counted or recorded into fixed
// storage, so the host never allocates while a module processes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kvx::validate {

class RawHost;

// An interface object: its first word is the table address, as the contract requires.
struct RawHostObject {
    void** table;
    RawHost* owner;
    int32_t refs = 1;
    int32_t handedOut = 0;  // successful queries that returned this object
    int32_t releases = 0;   // release() calls received
};

struct StreamingReport {
    int32_t timestamp;
    int32_t pin;
    int32_t streaming;
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
    static constexpr size_t MAX_REPORTS = 4096;
    std::array<StreamingReport, MAX_REPORTS> reports{};
    size_t reportCount = 0;
    size_t reportsDropped = 0;
    int32_t sleepRequestsThisBlock = 0;

    // --- Whole life ---
    static constexpr int32_t TRACKED_PINS = 1024;
    // Latest declared state of each output pin: -1 never reported, 0 constant, 1 streaming.
    std::array<int8_t, TRACKED_PINS> outputState{};
    bool sleptWhileStreaming = false;
    int32_t streamingPinAtSleep = -1;  // first offending pin
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
};

}  // namespace kvx::validate
