// The steps of a render, from options to files and the printed report.
#include "tools/render/run.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "modules/adsr/adsr_pins.h"
#include "tools/render/csv.h"
#include "tools/render/pending_files.h"
#include "tools/render/plan.h"
#include "tools/render/plot.h"
#include "tools/render/progress.h"
#include "tools/render/schedule.h"
#include "tools/render/segments.h"
#include "tools/render/summary.h"
#include "tools/render/wav.h"

namespace kvx::render {

namespace {

void removeTemporariesAndDie(int signalNumber) {
    removePendingTemporariesFromSignal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// The figure's first line: the four envelope settings.
std::string settingsTitle(const RenderPlan& plan) {
    std::string title = "KV ADSR4";
    for (size_t i = 0; i < 4; ++i)
        title += "  \xC2\xB7  " + std::string(PARAMETERS[i].name) + " " + plan.tracks[i].text;
    return title;
}

// The figure's second line: curves, rate, blocks and where the score came from.
std::string sessionLine(const RenderPlan& plan, const BlockSizing& sizing, const Score& score) {
    std::string line = "curves: attack " + plan.tracks[4].text + ", decay " + plan.tracks[5].text +
                       ", release " + plan.tracks[6].text;
    line += "  \xC2\xB7  " + std::to_string(plan.rate) + " Hz, " + describeBlocks(sizing) + "  \xC2\xB7  " +
            (score.source == "default score" ? std::string("default score")
                                             : std::filesystem::path(score.source).filename().string());
    return line;
}

}  // namespace

int run(RenderOptions options, std::ostream& out) {
    const BlockSizing sizing = blockSizing(options);
    const SampleFormat format = parseSampleFormat(options.format);
    const bool defaultOutputs = options.out.empty() && options.csv.empty() && options.plot.empty();
    if (defaultOutputs) {
        options.out = "out/adsr.wav";
        options.csv = "out/adsr.csv";
        options.plot = "out/adsr.png";
    }
    const PlotFormat plotFormat = options.plot.empty() ? PlotFormat::Png : plotFormatFor(options.plot);

    const Score score = buildScore(options);
    const RenderPlan plan = resolvePlan(score, sampleRate(options, score));

    host::PluginLibrary library(options.plugin);
    host::PluginInstance instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE);

    if (defaultOutputs) std::filesystem::create_directories("out");
    PendingFiles files;
    const std::string wavTemp = options.out.empty() ? "" : files.add(options.out);
    const std::string csvTemp = options.csv.empty() ? "" : files.add(options.csv);
    const std::string plotTemp = options.plot.empty() ? "" : files.add(options.plot);
    std::signal(SIGINT, removeTemporariesAndDie);
    std::signal(SIGTERM, removeTemporariesAndDie);

    out << "plug-in        " << options.plugin << "\nscore          " << score.source << "\n";
    for (size_t i = 0; i < PARAMETER_COUNT; ++i)
        out << std::string(PARAMETERS[i].name) << std::string(15 - PARAMETERS[i].name.size(), ' ')
            << plan.tracks[i].text << "\n";
    out << "length         " << plan.length << " samples"
        << (plan.lengthChosen ? "" : " (last event + release)") << "\n";
    out.flush();

    const std::vector<ScheduledEvent> events = scheduleEvents(plan);
    ProgressBar bar;
    const SessionResult result =
        runSession(instance, plan, events, sizing, [&bar](int64_t done, int64_t total) {
            bar.update("rendering", done, total);
            return true;
        });
    const SegmentLabels labels = labelSegments(events, result.marks);
    const std::vector<StreamSpan> gates = gateSpans(events, plan.length);

    if (!wavTemp.empty()) writeWav(wavTemp, result.output, plan.rate, format);
    if (!csvTemp.empty())
        writeCsv(csvTemp, result.output, plan.rate, gates, labels.changes,
                 [&bar](int64_t done, int64_t total) { bar.update("CSV", done, total); });
    if (!plotTemp.empty()) {
        PlotData data;
        data.samples = &result.output;
        data.rate = plan.rate;
        data.gates = gates;
        data.marks = result.marks;
        data.sleeping = result.sleeping;
        data.segments = labels.changes;
        data.title = settingsTitle(plan);
        data.subtitle = sessionLine(plan, sizing, score);
        writePlot(plotTemp, plotFormat, data);
    }
    bar.finish();
    files.commit();

    printSummary(out, plan, result, labels, sizing);
    if (!options.out.empty())
        out << "wrote          " << options.out << " (" << formatName(format) << " WAV, mono, " << plan.rate
            << " Hz)\n";
    if (!options.csv.empty())
        out << "wrote          " << options.csv << " (sample,time_s,level,gate,segment)\n";
    if (!options.plot.empty()) out << "wrote          " << options.plot << "\n";
    return 0;
}

}  // namespace kvx::render
