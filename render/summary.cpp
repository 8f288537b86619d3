// SPDX-License-Identifier: MIT
// The end-of-render report.
#include "render/summary.h"

#include <cmath>
#include <cstdio>

namespace kvx::render {

namespace {

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

}  // namespace

Peak findPeak(const std::vector<float>& samples) {
    Peak peak;
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > std::fabs(peak.level)) peak = Peak{samples[i], static_cast<int64_t>(i)};
    return peak;
}

std::string describeBlocks(const BlockSizing& sizing) {
    if (sizing.random)
        return format("random blocks of 1..%d (seed %u)", BlockSizing::MAX_RANDOM, sizing.seed);
    return format("blocks of %d", sizing.size);
}

void printSummary(std::ostream& out, const RenderPlan& plan, const SessionResult& result,
                  const SegmentLabels* labels, const BlockSizing& sizing) {
    const double rate = plan.rate;
    const host::RunnerStats& stats = result.stats;
    const double audioSeconds = static_cast<double>(stats.samples) / rate;
    out << format("samples        %lld (%.6g s at %d Hz)\n", static_cast<long long>(stats.samples),
                  audioSeconds, plan.rate)
        << format("blocks         %lld, %s\n", static_cast<long long>(stats.blocks),
                  describeBlocks(sizing).c_str())
        << format("module         called in %lld blocks, slept through %lld; %lld sleep requests\n",
                  static_cast<long long>(stats.blocksCalled), static_cast<long long>(stats.blocksSlept),
                  static_cast<long long>(stats.sleepRequests));
    const Peak peak = findPeak(result.output());
    out << format("peak           %.9g at %.6f s (sample %lld)\n", static_cast<double>(peak.level),
                  static_cast<double>(peak.sample) / rate, static_cast<long long>(peak.sample));
    if (labels != nullptr) {
        out << "segments      ";
        for (size_t i = 0; i < labels->changes.size(); ++i) {
            const SegmentChange& change = labels->changes[i];
            out << (i == 0 ? " " : "               ")
                << format("%10.6f s  sample %-9lld %s\n", static_cast<double>(change.sample) / rate,
                          static_cast<long long>(change.sample), change.name);
        }
        if (!labels->consistent)
            out << "               (the module's streaming reports did not follow " << labels->model << ")\n";
    }
    const double cpu = result.cpuSeconds;
    const double speed = cpu > 0 ? audioSeconds / cpu : 0.0;
    out << format(
        "cpu            %.3f ms for %.6g s of audio: real-time factor %.3g (%.3gx %s than real time)\n",
        cpu * 1e3, audioSeconds, audioSeconds > 0 ? cpu / audioSeconds : 0.0,
        speed >= 1.0 || speed == 0.0 ? speed : 1.0 / speed, speed >= 1.0 ? "faster" : "slower");
}

namespace {
std::string shownPath(const std::string& path) { return path == "-" ? "standard output" : path; }
}  // namespace

void printWrittenFiles(std::ostream& out, const RenderOptions& options, SampleFormat format, size_t channels,
                       double rate, const CsvTable& table) {
    const std::string layout = channels == 1 ? "mono" : std::to_string(channels) + " channels";
    if (!options.out.empty())
        out << "wrote          " << shownPath(options.out) << " (" << formatName(format) << " WAV, " << layout
            << ", " << rate << " Hz)\n";
    if (!options.csv.empty())
        out << "wrote          " << shownPath(options.csv) << " (" << csvHeader(table) << ")\n";
    if (!options.plot.empty()) out << "wrote          " << options.plot << "\n";
}

}  // namespace kvx::render
