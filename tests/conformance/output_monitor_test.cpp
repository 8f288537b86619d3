// SPDX-License-Identifier: MIT
// The conformance kit's output monitor, which judges an output sample by sample: held values where the
// module wrote nothing, constancy while declared constant (and when a new constant stretch
// starts), and evidence of non-finite and subnormal samples, of owed samples left unwritten and
// of sleep while streaming.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "conformance/guarded_buffer.h"
#include "conformance/output_monitor.h"

namespace kvx::conformance {
namespace {

constexpr int32_t PIN = 9;
const float U = unwrittenSample();

// A streaming report: sendPinStreaming(timestamp, pin, streaming).
ModuleCall report(int32_t timestamp, int32_t pin, int32_t streaming) {
    return ModuleCall{ModuleCall::Streaming, timestamp, pin, streaming};
}

// Feeds one block of `samples` (U where the module wrote nothing) with the module's `calls`;
// returns what the host heard.
std::vector<float> feed(OutputMonitor& monitor, int64_t index, int64_t start, std::vector<float> samples,
                        const std::vector<ModuleCall>& calls = {}) {
    const Block block{index, start, static_cast<int32_t>(samples.size())};
    monitor.readCalls(calls.data(), calls.size(), block);
    monitor.follow(samples.data(), block);
    return samples;
}

TEST(OutputMonitor, UnwrittenSamplesHoldTheLastHeardValue) {
    OutputMonitor monitor(PIN, 8);
    EXPECT_EQ(feed(monitor, 0, 0, {U, 0.5f, U, 0.25f}), (std::vector<float>{0.0f, 0.5f, 0.5f, 0.25f}));
    EXPECT_EQ(feed(monitor, 1, 4, {U, U}), (std::vector<float>{0.25f, 0.25f}));
    EXPECT_EQ(monitor.held(), 0.25f);
}

TEST(OutputMonitor, ADeclaredConstantMustHoldStillAcrossBlocks) {
    OutputMonitor monitor(PIN, 8);
    // Streaming from 0, constant from sample 2 (a report for another pin changes nothing).
    feed(monitor, 0, 0, {0.1f, 0.2f, 0.3f, 0.3f},
         {report(0, PIN, 1), report(2, PIN, 0), report(3, PIN + 1, 1)});
    feed(monitor, 1, 4, {U, 0.3f, U, 0.3f});
    EXPECT_EQ(monitor.notConstant(), "");
    feed(monitor, 2, 8, {0.3f, 0.31f, 0.32f, 0.3f});
    EXPECT_EQ(monitor.notConstant().rfind("output pin 9 declared constant from sample 2 at 0.300000012, "
                                          "but sample 9 is 0.310000002 (block 2 (samples 8..11, 4 long))",
                                          0),
              0u)
        << monitor.notConstant();
}

TEST(OutputMonitor, AConstantDeclaredAgainStartsANewStretch) {
    // Constant at 0.5, declared constant again at the block's end (or past it: clamped): the next
    // block may hold a new value. Without the new declaration the jump is evidence.
    for (int32_t at : {4, 1000}) {
        SCOPED_TRACE(at);
        OutputMonitor monitor(PIN, 8);
        feed(monitor, 0, 0, {0.5f, 0.5f, 0.5f, 0.5f}, {report(0, PIN, 0), report(at, PIN, 0)});
        feed(monitor, 1, 4, {0.7f, 0.7f, U, 0.7f});
        EXPECT_EQ(monitor.notConstant(), "");
    }
    OutputMonitor silent(PIN, 8);
    feed(silent, 0, 0, {0.5f, 0.5f, 0.5f, 0.5f}, {report(-3, PIN, 0)});  // before the block: from sample 0
    feed(silent, 1, 4, {0.7f, 0.7f, 0.7f, 0.7f});
    EXPECT_NE(
        silent.notConstant().find("declared constant from sample 0 at 0.5, but sample 4 is 0.699999988"),
        std::string::npos)
        << silent.notConstant();
}

TEST(OutputMonitor, NonFiniteAndSubnormalSamplesAreEvidence) {
    OutputMonitor monitor(PIN, 8);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::numeric_limits<float>::denorm_min();
    feed(monitor, 0, 0, {0.0f, tiny, 1.0f, 1.0f}, {report(0, PIN, 1)});
    feed(monitor, 1, 4, {nan, -std::numeric_limits<float>::infinity(), 2 * tiny, 1.0f});
    EXPECT_EQ(monitor.nonFinite(), "output pin 9 sample 4 is nan (block 1 (samples 4..7, 4 long))");
    EXPECT_EQ(monitor.denormal().rfind("output pin 9 sample 1 is subnormal", 0), 0u) << monitor.denormal();
    EXPECT_EQ(monitor.notConstant(), "") << "a streaming output may move";
}

TEST(OutputMonitor, OwedSamplesLeftUnwrittenAndSleepWhileStreamingAreEvidence) {
    OutputMonitor monitor(PIN, 8);
    const Block block{0, 0, 4};
    // Streaming, then a sleep request; samples 0..2 were owed, the module wrote 0 and 1.
    const std::vector<ModuleCall> calls{report(0, PIN, 1), ModuleCall{ModuleCall::SleepRequest}};
    std::vector<float> samples{0.5f, 0.5f, U, U};
    monitor.readCalls(calls.data(), calls.size(), block);
    monitor.follow(samples.data(), block, OwedSpan{0, 3});
    EXPECT_EQ(monitor.unwrittenOwed().rfind("output pin 9 sample 2 was left unwritten, but the module owed "
                                            "samples 0..2 (block 0 (samples 0..3, 4 long))",
                                            0),
              0u)
        << monitor.unwrittenOwed();
    EXPECT_EQ(samples, (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f})) << "the host still holds the value";
    EXPECT_EQ(monitor.sleptWhileStreaming(),
              "requestSleep while output pin 9 was declared streaming, in block 0 (samples 0..3, 4 long)");
}

}  // namespace
}  // namespace kvx::conformance
