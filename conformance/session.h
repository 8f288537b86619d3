// SPDX-License-Identifier: MIT
// Host sessions: events at absolute sample times and input signals with matching stream
// begin/end events, and a random but in-contract session for a module's shape.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "conformance/module_shape.h"
#include "conformance/raw_abi.h"

namespace kvx::conformance {

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

// A random session for the module's shape: graph start at sample 0 (in three sessions of four);
// value events (4 bytes that read as a plausible float and as a boolean word) to every input pin,
// often several pins at one time; piecewise-constant input signals with jumps and ramps announced
// by stream events, some moving from the start, their levels now and then far outside 0..1. A
// wild session has four times the value events and every level anywhere in -2..2: parameters
// out of range reach paths of a module that plausible ones seldom do.
Session randomSession(const ModuleShape& shape, uint64_t seed, float sampleRate, int64_t length,
                      bool wild = false);

}  // namespace kvx::conformance
