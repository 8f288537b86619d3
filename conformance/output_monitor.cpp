// SPDX-License-Identifier: MIT
// What a strict host hears of one output, sample by sample.
#include "conformance/output_monitor.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "conformance/guarded_buffer.h"

namespace kvx::conformance {

std::string sampleText(float value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

OutputMonitor::OutputMonitor(int32_t pin, size_t capacity)
    : pin(pin), stateAt(capacity), restartAt(capacity) {}

void OutputMonitor::readCalls(const ModuleCall* calls, size_t count, const Block& block) {
    const int32_t n = std::max(block.length, 0);
    std::fill(stateAt.begin(), stateAt.begin() + n, state);
    std::fill(restartAt.begin(), restartAt.begin() + n, false);
    if (restartNext && n > 0) {
        restartAt[0] = true;
        restartNext = false;
    }
    for (size_t c = 0; c < count; ++c) {
        const ModuleCall& call = calls[c];
        if (call.kind == ModuleCall::SleepRequest) {
            if (state == 1 && firstSleepWhileStreaming.empty())
                firstSleepWhileStreaming = "requestSleep while output pin " + std::to_string(pin) +
                                           " was declared streaming, in " + block.describe();
            continue;
        }
        if (call.pin != pin) continue;
        const int32_t from = std::clamp(call.timestamp, 0, n);
        std::fill(stateAt.begin() + from, stateAt.begin() + n, static_cast<int8_t>(call.streaming));
        state = static_cast<int8_t>(call.streaming);
        // Every constant declaration starts a new constant stretch at its sample.
        if (call.streaming == 0) {
            if (from < n)
                restartAt[static_cast<size_t>(from)] = true;
            else
                restartNext = true;
        }
    }
}

void OutputMonitor::follow(float* data, const Block& block, OwedSpan owed, const OwedSamples* rule) {
    for (int32_t i = 0; i < block.length; ++i) {
        const int64_t at = block.start + i;
        const bool written = !sameBits(data[i], unwrittenSample());
        if (!written) {
            if (i >= owed.from && i < owed.to && firstUnwrittenOwed.empty())
                firstUnwrittenOwed = "output pin " + std::to_string(pin) + " sample " + std::to_string(at) +
                                     " was left unwritten, but the module owed samples " +
                                     std::to_string(block.start + owed.from) + ".." +
                                     std::to_string(block.start + owed.to - 1) + " (" + block.describe() +
                                     (rule != nullptr ? ": " + rule->reason() : std::string()) + ")";
            data[i] = heldValue;
        } else {
            if (!std::isfinite(data[i]) && firstNonFinite.empty())
                firstNonFinite = "output pin " + std::to_string(pin) + " sample " + std::to_string(at) +
                                 " is " + sampleText(data[i]) + " (" + block.describe() + ")";
            if (std::fpclassify(data[i]) == FP_SUBNORMAL && firstDenormal.empty())
                firstDenormal = "output pin " + std::to_string(pin) + " sample " + std::to_string(at) +
                                " is subnormal (" + sampleText(data[i]) + ")";
        }
        if (stateAt[static_cast<size_t>(i)] == 0) {
            if (!haveConstant || restartAt[static_cast<size_t>(i)]) {
                haveConstant = true;
                constant = data[i];
                constantFrom = at;
            } else if (written && !(data[i] == constant || sameBits(data[i], constant)) &&
                       firstNotConstant.empty()) {
                // Compared as numbers: a held -0 may come out as +0, which sounds the same.
                firstNotConstant = "output pin " + std::to_string(pin) + " declared constant from sample " +
                                   std::to_string(constantFrom) + " at " + sampleText(constant) +
                                   ", but sample " + std::to_string(at) + " is " + sampleText(data[i]) +
                                   " (" + block.describe() + ")";
            }
        } else {
            haveConstant = false;
        }
        heldValue = data[i];
    }
}

}  // namespace kvx::conformance
