// SPDX-License-Identifier: MIT
// The steps of a render, from options to files and the printed report.
#include "render/run.h"

#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "render/csv.h"
#include "render/module.h"
#include "render/module_rendering.h"
#include "render/pending_files.h"
#include "render/plan.h"
#include "render/plot.h"
#include "render/profile.h"
#include "render/progress.h"
#include "render/summary.h"
#include "render/wav.h"

namespace kvx::render {

namespace {

void removeTemporariesAndDie(int signalNumber) {
    removePendingTemporariesFromSignal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// The inputs a person sets, in id order: audio inputs and parameters, not a note's parts.
std::vector<size_t> shownInputs(const RenderModule& module) {
    std::vector<size_t> shown;
    for (size_t i = 0; i < module.inputs.size(); ++i)
        if (module.inputs[i].isAudio() || module.inputs[i].role == describe::Role::Parameter)
            shown.push_back(i);
    return shown;
}

std::string scoreName(const Score& score) {
    return score.source == "default score" ? std::string("default score")
                                           : std::filesystem::path(score.source).filename().string();
}

// The figure's two lines: the settings, then the session.
std::pair<std::string, std::string> figureTitles(const RenderModule& module, const RenderPlan& plan,
                                                 const BlockSizing& sizing, const Score& score) {
    const std::string dot = TITLE_SEPARATOR;
    const std::string session =
        std::to_string(plan.rate) + " Hz, " + describeBlocks(sizing) + dot + scoreName(score);
    if (module.profile)
        if (auto titles = module.profile->figureTitles(module, plan, session)) return *titles;
    std::string title = module.description.name;
    for (size_t i : shownInputs(module)) title += dot + module.inputName(i) + " " + plan.tracks[i].text;
    return {title, "\"" + module.description.id + "\"" + dot + session};
}

}  // namespace

int run(RenderOptions options, std::ostream& out) {
    // Checked first, as the command line reads them.
    static_cast<void>(blockSizing(options));
    const SampleFormat format = parseSampleFormat(options.format);
    bool defaultOutputs = false;
    PlotFormat plotFormat = PlotFormat::Png;
    PendingFiles pending;
    std::string wavTemp, csvTemp, plotTemp;
    ProgressBar bar;
    RenderHooks hooks;
    hooks.moduleRead = [&](const RenderModule& module) {
        defaultOutputs = options.out.empty() && options.csv.empty() && options.plot.empty();
        if (defaultOutputs) {
            const std::string stem = "out/" + module.description.symbol;
            options.out = stem + ".wav";
            options.csv = stem + ".csv";
            options.plot = stem + ".png";
        }
        if (!options.plot.empty()) plotFormat = plotFormatFor(options.plot);
    };
    hooks.scoreBuilt = [](const Score& score) {
        for (const std::string& warning : score.warnings)
            std::cerr << "kvx render: warning: " << warning << "\n";
    };
    hooks.planned = [&](const RenderModule& module, const Score& score, const RenderPlan& plan) {
        if (defaultOutputs) std::filesystem::create_directories("out");
        wavTemp = options.out.empty() ? "" : pending.add(options.out);
        csvTemp = options.csv.empty() ? "" : pending.add(options.csv);
        plotTemp = options.plot.empty() ? "" : pending.add(options.plot);
        std::signal(SIGINT, removeTemporariesAndDie);
        std::signal(SIGTERM, removeTemporariesAndDie);

        out << "plug-in        " << options.plugin << "\n"
            << "module         \"" << module.description.id << "\" subtype " << module.description.subtype
            << ", " << (module.source == "built in" ? std::string("built-in description") : module.source)
            << "\n"
            << "score          " << score.source << "\n";
        for (size_t i : shownInputs(module)) {
            const std::string name = module.inputName(i);
            out << name << std::string(name.size() < 15 ? 15 - name.size() : 1, ' ') << plan.tracks[i].text
                << "\n";
        }
        out << "length         " << plan.length << " samples"
            << (plan.lengthChosen ? "" : " (" + plan.lengthRule + ")") << "\n";
        out.flush();
    };
    hooks.progress = [&bar](int64_t done, int64_t total) {
        bar.update("rendering", done, total);
        return true;
    };
    const ModuleRendering rendering = renderModuleSamples(options, hooks);
    const RenderModule& module = rendering.module;
    const RenderPlan& plan = rendering.plan;
    const SessionResult& result = rendering.result;
    const std::optional<SegmentLabels>& labels = rendering.labels;

    if (!wavTemp.empty()) writeWav(wavTemp, result.outputs, plan.rate, format);
    // One column per output, then the gate and the segment where they apply.
    CsvTable table;
    table.outputs = &result.outputs;
    table.rate = plan.rate;
    if (module.profile) table.names = module.profile->outputColumns(module);
    if (table.names.empty())
        for (const describe::PinDescription& pin : module.outputs) table.names.push_back(pin.symbol);
    if (labels) table.segments = labels->changes;
    if (rendering.hasGate) table.gates = rendering.gates;
    if (!csvTemp.empty())
        writeCsv(csvTemp, table, [&bar](int64_t done, int64_t total) { bar.update("CSV", done, total); });
    if (!plotTemp.empty()) {
        PlotData data;
        data.samples = &result.output();
        data.rate = plan.rate;
        data.gates = rendering.gates;
        data.hasGate = rendering.hasGate;
        data.marks = result.marks;
        data.sleeping = result.sleeping;
        if (labels) data.segments = labels->changes;
        std::tie(data.title, data.subtitle) = figureTitles(module, plan, rendering.sizing, rendering.score);
        writePlot(plotTemp, plotFormat, data);
    }
    bar.finish();
    pending.commit();

    printSummary(out, plan, result, labels ? &*labels : nullptr, rendering.sizing);
    printWrittenFiles(out, options, format, result.outputs.size(), plan.rate, table);
    return 0;
}

}  // namespace kvx::render
