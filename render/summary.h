// SPDX-License-Identifier: MIT
// The report `kvx render` prints when it is done: what was rendered, how often the module was
// called and slept, the (first output's) peak, the segment boundaries a module profile reads
// from the host trace, and the cost.
#pragma once

#include <ostream>
#include <string>

#include "render/csv.h"
#include "render/options.h"
#include "render/plan.h"
#include "render/segments.h"
#include "render/session.h"
#include "render/wav.h"

namespace kvx::render {

struct Peak {
    float level = 0.0f;
    int64_t sample = 0;  // first sample that reaches it
};
Peak findPeak(const std::vector<float>& samples);

// "blocks of 64" or "random blocks of 1..512 (seed 7)".
std::string describeBlocks(const BlockSizing& sizing);

// The segment lines only with `labels` (a profile's).
void printSummary(std::ostream& out, const RenderPlan& plan, const SessionResult& result,
                  const SegmentLabels* labels, const BlockSizing& sizing);

// The "wrote" lines for the files `options` names: the WAV (its sample format, `channels`
// outputs, `rate`), the CSV (its columns) and the figure.
void printWrittenFiles(std::ostream& out, const RenderOptions& options, SampleFormat format, size_t channels,
                       double rate, const CsvTable& table);

}  // namespace kvx::render
