// Host sessions for the validator: a random but in-contract session (events at absolute sample
// times, input signals with matching stream begin/end events), rendered block by block through
// raw slots with guarded buffers, and what the rendering observed about the module.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tools/validate/raw/module.h"
#include "tools/validate/session/guarded_buffer.h"
#include "tools/validate/session/shape.h"

namespace kvx::validate {

struct SessionEvent {
    int64_t time;
    int32_t type;
    int32_t pin;
    int32_t size = 0;
    uint8_t inlineValue[8] = {};
    const void* data = nullptr;  // points into Session::payloads when set
};

struct Session {
    uint64_t seed = 0;
    float sampleRate = 48000.0f;
    int64_t length = 0;
    std::vector<SessionEvent> events;              // non-decreasing time
    std::map<int32_t, std::vector<float>> inputs;  // absolute signal per input pin
    std::vector<std::unique_ptr<std::vector<uint8_t>>> payloads;
};

// A random session for the module's shape: graph start at sample 0; value events (4 bytes that
// read as a plausible float and as a boolean word) to every input pin, often several pins at
// one time; piecewise-constant input signals with jumps and ramps announced by stream events.
Session randomSession(const ModuleShape& shape, uint64_t seed, float sampleRate, int64_t length);

// Block sizes.
std::vector<int32_t> fixedPartition(int64_t length, int32_t blockSize);
std::vector<int32_t> randomPartition(int64_t length, std::mt19937_64& random, int32_t maxBlock);

// How the host behaves.
struct HostPolicy {
    bool honourSleep = false;       // skip calls while the module sleeps and has no events
    int32_t countdown = -1;         // written by getSleepCountdown; -1: the current block size
    bool throughFirstView = false;  // process through IMpPlugin instead of IMpPlugin2
    Creation creation = Creation::Plain;
    bool countHeapAndLocks = false;
    float sampleRateOverride = -1.0f;  // >= 0 or NaN/inf: what querySampleRate answers instead
    bool useOverride = false;
    // Changes the records of one block before they are linked (hostile hosts).
    std::function<void(int64_t block, int32_t sampleCount, std::vector<RawEvent>& records)> tamper;
};

// What one rendering saw. Each string holds the first evidence of a violation, empty if none.
struct Rendering {
    std::map<int32_t, std::vector<float>> outputs;  // after the host filled unwritten samples
    std::string guardHit;                           // a write outside the block or into a guard zone
    std::string inputWritten;                       // a write into an input buffer
    std::string nonFinite;
    std::string denormal;
    std::string sleptWhileStreaming;
    std::string notConstant;  // a written sample differs while declared constant
    std::string heapOrLock;
    std::string fpEnvironment;  // process changed the floating-point control state
    int64_t heapCalls = 0;
    int64_t lockCalls = 0;
    int64_t blocksCalled = 0;
    int64_t blocksSkipped = 0;
    int64_t sleepRequests = 0;
};

Rendering render(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                 const Session& session, const std::vector<int32_t>& partition, const HostPolicy& policy);

// The first sample where two renderings' outputs differ bit for bit, as evidence; empty if
// they are identical.
std::string firstDifference(const Rendering& a, const Rendering& b, int64_t limit = -1);

// "; reproduce with --seed S --seeds 1"
std::string reproduce(uint64_t seed);

}  // namespace kvx::validate
