// kvx render: drives "KV ADSR4" through the host library as a host would and writes the envelope
// as audio (WAV), data (CSV) and a figure (PNG/SVG), then reports what happened.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "modules/adsr/adsr_pins.h"
#include "tools/commands.h"
#include "tools/render_csv.h"
#include "tools/render_error.h"
#include "tools/render_pending_files.h"
#include "tools/render_plan.h"
#include "tools/render_plot.h"
#include "tools/render_progress.h"
#include "tools/render_schedule.h"
#include "tools/render_score.h"
#include "tools/render_segments.h"
#include "tools/render_session.h"
#include "tools/render_summary.h"
#include "tools/render_wav.h"
#include "tools/tool_paths.h"

namespace kvx::tool {

namespace {

// The flags as typed; units are parsed by the render itself so that every mistake gets the
// same kind of message.
struct RenderOptions {
    std::string plugin;
    std::string out, csv, plot;
    std::string format = "float";
    std::string rate, length, block = "64", seed = "1", score;
    std::array<std::string, PARAMETER_COUNT> parameters;
    std::vector<std::string> notes, resets;
};

constexpr int32_t MAX_RATE = 768000;
constexpr int32_t MAX_BLOCK = 65536;

int64_t wholeNumber(const std::string& text, int64_t low, int64_t high, const std::string& what) {
    double value = 0.0;
    if (!parseNumber(text, value) || value != std::floor(value) || value < static_cast<double>(low) ||
        value > static_cast<double>(high))
        throw RenderError(what + ": expected a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", got '" + text + "'");
    return static_cast<int64_t>(value);
}

BlockSizing blockSizing(const RenderOptions& options) {
    BlockSizing sizing;
    sizing.seed = static_cast<uint32_t>(wholeNumber(options.seed, 0, 4294967295LL, "--seed"));
    if (options.block == "random") {
        sizing.random = true;
        return sizing;
    }
    sizing.size = static_cast<int32_t>(wholeNumber(options.block, 1, MAX_BLOCK, "--block (or 'random')"));
    return sizing;
}

// The score to render: the file or the embedded default, parameters it leaves out taken from the
// default, and every flag laid over it.
Score buildScore(const RenderOptions& options) {
    const Score fallback = defaultScore();
    Score score = options.score.empty() ? fallback : loadScore(options.score);
    for (size_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (!options.parameters[i].empty()) {
            const std::string flag = "--" + std::string(PARAMETERS[i].name);
            score.parameters[i] = parseParameter(options.parameters[i], PARAMETERS[i].kind, flag);
            score.automation[i].clear();
        } else if (!score.parameters[i] && score.automation[i].empty()) {
            score.parameters[i] = fallback.parameters[i];
        }
    }
    if (!options.notes.empty()) {
        score.notes.clear();
        for (const std::string& text : options.notes) {
            const std::string flag = "--note " + text;
            const size_t colon = text.find(':');
            if (colon == std::string::npos)
                throw RenderError(flag + ": expected ON:OFF, e.g. 0:1.2s or 0:500ms");
            ScoreNote note;
            note.field = flag;
            note.on = parseTime(text.substr(0, colon), flag);
            if (colon + 1 < text.size()) note.off = parseTime(text.substr(colon + 1), flag);
            score.notes.push_back(note);
        }
    }
    if (!options.resets.empty()) {
        score.resets.clear();
        for (const std::string& text : options.resets)
            score.resets.push_back(ScoreReset{parseTime(text, "--reset " + text), "--reset " + text});
    }
    if (!options.length.empty()) {
        score.length = parseTime(options.length, "--length");
        score.lengthField = "--length";
    }
    return score;
}

int32_t sampleRate(const RenderOptions& options, const Score& score) {
    if (!options.rate.empty()) return static_cast<int32_t>(wholeNumber(options.rate, 1, MAX_RATE, "--rate"));
    if (score.rate) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", *score.rate);
        return static_cast<int32_t>(wholeNumber(text, 1, MAX_RATE, score.source + ": rate"));
    }
    return 48000;
}

void removeTemporariesAndDie(int signalNumber) {
    removePendingTemporariesFromSignal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

std::string settingsTitle(const RenderPlan& plan) {
    std::string title = "KV ADSR4";
    for (size_t i = 0; i < 4; ++i)
        title += "  \xC2\xB7  " + std::string(PARAMETERS[i].name) + " " + plan.tracks[i].text;
    return title;
}

std::string sessionLine(const RenderPlan& plan, const BlockSizing& sizing, const Score& score) {
    std::string line = "curves: attack " + plan.tracks[4].text + ", decay " + plan.tracks[5].text +
                       ", release " + plan.tracks[6].text;
    line += "  \xC2\xB7  " + std::to_string(plan.rate) + " Hz, " + describeBlocks(sizing) + "  \xC2\xB7  " +
            (score.source == "default score" ? std::string("default score")
                                             : std::filesystem::path(score.source).filename().string());
    return line;
}

int runRender(RenderOptions options) {
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

    std::cout << "plug-in        " << options.plugin << "\nscore          " << score.source << "\n";
    for (size_t i = 0; i < PARAMETER_COUNT; ++i)
        std::cout << std::string(PARAMETERS[i].name) << std::string(15 - PARAMETERS[i].name.size(), ' ')
                  << plan.tracks[i].text << "\n";
    std::cout << "length         " << plan.length << " samples"
              << (plan.lengthChosen ? "" : " (last event + release)") << "\n";
    std::cout.flush();

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

    printSummary(std::cout, plan, result, labels, sizing);
    if (!options.out.empty())
        std::cout << "wrote          " << options.out << " (" << formatName(format) << " WAV, mono, "
                  << plan.rate << " Hz)\n";
    if (!options.csv.empty())
        std::cout << "wrote          " << options.csv << " (sample,time_s,level,gate,segment)\n";
    if (!options.plot.empty()) std::cout << "wrote          " << options.plot << "\n";
    return 0;
}

}  // namespace

void addRenderCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<RenderOptions>();
    options->plugin = defaultPluginPath();
    CLI::App* command = app.add_subcommand(
        "render", "Render the envelope to WAV, CSV and a plot (default: out/adsr.wav, .csv, .png)");
    command->add_option("plugin", options->plugin, "Module library (.kvx)")->capture_default_str();
    command->add_option("--out", options->out, "WAV file to write");
    command->add_option("--csv", options->csv, "CSV file to write: sample,time_s,level,gate,segment");
    command->add_option("--plot", options->plot, "Figure to write (.png or .svg)");
    command->add_option("--format", options->format, "WAV samples: float, pcm16 or pcm24")
        ->capture_default_str();
    command->add_option("--score", options->score, "JSON score: notes, resets, parameters, automation");
    for (size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETERS[i];
        const char* help =
            info.kind == ParameterKind::Time
                ? "Pin value (plain number) or full-scale duration (120ms, 1.5s)"
                : (info.kind == ParameterKind::Level ? "Sustain level (1.0 full scale)"
                                                     : "Curve (>0 decelerating, <0 accelerating)");
        command->add_option("--" + std::string(info.name), options->parameters[i], help);
    }
    command->add_option("--note", options->notes, "ON:OFF gate times (repeatable), units s, ms or smp")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--reset", options->resets, "Reset time (repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--length", options->length, "Render length (default: the score's)");
    command->add_option("--rate", options->rate, "Sample rate in Hz (default 48000)");
    command->add_option("--block", options->block, "Block size, or 'random' for 1..512")
        ->capture_default_str();
    command->add_option("--seed", options->seed, "Seed for --block random")->capture_default_str();
    command->footer(std::string("Default score:\n") + defaultScoreText());
    command->callback([options, &exitStatus] {
        try {
            exitStatus = runRender(*options);
        } catch (const RenderError& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const host::HostError& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        } catch (const std::filesystem::filesystem_error& error) {
            std::cerr << "kvx render: " << error.what() << "\n";
            exitStatus = 1;
        }
    });
}

}  // namespace kvx::tool
