// SPDX-License-Identifier: MIT
// CSV output.
#include "render/csv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "render/error.h"

namespace kvx::render {

std::string csvHeader(const CsvTable& table) {
    std::string header = "sample,time_s";
    for (const std::string& name : table.names) header += "," + name;
    if (table.gates) header += ",gate";
    if (table.segments) header += ",segment";
    return header;
}

void writeCsv(const std::string& path, const CsvTable& table,
              const std::function<void(int64_t done, int64_t total)>& progress) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
    if (!file) throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
    std::fputs((csvHeader(table) + "\n").c_str(), file.get());
    const std::vector<std::vector<float>>& outputs = *table.outputs;
    size_t gate = 0;
    size_t segment = 0;
    const int64_t count = outputs.empty() ? 0 : static_cast<int64_t>(outputs.front().size());
    for (int64_t n = 0; n < count; ++n) {
        if (progress && (n & 0xFFFF) == 0) progress(n, count);
        std::fprintf(file.get(), "%lld,%.9f", static_cast<long long>(n), static_cast<double>(n) / table.rate);
        // %.9g round-trips every float.
        for (const std::vector<float>& samples : outputs)
            std::fprintf(file.get(), ",%.9g", static_cast<double>(samples[static_cast<size_t>(n)]));
        if (table.gates) {
            const std::vector<StreamSpan>& gates = *table.gates;
            while (gate < gates.size() && gates[gate].end <= n) ++gate;
            std::fprintf(file.get(), ",%d", gate < gates.size() && gates[gate].begin <= n ? 1 : 0);
        }
        if (table.segments) {
            const std::vector<SegmentChange>& segments = *table.segments;
            while (segment + 1 < segments.size() && segments[segment + 1].sample <= n) ++segment;
            std::fprintf(file.get(), ",%s", segments.empty() ? "" : segments[segment].name);
        }
        std::fputc('\n', file.get());
    }
    if (std::ferror(file.get()))
        throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
    FILE* raw = file.release();
    if (std::fclose(raw) != 0) throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
}

}  // namespace kvx::render
