// What the host hears of one output, sample by sample.
#include "tools/validate/session/output_monitor.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "tools/validate/session/guarded_buffer.h"

namespace kvx::validate {

std::string sampleText(float value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

OutputMonitor::OutputMonitor(int32_t pin, size_t capacity)
    : pin(pin), stateAt(capacity), restartAt(capacity) {}

void OutputMonitor::readReports(const StreamingReport* reports, size_t count, const Block& block) {
    const int32_t n = block.length;
    std::fill(stateAt.begin(), stateAt.begin() + n, state);
    std::fill(restartAt.begin(), restartAt.begin() + n, false);
    if (restartNext && n > 0) restartAt[0] = true;
    restartNext = false;
    for (size_t r = 0; r < count; ++r) {
        const StreamingReport& report = reports[r];
        if (report.pin != pin) continue;
        const int32_t from = std::clamp(report.timestamp, 0, n);
        std::fill(stateAt.begin() + from, stateAt.begin() + n,
                  static_cast<int8_t>(report.streaming != 0 ? 1 : 0));
        state = report.streaming != 0 ? 1 : 0;
        // Every constant declaration starts a new constant stretch at its sample.
        if (report.streaming == 0) {
            if (from < n)
                restartAt[static_cast<size_t>(from)] = true;
            else
                restartNext = true;
        }
    }
}

void OutputMonitor::follow(float* data, const Block& block) {
    for (int32_t i = 0; i < block.length; ++i) {
        const int64_t at = block.start + i;
        const bool written = !sameBits(data[i], unwrittenSample());
        if (!written) {
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
            } else if (written && !sameBits(data[i], constant) && firstNotConstant.empty()) {
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

}  // namespace kvx::validate
