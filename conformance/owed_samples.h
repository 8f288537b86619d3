// SPDX-License-Identifier: MIT
// OwedSamples: which samples of a block a module had to write, worked out from nothing but what
// its host saw during the call: the events it passed, the countdown it answers, the module's
// streaming reports and its sleep request. A strict host checks those samples as written instead
// of standing in a held value for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conformance/raw_host.h"

namespace kvx::conformance {

// The rule, per process call of n samples (positions relative to the block, countdowns counted
// in samples and carried across blocks in absolute time):
//
//  1. Until it has written a sample to an output or declared an output constant, a module owes
//     nothing: it may leave its buffers alone until its first event gives it a routine.
//  2. In a call without a sleep request it owes every sample (from the point of rule 1 on).
//  3. In a call with a sleep request it owes every sample before the later of
//     a. the last event time t with 0 <= t <= n: every stretch that ends at an event is
//        processed whole, even with the countdown run out (events of any type split);
//     b. the countdown's reach. Each constant declaration (sendPinStreaming with 0, position p)
//        hands the module the countdown h this host answers in getSleepCountdown, and it
//        replaces whatever ran before: the reach becomes p + h. A stream end for an audio input
//        at t raises the countdown to at least 1: the reach becomes at least t + 1. The
//        countdown only counts samples the module processes, from its position at the
//        declaration or later, so the module runs at least that far; it may run further.
//     Declarations and stream ends act in the order of their positions, stream ends first at
//     equal positions (they are decoded before the module's hook runs at that timestamp).
//     Samples from there on may be left unwritten: the host holds the declared constant.
//  A declaration is charged the host's countdown even when the module did not ask for it,
//  since it must ask at every constant declaration.
struct OwedSpan {
    int32_t from = 0;  // first owed sample of the block
    int32_t to = 0;    // one past the last; from == to: nothing owed
};

class OwedSamples {
public:
    // `audioInputs`: the module's audio input pins, whose stream ends raise the countdown.
    explicit OwedSamples(std::vector<int32_t> audioInputs = {});

    // Before a process call: the block's absolute first sample, its length, and the countdown
    // the host writes when asked during this call.
    void beginBlock(int64_t start, int32_t length, int32_t countdown);
    // Every event passed with the call, in list order.
    void event(int32_t time, int32_t type, int32_t pin);
    // After the call: what the module told the host, in call order, and the first sample of
    // the block it wrote to any output (the length if none).
    OwedSpan endBlock(const ModuleCall* calls, size_t count, int32_t firstWritten);

    // Why the last span ends where it does, as evidence ("the countdown of 64 handed at ...").
    std::string reason() const;

private:
    void handOver(int32_t position);
    void raise(int32_t position);

    std::vector<int32_t> audioInputs;
    bool started = false;
    bool haveReach = false;
    int64_t reach = 0;  // absolute sample the countdown reaches
    // What set the reach, for the evidence.
    bool reachFromStop = false;
    int64_t reachAnchor = 0;
    int32_t reachCountdown = 0;

    // The current block.
    int64_t start = 0;
    int32_t length = 0;
    int32_t countdown = 0;
    int32_t lastEvent = -1;
    std::vector<int32_t> stops;  // stream ends for audio inputs, 0 <= time < length
    enum class Bound {
        Nothing,
        Awake,
        Event,
        Countdown
    } bound = Bound::Nothing;
};

}  // namespace kvx::conformance
