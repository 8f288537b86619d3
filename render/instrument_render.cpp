// SPDX-License-Identifier: MIT
// Rendering a MIDI file through a patch's voices.
#include "render/instrument_render.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "describe/user_value.h"
#include "patch/patch_instrument.h"
#include "render/csv.h"
#include "render/error.h"
#include "render/patch_plot.h"
#include "render/patch_render.h"
#include "render/pending_files.h"
#include "render/plot.h"
#include "render/summary.h"
#include "render/units.h"
#include "render/wav.h"

namespace kvx::render {

double longestReleaseSeconds(const patch::PatchFile& patch) {
    double longest = 0.0;
    for (size_t m = 0; m < patch.graph.modules.size(); ++m)
        for (const host::PatchPin& pin : patch.graph.modules[m].pins) {
            const describe::PinDescription* described = patch.modules[m].description.pinById(pin.id);
            if (described == nullptr || described->symbol != "release") continue;
            const double user = describe::userValueFor(*described, pin.initial);
            if (described->unit == describe::Unit::Seconds) longest = std::max(longest, user);
            if (described->unit == describe::Unit::Milliseconds) longest = std::max(longest, user / 1000.0);
        }
    return longest;
}

namespace {
constexpr size_t EVENTS_PER_BLOCK = 512;  // host::InstrumentLimits' default
}  // namespace

std::vector<std::vector<float>> renderInstrument(const patch::PatchFile& patch,
                                                 const std::vector<TimedNoteEvent>& events, int64_t length,
                                                 int32_t rate, const BlockSizing& sizing) {
    const auto instrument = patch::makeInstrument(patch, static_cast<float>(rate), sizing.largest());
    std::vector<std::vector<float>> outputs(instrument->outputCount(),
                                            std::vector<float>(static_cast<size_t>(length)));
    std::mt19937 generator(sizing.seed);
    std::vector<host::NoteEvent> block;
    size_t next = 0;
    for (int64_t position = 0; position < length;) {
        const int32_t drawn =
            sizing.random ? 1 + static_cast<int32_t>(generator() % BlockSizing::MAX_RANDOM) : sizing.size;
        const auto count = static_cast<int32_t>(std::min<int64_t>(drawn, length - position));
        block.clear();
        // At most the instrument's room a block: past it, the block ends before the sample of
        // the first event left out, and the rest wait for the next one.
        int32_t cut = count;
        for (; next < events.size() && events[next].sample < position + count; ++next) {
            host::NoteEvent event = events[next].event;
            event.timestamp = static_cast<int32_t>(events[next].sample - position);
            if (block.size() == EVENTS_PER_BLOCK) {
                cut = event.timestamp;
                while (!block.empty() && block.back().timestamp >= cut) {
                    block.pop_back();
                    --next;
                }
                break;
            }
            block.push_back(event);
        }
        if (cut == 0)
            throw RenderError("more than " + std::to_string(EVENTS_PER_BLOCK) + " MIDI events at one sample");
        instrument->runBlock(cut, block);
        for (size_t o = 0; o < outputs.size(); ++o)
            std::copy(instrument->output(o), instrument->output(o) + cut, outputs[o].begin() + position);
        position += cut;
    }
    return outputs;
}

namespace {

void checkInstrumentOptions(const RenderOptions& options, const patch::PatchFile& patch) {
    if (patch.notes.empty())
        throw RenderError("--midi: " + options.plugin + " has no \"notes\" for MIDI to play");
    if (!options.score.empty() || !options.scoreText.empty() || !options.notes.empty() ||
        !options.resets.empty() || !options.inputs.empty() || !options.settings.empty())
        throw RenderError(
            "--midi plays the file's notes at the patch's settings: not with --score, --note, "
            "--reset, --input or --set");
    static_cast<void>(blockSizing(options));
}

}  // namespace

int32_t midiRenderRate(const RenderOptions& options) { return sampleRate(options, Score{}, AudioInputs{}); }

InstrumentRendering renderInstrumentMidi(const RenderOptions& options, const patch::PatchFile& patch,
                                         const MidiFileNotes& midi) {
    checkInstrumentOptions(options, patch);
    InstrumentRendering rendering;
    rendering.sizing = blockSizing(options);
    rendering.rate = midi.rate;
    const int64_t release = sampleAt(longestReleaseSeconds(patch), rendering.rate);
    rendering.length = options.length.empty() ? midi.endSample + release
                                              : toSamples(parseTime(options.length, "--length"), rendering.rate);
    if (rendering.length <= 0) throw RenderError("--midi: nothing to render (length 0)");
    rendering.events = midi.events.size();
    rendering.outputs = renderInstrument(patch, midi.events, rendering.length, rendering.rate, rendering.sizing);
    return rendering;
}

int runInstrument(RenderOptions options, const patch::PatchFile& patch, std::ostream& out) {
    checkInstrumentOptions(options, patch);
    const SampleFormat format = parseSampleFormat(options.format);
    // The file is read before any output is prepared: a file that is no MIDI leaves nothing behind.
    const MidiFileNotes midi = readMidiFile(options.midi, midiRenderRate(options));
    const bool defaultOutputs = options.out.empty() && options.csv.empty() && options.plot.empty();
    if (defaultOutputs) {
        const std::string stem = "out/" + std::filesystem::path(options.midi).stem().string();
        options.out = stem + ".wav";
        options.csv = stem + ".csv";
        options.plot = stem + ".png";
        std::filesystem::create_directories("out");
    }
    const PlotFormat plotFormat = options.plot.empty() ? PlotFormat::Png : plotFormatFor(options.plot);
    PendingFiles pending;
    const std::string wavTemp = options.out.empty() ? "" : pending.add(options.out);
    const std::string csvTemp = options.csv.empty() ? "" : pending.add(options.csv);
    const std::string plotTemp = options.plot.empty() ? "" : pending.add(options.plot);

    const InstrumentRendering rendering = renderInstrumentMidi(options, patch, midi);
    const int32_t rate = rendering.rate;
    const std::vector<std::vector<float>>& outputs = rendering.outputs;
    out << "patch          " << options.plugin << "\n"
        << "name           " << patch.name << "\n"
        << "voices         " << patch.voices << "\n"
        << "midi           " << options.midi << " (" << rendering.events << " events)\n"
        << "length         " << rendering.length << " samples"
        << (options.length.empty() ? " (the file's end plus the longest release)" : "") << "\n";

    if (!wavTemp.empty()) writeWav(wavTemp, outputs, rate, format);
    CsvTable table;
    table.outputs = &outputs;
    table.rate = rate;
    for (const host::PatchOutput& output : patch.graph.outputs) table.names.push_back(output.name);
    if (!csvTemp.empty()) writeCsv(csvTemp, table, nullptr);
    if (!plotTemp.empty()) {
        PatchPlotData data;
        data.rate = rate;
        for (size_t o = 0; o < outputs.size(); ++o)
            data.tracks.push_back(PlotTrack{table.names[o], &outputs[o], {}});
        data.title = patch.name;
        data.subtitle = std::filesystem::path(options.plugin).filename().string() + TITLE_SEPARATOR +
                        std::to_string(rate) + " Hz, " + describeBlocks(rendering.sizing) + TITLE_SEPARATOR +
                        std::filesystem::path(options.midi).filename().string();
        writePatchPlot(plotTemp, plotFormat, data);
    }
    pending.commit();
    printWrittenFiles(out, options, format, outputs.size(), rate, table);
    return 0;
}

}  // namespace kvx::render
