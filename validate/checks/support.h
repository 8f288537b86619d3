// SPDX-License-Identifier: MIT
// Shared pieces of the check groups: the library and shape under test, the sample rates swept,
// and running a property over the random sessions of --seeds/--seed.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "conformance/module_shape.h"
#include "conformance/partition.h"
#include "conformance/raw_module.h"
#include "conformance/session.h"
#include "validate/checks/groups.h"
#include "validate/session/render.h"

namespace kvx::validate {

struct Subject {
    explicit Subject(const Context& context)
        : library(context.path), shape(discoverShape(library, context)) {}
    RawLibrary library;
    ModuleShape shape;
};

// 8 kHz to 768 kHz and a fractional rate.
const std::vector<float>& sweptSampleRates();

// The first violation of the basic in-contract properties, or empty.
std::string firstViolation(const Rendering& rendering);

// Runs `property` for each session seed (context.seed .. + seeds - 1). The property returns
// evidence of a violation or an empty string; the first violation fails the check.
Outcome overSessions(const Context& context,
                     const std::function<std::string(uint64_t seed, std::mt19937_64& random)>& property,
                     const std::string& unit = "sessions");

// A countdown policy for getSleepCountdown: the block size (-1), or 1, 2, 17 or 1000 samples.
int32_t randomCountdown(std::mt19937_64& random);

// A random session with a random swept rate and a length of 4000 to 40000 samples.
Session randomSessionFor(const ModuleShape& shape, uint64_t seed, std::mt19937_64& random, bool wild = false);

// A random session whose value events (one in three) and a stretch of each input signal
// (announced as streaming) carry values picked from `values`.
Session sessionWithValues(const ModuleShape& shape, uint64_t seed, std::mt19937_64& random,
                          const std::vector<float>& values);

// The tiny values hostile.huge_values sends and realtime.no_denormals listens to the output of:
// subnormal ones, the smallest normal ones, -0.0.
const std::vector<float>& tinyValues();

// Blocks cut at every event time and one sample after it: each event lands on the first sample
// of a block, and right before a boundary.
std::vector<int32_t> eventEdgePartition(const Session& session);

// "; reproduce with --seed S --seeds 1": how to replay the session of seed S.
std::string reproduce(uint64_t seed);

// Pin ids as evidence: runs joined ("0-1,3"), "none" for none.
std::string describeIds(const std::vector<int32_t>& ids);

}  // namespace kvx::validate
