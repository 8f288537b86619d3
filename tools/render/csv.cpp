// CSV output.
#include "tools/render/csv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/render/error.h"

namespace kvx::render {

void writeCsv(const std::string& path, const std::vector<float>& samples, int32_t rate,
              const std::vector<StreamSpan>& gates, const std::vector<SegmentChange>& segments,
              const std::function<void(int64_t done, int64_t total)>& progress) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
    if (!file) throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
    std::fputs("sample,time_s,level,gate,segment\n", file.get());
    size_t gate = 0;
    size_t segment = 0;
    const int64_t count = static_cast<int64_t>(samples.size());
    for (int64_t n = 0; n < count; ++n) {
        if (progress && (n & 0xFFFF) == 0) progress(n, count);
        while (gate < gates.size() && gates[gate].end <= n) ++gate;
        while (segment + 1 < segments.size() && segments[segment + 1].sample <= n) ++segment;
        const bool gateOn = gate < gates.size() && gates[gate].begin <= n;
        const char* name = segments.empty() ? "" : segmentName(segments[segment].segment);
        // %.9g round-trips every float.
        std::fprintf(file.get(), "%lld,%.9f,%.9g,%d,%s\n", static_cast<long long>(n),
                     static_cast<double>(n) / rate, static_cast<double>(samples[static_cast<size_t>(n)]),
                     gateOn ? 1 : 0, name);
    }
    if (std::ferror(file.get()))
        throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
    FILE* raw = file.release();
    if (std::fclose(raw) != 0) throw RenderError("cannot write CSV '" + path + "': " + std::strerror(errno));
}

}  // namespace kvx::render
