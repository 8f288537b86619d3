// Writes the rendered envelope as CSV, one row per sample:
//   sample,time_s,level,gate,segment
// with the level printed so that it reads back as the same 32-bit float, the gate as the host
// sent it (0/1) and the segment named from the host trace.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/render/schedule.h"
#include "tools/render/segments.h"

namespace kvx::render {

void writeCsv(const std::string& path, const std::vector<float>& samples, int32_t rate,
              const std::vector<StreamSpan>& gates, const std::vector<SegmentChange>& segments,
              const std::function<void(int64_t done, int64_t total)>& progress = nullptr);

}  // namespace kvx::render
