// SPDX-License-Identifier: MIT
// The steps of a render, from options to files and the printed report.
#include "render/run.h"

#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "describe/description_reader.h"
#include "describe/library_agreement.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "render/audio_input.h"
#include "render/csv.h"
#include "render/error.h"
#include "render/module.h"
#include "render/pending_files.h"
#include "render/plan.h"
#include "render/plot.h"
#include "render/profile.h"
#include "render/progress.h"
#include "render/schedule.h"
#include "render/segments.h"
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
    const BlockSizing sizing = blockSizing(options);
    const SampleFormat format = parseSampleFormat(options.format);
    // The library is loaded and the module created first: a description that contradicts the
    // library is refused before anything else is read from it.
    std::optional<host::PluginLibrary> library;
    std::optional<host::PluginInstance> created;
    auto vet = [&](const describe::ModuleDescription& described, const std::string& source) {
        library.emplace(options.plugin);
        try {
            created.emplace(*library, host::toUtf16(described.id), described.subtype);
        } catch (const host::HostError& error) {
            if (source != "built in") throw;
            throw RenderError(
                std::string(error.what()) + "; without a description (" +
                std::filesystem::path(describe::descriptionPathFor(options.plugin)).filename().string() +
                ") only \"" + described.id + "\" can be rendered");
        }
        const std::string refused =
            describe::refusal(describe::checkAgainstLibrary(*library, described), source);
        if (!refused.empty()) throw RenderError(refused);
    };
    const RenderModule module =
        moduleForRender(options.plugin, options.describe, options.id, options.subtype, vet);
    const bool defaultOutputs = options.out.empty() && options.csv.empty() && options.plot.empty();
    if (defaultOutputs) {
        const std::string stem = "out/" + module.description.symbol;
        options.out = stem + ".wav";
        options.csv = stem + ".csv";
        options.plot = stem + ".png";
    }
    const PlotFormat plotFormat = options.plot.empty() ? PlotFormat::Png : plotFormatFor(options.plot);

    const Score score = buildScore(options, module);
    for (const std::string& warning : score.warnings) std::cerr << "kvx render: warning: " << warning << "\n";
    for (const ScoreNote& note : score.notes)
        if (note.key || note.velocity)
            throw RenderError((note.field.starts_with("--") ? "" : score.source + ": ") + note.field +
                              ": a key and a velocity are a patch's; a module's notes play its gate");
    const AudioInputs files = readAudioInputs(score);
    const RenderPlan plan = resolvePlan(score, sampleRate(options, score, files), module, files);

    host::PluginInstance& instance = *created;

    if (defaultOutputs) std::filesystem::create_directories("out");
    PendingFiles pending;
    const std::string wavTemp = options.out.empty() ? "" : pending.add(options.out);
    const std::string csvTemp = options.csv.empty() ? "" : pending.add(options.csv);
    const std::string plotTemp = options.plot.empty() ? "" : pending.add(options.plot);
    std::signal(SIGINT, removeTemporariesAndDie);
    std::signal(SIGTERM, removeTemporariesAndDie);

    out << "plug-in        " << options.plugin << "\n"
        << "module         \"" << module.description.id << "\" subtype " << module.description.subtype << ", "
        << (module.source == "built in" ? std::string("built-in description") : module.source) << "\n"
        << "score          " << score.source << "\n";
    for (size_t i : shownInputs(module)) {
        const std::string name = module.inputName(i);
        out << name << std::string(name.size() < 15 ? 15 - name.size() : 1, ' ') << plan.tracks[i].text
            << "\n";
    }
    out << "length         " << plan.length << " samples"
        << (plan.lengthChosen ? "" : " (" + plan.lengthRule + ")") << "\n";
    out.flush();

    const std::vector<ScheduledEvent> events = scheduleEvents(plan, module);
    ProgressBar bar;
    const SessionResult result =
        runSession(instance, module, plan, events, sizing, [&bar](int64_t done, int64_t total) {
            bar.update("rendering", done, total);
            return true;
        });
    const size_t gate = module.roleIndex(describe::Role::Gate);
    const std::vector<StreamSpan> gates =
        gateSpans(events, plan.length, gate == RenderModule::NONE ? -1 : module.inputs[gate].id);
    const std::optional<SegmentLabels> labels =
        module.profile ? module.profile->segments(module, events, result.marks) : std::nullopt;

    if (!wavTemp.empty()) writeWav(wavTemp, result.outputs, plan.rate, format);
    // One column per output, then the gate and the segment where they apply.
    CsvTable table;
    table.outputs = &result.outputs;
    table.rate = plan.rate;
    if (module.profile) table.names = module.profile->outputColumns(module);
    if (table.names.empty())
        for (const describe::PinDescription& pin : module.outputs) table.names.push_back(pin.symbol);
    if (labels) table.segments = labels->changes;
    if (gate != RenderModule::NONE) table.gates = gates;
    if (!csvTemp.empty())
        writeCsv(csvTemp, table, [&bar](int64_t done, int64_t total) { bar.update("CSV", done, total); });
    if (!plotTemp.empty()) {
        PlotData data;
        data.samples = &result.output();
        data.rate = plan.rate;
        data.gates = gates;
        data.hasGate = gate != RenderModule::NONE;
        data.marks = result.marks;
        data.sleeping = result.sleeping;
        if (labels) data.segments = labels->changes;
        std::tie(data.title, data.subtitle) = figureTitles(module, plan, sizing, score);
        writePlot(plotTemp, plotFormat, data);
    }
    bar.finish();
    pending.commit();

    printSummary(out, plan, result, labels ? &*labels : nullptr, sizing);
    printWrittenFiles(out, options, format, result.outputs.size(), plan.rate, table);
    return 0;
}

}  // namespace kvx::render
