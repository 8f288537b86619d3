// SPDX-License-Identifier: MIT
// Renders a session block by block through raw slots as a host would, with guarded buffers on
// every pin, under a chosen host behaviour, and collects what the output sounded like and the
// first evidence of each kind of violation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "conformance/module_shape.h"
#include "conformance/raw_abi.h"
#include "conformance/raw_module.h"
#include "conformance/session.h"
#include "validate/context.h"

namespace kvx::validate {

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
    std::map<int32_t, std::vector<float>> outputs;  // after the host held the samples left to it
    std::string guardHit;                           // a write outside the block or into a guard zone
    std::string inputWritten;                       // a write into an input buffer
    std::string nonFinite;
    std::string denormal;
    std::string sleptWhileStreaming;
    std::string notConstant;    // a written sample differs while declared constant
    std::string unwrittenOwed;  // a sample the module owed was left unwritten
    std::string heapOrLock;
    std::string fpEnvironment;  // process changed the floating-point control state
    int64_t heapCalls = 0;
    int64_t lockCalls = 0;
    int64_t blocksCalled = 0;
    int64_t blocksSkipped = 0;
    int64_t sleepRequests = 0;
};

// Renders `session` with a new instance, one process call per entry of `partition`, and judges
// every block as it goes. Throws CheckFailure when the instance cannot be created.
Rendering render(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                 const Session& session, const std::vector<int32_t>& partition, const HostPolicy& policy);

// The first owed sample that any rendering of this process left unwritten since the last call,
// as evidence naming its session's seed; empty if none. Whatever check rendered the session,
// it counts against processing.owed_samples_written (judgeOwedSamplesEverywhere).
std::string takeUnwrittenOwed();

// The first sample where two renderings' outputs differ bit for bit, as evidence; empty if
// they are identical.
std::string firstDifference(const Rendering& a, const Rendering& b, int64_t limit = -1);

}  // namespace kvx::validate
