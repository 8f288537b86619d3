// SPDX-License-Identifier: MIT
// A patch rendered as a module is: the score resolved for the patch's view, control settings
// and notes turned into the pins' values and events, the block loop through host::Patch.
#include "render/patch_render.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <limits>
#include <random>
#include <utility>

#include "describe/user_value.h"
#include "host/event_order.h"
#include "patch/patch_driver.h"
#include "render/audio_input.h"
#include "render/csv.h"
#include "render/error.h"
#include "render/instrument_render.h"
#include "render/patch_loading.h"
#include "render/patch_plot.h"
#include "render/pending_files.h"
#include "render/progress.h"
#include "render/summary.h"
#include "render/wav.h"

namespace kvx::render {

namespace {

using Kind = PatchView::Kind;
using patch::PinRef;

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void removeTemporariesAndDie(int signalNumber) {
    removePendingTemporariesFromSignal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

std::string rangeText(const describe::PinDescription& range) {
    if (range.minimum && range.maximum)
        return "from " + describe::formatUserValue(range, *range.minimum) + " to " +
               describe::formatUserValue(range, *range.maximum);
    if (range.minimum) return "of at least " + describe::formatUserValue(range, *range.minimum);
    return "of at most " + describe::formatUserValue(range, *range.maximum);
}

// A patch audio input the render writes sample by sample.
struct FedInput {
    PinRef ref;
    InputTrack track;
};

// A caller event at its absolute sample.
struct TimedEvent {
    int64_t sample;
    host::PatchEvent event;
};

// A control change or a note's start or end, played through patch::PatchDriver.
struct Played {
    enum class Kind {
        Control,
        NoteOff,
        NoteOn
    };  // at one sample in this order
    int64_t sample;
    Kind kind;
    size_t index;  // the control, or the note in the plan
    double user = 0.0;
};

// At one sample: control changes, note ends, then note starts, so that a note that ends where the
// next begins (in whatever order the score lists them) retriggers.
void sortPlayed(std::vector<Played>& played) {
    std::stable_sort(played.begin(), played.end(), [](const Played& a, const Played& b) {
        return a.sample != b.sample ? a.sample < b.sample : a.kind < b.kind;
    });
}

std::vector<Played> playedNotes(const RenderPlan& plan) {
    std::vector<Played> played;
    for (size_t n = 0; n < plan.notes.size(); ++n) {
        played.push_back(Played{plan.notes[n].on, Played::Kind::NoteOn, n});
        if (plan.notes[n].off != NO_OFF)
            played.push_back(Played{plan.notes[n].off, Played::Kind::NoteOff, n});
    }
    sortPlayed(played);
    return played;
}

// Where the patch's gate is true, by the rule patch::PatchDriver plays notes by: the end of a
// note that another has replaced changes nothing.
std::vector<StreamSpan> patchGateSpans(const RenderPlan& plan) {
    std::vector<ScheduledEvent> gate;
    int64_t sounding = -1;
    for (const Played& item : playedNotes(plan)) {
        if (item.sample >= plan.length) break;
        if (item.kind == Played::Kind::NoteOn) {
            sounding = static_cast<int64_t>(item.index);
            gate.push_back(ScheduledEvent{item.sample, EV_PIN_VALUE, 0, 1.0f});
        } else if (static_cast<int64_t>(item.index) == sounding) {
            sounding = -1;
            gate.push_back(ScheduledEvent{item.sample, EV_PIN_VALUE, 0, 0.0f});
        }
    }
    return gateSpans(gate, plan.length, 0);
}

host::PatchPin& graphPin(host::PatchGraph& graph, const PinRef& ref) {
    for (host::PatchPin& pin : graph.modules[static_cast<size_t>(ref.module)].pins)
        if (pin.id == ref.pin) return pin;
    throw RenderError("the patch has no pin " + std::to_string(ref.pin) + " of its module " +
                      std::to_string(ref.module));
}

// What the render sends a patch: the controls held from the start, the audio inputs' first
// values (in `graph`) and signals with their streaming, and what the driver plays.
class PatchDrive {
public:
    PatchDrive(const patch::PatchFile& patch, const PatchView& view, const Score& score,
               const RenderPlan& plan)
        : graph(patch.graph) {
        for (size_t i = 0; i < view.inputs.size(); ++i) {
            const PatchView::Input& input = view.inputs[i];
            if (input.kind == Kind::Control) {
                const patch::Control& control = patch.controls[input.index];
                const ParameterSpec given = score.parameters[i].value_or(describedDefault(control.range));
                held.emplace_back(input.index, controlUserValue(given, control, plan.rate));
            } else if (input.kind == Kind::AudioInput) {
                const PinRef ref = patch.inputs[input.index];
                graphPin(graph, ref).initial = plan.tracks[i].valueAt(0);
                fed.push_back(FedInput{ref, plan.tracks[i]});
            }
        }
        for (const ScoreEvent& event : score.events) {
            const PatchView::Input& input = view.inputs[event.input];
            if (input.kind != Kind::Control)
                throw RenderError(event.field + ": the notes are played by the score's \"notes\"");
            played.push_back(Played{toSamples(event.at, plan.rate), Played::Kind::Control, input.index,
                                    controlUserValue(event.value, patch.controls[input.index], plan.rate)});
        }
        const std::vector<Played> notes = playedNotes(plan);
        played.insert(played.end(), notes.begin(), notes.end());
        sortPlayed(played);
        for (const FedInput& input : fed)
            for (const StreamSpan& span : streamSpans(input.track)) {
                add(span.begin, input.ref, EV_STREAM_BEGIN, plan.length);
                add(span.end, input.ref, EV_STREAM_END, plan.length);
            }
        std::stable_sort(events.begin(), events.end(),
                         [](const TimedEvent& a, const TimedEvent& b) { return a.sample < b.sample; });
    }

    host::PatchGraph graph;                       // with the audio inputs' first values
    std::vector<std::pair<size_t, double>> held;  // control, user value from the start
    std::vector<FedInput> fed;
    std::vector<TimedEvent> events;  // the fed inputs' streaming, in time order
    std::vector<Played> played;      // in the order played

private:
    void add(int64_t sample, const PinRef& ref, int32_t type, int64_t length) {
        if (sample < length)
            events.push_back(TimedEvent{
                sample, host::PatchEvent{ref.module, 0, type, ref.pin, 0.0f, host::EventRank::Stream}});
    }
};

void extend(std::vector<StreamSpan>& spans, int64_t begin, int64_t end) {
    if (!spans.empty() && spans.back().end == begin)
        spans.back().end = end;
    else
        spans.push_back(StreamSpan{begin, end});
}

}  // namespace

void printPatchSummary(std::ostream& out, const patch::PatchFile& patch, const RenderPlan& plan,
                       const PatchSessionResult& result, const BlockSizing& sizing) {
    char line[256];
    const double seconds = static_cast<double>(result.samples) / plan.rate;
    std::snprintf(line, sizeof line, "samples        %lld (%.6g s at %d Hz)\n",
                  static_cast<long long>(result.samples), seconds, plan.rate);
    out << line;
    std::snprintf(line, sizeof line, "blocks         %lld, %s\n", static_cast<long long>(result.stats.blocks),
                  describeBlocks(sizing).c_str());
    out << line;
    for (size_t m = 0; m < result.modules.size(); ++m) {
        const host::PatchModuleStats& stats = result.modules[m];
        const std::string name = patch.graph.modules[m].name;
        std::snprintf(line, sizeof line,
                      "%-14s called in %lld blocks, slept through %lld; %lld sleep requests\n", name.c_str(),
                      static_cast<long long>(stats.blocksCalled),
                      static_cast<long long>(result.stats.blocks - stats.blocksCalled),
                      static_cast<long long>(stats.sleepRequests));
        out << line;
    }
    const Peak peak = findPeak(result.outputs.front());
    std::snprintf(line, sizeof line, "peak           %.9g at %.6f s (sample %lld)\n",
                  static_cast<double>(peak.level), static_cast<double>(peak.sample) / plan.rate,
                  static_cast<long long>(peak.sample));
    out << line;
    const double speed = result.cpuSeconds > 0 ? seconds / result.cpuSeconds : 0.0;
    std::snprintf(
        line, sizeof line,
        "cpu            %.3f ms for %.6g s of audio: real-time factor %.3g (%.3gx %s than real time)\n",
        result.cpuSeconds * 1e3, seconds, seconds > 0 ? result.cpuSeconds / seconds : 0.0,
        speed >= 1.0 || speed == 0.0 ? speed : 1.0 / speed, speed >= 1.0 ? "faster" : "slower");
    out << line;
}


PatchView patchView(const patch::PatchFile& patch) {
    PatchView view;
    RenderModule& module = view.module;
    module.description.id = patch.name;
    module.description.name = patch.name;
    module.description.symbol = patchFileStem(patch.graph.source);
    module.source = patch.graph.source;
    auto addInput = [&](describe::PinDescription pin, Kind kind, size_t index) {
        pin.id = static_cast<int32_t>(module.inputs.size());
        pin.direction = describe::Direction::In;
        module.inputs.push_back(std::move(pin));
        view.inputs.push_back(PatchView::Input{kind, index});
    };
    for (size_t i = 0; i < patch.controls.size(); ++i) addInput(patch.controls[i].range, Kind::Control, i);
    for (size_t i = 0; i < patch.inputs.size(); ++i) {
        describe::PinDescription pin = patch.pin(patch.inputs[i]);
        pin.symbol = patch.pinName(patch.inputs[i]);
        addInput(std::move(pin), Kind::AudioInput, i);
    }
    if (!patch.notes.empty()) {
        describe::PinDescription gate;
        gate.symbol = gate.name = "notes";
        gate.datatype = describe::Datatype::Bool;
        gate.role = describe::Role::Gate;
        gate.defaultValue = 0.0;
        addInput(std::move(gate), Kind::NoteGate, 0);
    }
    for (const host::PatchOutput& output : patch.graph.outputs) {
        describe::PinDescription pin;
        pin.id = static_cast<int32_t>(module.inputs.size() + module.outputs.size());
        pin.symbol = pin.name = output.name;
        pin.direction = describe::Direction::Out;
        module.outputs.push_back(std::move(pin));
    }
    module.description.pins = module.inputs;
    module.description.pins.insert(module.description.pins.end(), module.outputs.begin(),
                                   module.outputs.end());
    return view;
}

double controlUserValue(const ParameterSpec& given, const patch::Control& control, double sampleRate) {
    const describe::PinDescription& range = control.range;
    double user = given.raw;
    if (given.unit == ValueUnit::Time)
        user = toSeconds(given.duration, sampleRate) *
               (range.unit == describe::Unit::Milliseconds ? 1000.0 : 1.0);
    if (range.datatype != describe::Datatype::Bool &&
        ((range.minimum && user < *range.minimum) || (range.maximum && user > *range.maximum)))
        throw RenderError("control '" + control.name + "': expected a value " + rangeText(range) + ", got " +
                          describe::formatUserValue(range, user));
    return user;
}

namespace {

// A change of state only; of two at one sample (graph start's "moving", then the module's
// "constant" at its first sample) the later stands.
void addStreamMark(std::vector<StreamMark>& marks, StreamMark mark) {
    if (!marks.empty() && marks.back().sample == mark.sample) marks.pop_back();
    if (marks.empty() || marks.back().streaming != mark.streaming) marks.push_back(mark);
}

}  // namespace

PatchSessionResult runPatchSession(const patch::PatchFile& patch, const PatchView& view, const Score& score,
                                   const RenderPlan& plan, const BlockSizing& sizing,
                                   const ProgressCallback& progress) {
    const PatchDrive drive(patch, view, score, plan);
    patch::PatchDriver driver(patch, 0);
    // Room for everything in one block.
    const int64_t most = static_cast<int64_t>(drive.played.size()) * driver.mostPerCall() +
                         static_cast<int64_t>(drive.events.size()) + driver.mostStreamEnds() + 1;
    if (most > std::numeric_limits<int32_t>::max() / 2)
        throw RenderError("too many notes and changes to render");
    driver.reserve(static_cast<int32_t>(most));
    host::PatchLimits limits;
    limits.eventsPerBlock = std::max<int32_t>(limits.eventsPerBlock, static_cast<int32_t>(most));
    host::Patch engine(drive.graph, static_cast<float>(plan.rate), sizing.largest(), limits);
    driver.bind(engine);
    for (const auto& [control, user] : drive.held) driver.holdControl(control, user);

    PatchSessionResult result;
    const size_t length = static_cast<size_t>(plan.length);
    result.outputs.assign(patch.graph.outputs.size(), std::vector<float>(length));
    for (size_t m = 0; m < patch.graph.modules.size(); ++m)
        for (const host::PatchPin& pin : patch.graph.modules[m].pins)
            if (pin.kind == host::PatchPinKind::AudioOut)
                result.tracks.push_back(ModuleTrack{static_cast<int32_t>(m), pin.id,
                                                    patch.pinName(PinRef{static_cast<int32_t>(m), pin.id}),
                                                    std::vector<float>(length), {}});
    result.sleeping.resize(patch.graph.modules.size());
    std::vector<float*> fedBuffers;
    for (const FedInput& input : drive.fed)
        fedBuffers.push_back(engine.input(input.ref.module, input.ref.pin));
    std::vector<int64_t> calledBefore(patch.graph.modules.size());
    std::mt19937 generator(sizing.seed);

    const double cpuStart = processCpuSeconds();
    size_t next = 0, nextPlayed = 0;
    int64_t position = 0;
    int64_t blocksSinceReport = 0;
    while (position < plan.length) {
        int32_t count =
            sizing.random ? 1 + static_cast<int32_t>(generator() % BlockSizing::MAX_RANDOM) : sizing.size;
        count = static_cast<int32_t>(std::min<int64_t>(count, plan.length - position));
        const int64_t end = position + count;
        driver.beginBlock(position);
        for (; nextPlayed < drive.played.size() && drive.played[nextPlayed].sample < end; ++nextPlayed) {
            const Played& item = drive.played[nextPlayed];
            const auto frame = static_cast<int32_t>(item.sample - position);
            const auto note = static_cast<int32_t>(item.index);
            if (item.kind == Played::Kind::Control)
                driver.setControl(frame, item.index, item.user);
            else if (item.kind == Played::Kind::NoteOff)
                driver.noteOff(frame, note);
            else
                driver.noteOn(frame, note, plan.notes[item.index].key, plan.notes[item.index].velocity);
        }
        for (; next < drive.events.size() && drive.events[next].sample < end; ++next) {
            host::PatchEvent event = drive.events[next].event;
            event.timestamp = static_cast<int32_t>(drive.events[next].sample - position);
            driver.add(event);
        }
        for (size_t k = 0; k < drive.fed.size(); ++k) {
            const InputTrack& track = drive.fed[k].track;
            if (track.constant()) continue;  // the engine's buffer holds the value
            for (int32_t i = 0; i < count; ++i) fedBuffers[k][i] = track.valueAt(position + i);
        }
        for (size_t m = 0; m < calledBefore.size(); ++m)
            calledBefore[m] = engine.moduleStats(static_cast<int32_t>(m)).blocksCalled;

        engine.runBlock(count, driver.endBlock(count));

        for (size_t k = 0; k < result.outputs.size(); ++k)
            std::copy_n(engine.output(k), count, result.outputs[k].begin() + position);
        for (ModuleTrack& track : result.tracks) {
            std::copy_n(engine.output(track.module, track.pin), count, track.samples.begin() + position);
            for (const host::StreamChange& change : engine.streamChanges(track.module, track.pin))
                addStreamMark(track.marks, StreamMark{position + change.time, change.streaming});
        }
        for (size_t m = 0; m < calledBefore.size(); ++m)
            if (engine.moduleStats(static_cast<int32_t>(m)).blocksCalled == calledBefore[m])
                extend(result.sleeping[m], position, end);
        position = end;
        if (progress && ++blocksSinceReport >= 256) {
            blocksSinceReport = 0;
            if (!progress(position, plan.length)) {
                result.stopped = true;
                break;
            }
        }
    }
    result.cpuSeconds = processCpuSeconds() - cpuStart;
    result.samples = position;
    result.stats = engine.stats();
    for (size_t m = 0; m < patch.graph.modules.size(); ++m)
        result.modules.push_back(engine.moduleStats(static_cast<int32_t>(m)));
    return result;
}

namespace {

void refuseModuleChoice(const RenderOptions& options) {
    if (!options.id.empty() || options.subtype != 0 || !options.describe.empty())
        throw RenderError(
            "--id, --subtype and --describe choose a library's module; a patch names its modules itself");
}

}  // namespace

PatchRendering renderPatchSamples(const RenderOptions& options, const patch::PatchFile& patch,
                                  const RenderHooks& hooks) {
    refuseModuleChoice(options);
    PatchRendering rendering;
    rendering.sizing = blockSizing(options);
    rendering.view = patchView(patch);
    const PatchView& view = rendering.view;
    const RenderModule& module = view.module;
    for (const std::string& text : options.settings) {
        const size_t index = module.inputIndex(text.substr(0, text.find('=')));
        if (index != RenderModule::NONE && view.inputs[index].kind == Kind::NoteGate)
            throw RenderError("--set " + text +
                              ": the notes are played with --note or the score's \"notes\"");
    }
    if (hooks.moduleRead) hooks.moduleRead(module);

    rendering.score = buildScore(options, module);
    Score& score = rendering.score;
    if (hooks.scoreBuilt) hooks.scoreBuilt(score);
    const size_t gate = module.roleIndex(describe::Role::Gate);
    // Without a score, a patch that plays notes plays one, a second long.
    if (options.score.empty() && options.scoreText.empty() && options.notes.empty() && gate != RenderModule::NONE) {
        ScoreNote note;
        note.on = TimeSpec{};
        note.off = TimeSpec{1.0, TimeUnit::Seconds, true};
        note.field = "notes[0]";
        score.notes = {note};
    }
    const AudioInputs files = readAudioInputs(score);
    rendering.plan = resolvePlan(score, sampleRate(options, score, files), module, files);
    const RenderPlan& plan = rendering.plan;
    if (hooks.planned) hooks.planned(module, score, plan);

    rendering.result = runPatchSession(patch, view, score, plan, rendering.sizing, hooks.progress);
    rendering.hasGate = gate != RenderModule::NONE;
    if (rendering.hasGate) rendering.gates = patchGateSpans(plan);
    return rendering;
}

int runPatch(RenderOptions options, const patch::PatchFile& patch, std::ostream& out) {
    if (!options.midi.empty()) return runInstrument(std::move(options), patch, out);
    // Checked first, as the command line reads them.
    refuseModuleChoice(options);
    static_cast<void>(blockSizing(options));
    const SampleFormat format = parseSampleFormat(options.format);
    const PatchView view = patchView(patch);
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

        out << "patch          " << options.plugin << "\n"
            << "name           " << patch.name << "\n"
            << "modules       ";
        for (size_t m = 0; m < patch.graph.modules.size(); ++m)
            out << (m == 0 ? " " : ", ") << patch.graph.modules[m].name << " (\""
                << patch.modules[m].description.id << "\")";
        out << "\n"
            << "score          " << score.source << "\n";
        for (size_t i = 0; i < module.inputs.size(); ++i) {
            if (view.inputs[i].kind == Kind::NoteGate) continue;
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
    const PatchRendering rendering = renderPatchSamples(options, patch, hooks);
    const RenderModule& module = rendering.view.module;
    const RenderPlan& plan = rendering.plan;
    const PatchSessionResult& result = rendering.result;
    const BlockSizing& sizing = rendering.sizing;
    const Score& score = rendering.score;
    const std::vector<StreamSpan>& gates = rendering.gates;
    if (!wavTemp.empty()) writeWav(wavTemp, result.outputs, plan.rate, format);
    CsvTable table;
    table.outputs = &result.outputs;
    table.rate = plan.rate;
    for (const describe::PinDescription& pin : module.outputs) table.names.push_back(pin.symbol);
    if (rendering.hasGate) table.gates = gates;
    if (!csvTemp.empty())
        writeCsv(csvTemp, table, [&bar](int64_t done, int64_t total) { bar.update("CSV", done, total); });
    if (!plotTemp.empty()) {
        PatchPlotData data;
        data.rate = plan.rate;
        data.gates = gates;
        data.hasGate = rendering.hasGate;
        for (const ModuleTrack& track : result.tracks)
            data.tracks.push_back(
                PlotTrack{track.name, &track.samples, result.sleeping[static_cast<size_t>(track.module)]});
        data.title = patch.name;
        data.subtitle =
            std::filesystem::path(options.plugin).filename().string() + TITLE_SEPARATOR +
            std::to_string(plan.rate) + " Hz, " + describeBlocks(sizing) + TITLE_SEPARATOR +
            (score.source == "default score" ? score.source
                                             : std::filesystem::path(score.source).filename().string());
        writePatchPlot(plotTemp, plotFormat, data);
    }
    bar.finish();
    pending.commit();

    printPatchSummary(out, patch, plan, result, sizing);
    printWrittenFiles(out, options, format, result.outputs.size(), plan.rate, table);
    return 0;
}

}  // namespace kvx::render
