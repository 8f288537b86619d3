// SPDX-License-Identifier: MIT
// Writes a render as CSV, one row per sample: sample,time_s, one column per output (printed so
// that it reads back as the same 32-bit float), then the gate as the host sent it (0/1) and the
// segment a module profile names from the host trace, where those apply. The envelope's table is
//   sample,time_s,level,gate,segment
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "render/schedule.h"
#include "render/segments.h"

namespace kvx::render {

struct CsvTable {
    std::vector<std::string> names;                            // one per output column
    const std::vector<std::vector<float>>* outputs = nullptr;  // as many as names, equally long
    int32_t rate = 48000;
    std::optional<std::vector<StreamSpan>> gates;        // a gate column when set
    std::optional<std::vector<SegmentChange>> segments;  // a segment column when set
};

// "sample,time_s,level,gate,segment"
std::string csvHeader(const CsvTable& table);

void writeCsv(const std::string& path, const CsvTable& table,
              const std::function<void(int64_t done, int64_t total)>& progress = nullptr);

}  // namespace kvx::render
