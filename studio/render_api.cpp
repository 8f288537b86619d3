// SPDX-License-Identifier: MIT
// Requests turned into `kvx render` options, and renders turned into the page's JSON.
#include "studio/render_api.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "describe/description.h"
#include "render/instrument_render.h"
#include "render/midi_file.h"
#include "render/module_rendering.h"
#include "render/patch_render.h"
#include "render/profile.h"
#include "render/summary.h"
#include "studio/base64.h"
#include "studio/request_reading.h"

namespace kvx::studio {

namespace {

using nlohmann::json;

json pinJson(const describe::PinDescription& pin) {
    json out = {{"id", pin.id},
                {"symbol", pin.symbol},
                {"name", describe::flagName(pin.symbol)},
                {"title", pin.name},
                {"datatype", describe::datatypeName(pin.datatype)},
                {"direction", describe::directionName(pin.direction)},
                {"role", describe::roleName(pin.role)},
                {"unit", describe::unitName(pin.unit)},
                {"mapping", pin.scale == describe::Scale::Logarithmic ? "log" : "linear"}};
    if (pin.minimum) out["minimum"] = *pin.minimum;
    if (pin.maximum) out["maximum"] = *pin.maximum;
    if (pin.defaultValue) out["default"] = *pin.defaultValue;
    return out;
}

std::string quoted(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "_-+=.,:/@%") == std::string::npos)
        return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The options of the request, and the `kvx render` command line that gives the same render.
struct Request {
    render::RenderOptions options;
    std::vector<std::string> words;
    std::optional<std::string> midi;  // a Standard MIDI File's bytes, for an instrument
};

Request readRequest(const Subject& subject, const std::string& body) {
    const json request = requestObject(body);
    Request out{subject.base, {"kvx", "render", subject.named}, std::nullopt};
    render::RenderOptions& options = out.options;
    options.filesRefused = true;
    if (!subject.base.id.empty() && !subject.patch) {
        out.words.insert(out.words.end(), {"--id", subject.base.id});
        if (subject.base.subtype != 0) out.words.insert(out.words.end(), {"--subtype", std::to_string(subject.base.subtype)});
    }
    if (!subject.base.describe.empty()) out.words.insert(out.words.end(), {"--describe", subject.base.describe});
    for (const auto& [key, value] : request.items()) {
        if (key == "settings") {
            for (const std::string& text : settingTexts(value)) {
                options.settings.push_back(text);
                out.words.insert(out.words.end(), {"--set", text});
            }
        } else if (key == "notes") {
            if (!value.is_array()) throw RequestError(400, "notes: expected a list of {on, off, key, velocity}");
            for (size_t i = 0; i < value.size(); ++i) {
                const json& note = value[i];
                const std::string field = "notes[" + std::to_string(i) + "]";
                if (!note.is_object() || !note.contains("on"))
                    throw RequestError(400, field + ": expected {\"on\": seconds, \"off\": seconds}");
                std::string text = timeText(note["on"], field + ".on") + ":";
                if (note.contains("off") && !note["off"].is_null()) text += timeText(note["off"], field + ".off");
                if (note.contains("key") || note.contains("velocity"))
                    text += ":" + (note.contains("key") ? flagText(note["key"], field + ".key") : "69");
                if (note.contains("velocity")) text += ":" + flagText(note["velocity"], field + ".velocity");
                options.notes.push_back(text);
                out.words.insert(out.words.end(), {"--note", text});
            }
        } else if (key == "score") {
            if (!value.is_object()) throw RequestError(400, "score: expected a score object");
            options.scoreText = value.dump();
            out.words.insert(out.words.end(), {"--score", "score.json"});
        } else if (key == "midi") {
            out.midi = value.is_string() ? fromBase64(value.get<std::string>()) : std::nullopt;
            if (!out.midi) throw RequestError(400, "midi: expected a Standard MIDI File in Base64");
            out.words.insert(out.words.end(), {"--midi", "FILE.mid"});
        } else if (key == "length") {
            options.length = timeText(value, "length");
            out.words.insert(out.words.end(), {"--length", options.length});
        } else if (key == "rate") {
            options.rate = flagText(value, "rate");
            out.words.insert(out.words.end(), {"--rate", options.rate});
        } else {
            throw RequestError(400, "\"" + key + "\": the request takes settings, notes, score, midi, length and rate");
        }
    }
    return out;
}

json spansJson(const std::vector<render::StreamSpan>& spans) {
    json out = json::array();
    for (const render::StreamSpan& span : spans) out.push_back({span.begin, span.end});
    return out;
}

json streamingJson(const std::vector<render::StreamMark>& marks) {
    json out = json::array();
    for (const render::StreamMark& mark : marks)
        out.push_back({{"sample", mark.sample}, {"state", mark.streaming ? "start" : "stop"}});
    return out;
}

std::string commandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + quoted(word);
    return line;
}

json moduleRender(const Subject& subject, const Request& request) {
    const render::ModuleRendering rendering =
        refusingBadInput([&] { return render::renderModuleSamples(request.options); });
    const render::RenderPlan& plan = rendering.plan;
    json out = {{"rate", plan.rate}, {"length", plan.length}};
    json tracks = json::array();
    for (size_t i = 0; i < rendering.result.outputs.size(); ++i)
        tracks.push_back({{"name", describe::flagName(rendering.module.outputs[i].symbol)},
                          {"samples", base64Floats(rendering.result.outputs[i])}});
    out["tracks"] = tracks;
    out["gate"] = spansJson(rendering.gates);
    json segments = json::array();
    if (rendering.labels) {
        const auto& changes = rendering.labels->changes;
        for (size_t i = 0; i < changes.size(); ++i)
            segments.push_back({{"start", changes[i].sample},
                                {"end", i + 1 < changes.size() ? changes[i + 1].sample : plan.length},
                                {"stage", changes[i].name}});
    }
    out["segments"] = segments;
    out["streaming"] = streamingJson(rendering.result.marks);
    out["sleep"] = spansJson(rendering.result.sleeping);
    std::ostringstream text;
    render::printSummary(text, plan, rendering.result, rendering.labels ? &*rendering.labels : nullptr,
                         rendering.sizing);
    const host::RunnerStats& stats = rendering.result.stats;
    const render::Peak peak = render::findPeak(rendering.result.output());
    out["summary"] = {{"text", text.str()},
                      {"blocks", stats.blocks},
                      {"blocksCalled", stats.blocksCalled},
                      {"blocksSlept", stats.blocksSlept},
                      {"sleepRequests", stats.sleepRequests},
                      {"peak", peak.level},
                      {"peakSample", peak.sample}};
    static_cast<void>(subject);
    return out;
}

json patchRender(const Subject& subject, const Request& request) {
    const patch::PatchFile& patch = *subject.patch;
    const render::PatchRendering rendering =
        refusingBadInput([&] { return render::renderPatchSamples(request.options, patch); });
    const render::RenderPlan& plan = rendering.plan;
    const render::PatchSessionResult& result = rendering.result;
    json out = {{"rate", plan.rate}, {"length", plan.length}};
    auto marksOf = [&result](int32_t module, int32_t pin) {
        json marks = json::array();
        for (const render::ModuleTrack& track : result.tracks)
            if (track.module == module && track.pin == pin) marks = streamingJson(track.marks);
        return marks;
    };
    json tracks = json::array();
    // A patch output is its module's output: the same streaming marks.
    for (size_t i = 0; i < result.outputs.size(); ++i) {
        const host::PatchOutput& output = patch.graph.outputs[i];
        tracks.push_back({{"name", output.name},
                          {"samples", base64Floats(result.outputs[i])},
                          {"streaming", marksOf(output.module, output.pin)}});
    }
    for (const render::ModuleTrack& track : result.tracks)
        tracks.push_back({{"name", track.name},
                          {"samples", base64Floats(track.samples)},
                          {"sleep", spansJson(result.sleeping[static_cast<size_t>(track.module)])},
                          {"streaming", streamingJson(track.marks)}});
    out["tracks"] = tracks;
    out["gate"] = spansJson(rendering.gates);
    out["segments"] = json::array();
    out["streaming"] = json::array();
    out["sleep"] = json::array();
    std::ostringstream text;
    render::printPatchSummary(text, patch, plan, result, rendering.sizing);
    out["summary"] = {{"text", text.str()}, {"blocks", result.stats.blocks}};
    return out;
}

json instrumentRender(const Subject& subject, const Request& request) {
    if (!subject.patch) throw RequestError(400, "--midi plays a patch (NAME.kvxpatch.json) with voices, not a module");
    const patch::PatchFile& patch = *subject.patch;
    const render::InstrumentRendering rendering = refusingBadInput([&] {
        const render::MidiFileNotes midi =
            render::readMidiBytes(*request.midi, "midi", render::midiRenderRate(request.options));
        return render::renderInstrumentMidi(request.options, patch, midi);
    });
    json out = {{"rate", rendering.rate}, {"length", rendering.length}};
    json tracks = json::array();
    for (size_t i = 0; i < rendering.outputs.size(); ++i)
        tracks.push_back({{"name", patch.graph.outputs[i].name}, {"samples", base64Floats(rendering.outputs[i])}});
    out["tracks"] = tracks;
    for (const char* none : {"gate", "segments", "streaming", "sleep"}) out[none] = json::array();
    out["summary"] = {{"text", std::to_string(patch.voices) + " voices played " + std::to_string(rendering.events) +
                                   " MIDI events over " + std::to_string(rendering.length) + " samples\n"},
                      {"events", rendering.events}};
    return out;
}

}  // namespace

std::string subjectJson(const Subject& subject) {
    json out;
    if (subject.patch) {
        const patch::PatchFile& patch = *subject.patch;
        out = {{"kind", "patch"}, {"name", subject.named}, {"title", patch.name}};
        json modules = json::array(), connections = json::array(), outputs = json::array(),
             controls = json::array(), presets = json::array();
        for (size_t m = 0; m < patch.graph.modules.size(); ++m) {
            json pins = json::array();
            for (const describe::PinDescription& pin : patch.modules[m].description.pins) pins.push_back(pinJson(pin));
            modules.push_back({{"name", patch.graph.modules[m].name},
                               {"module", patch.modules[m].description.id},
                               {"pins", pins}});
        }
        for (const host::PatchConnection& c : patch.graph.connections)
            connections.push_back({{"from", patch.pinName({c.fromModule, c.fromPin})},
                                   {"to", patch.pinName({c.toModule, c.toPin})}});
        for (const host::PatchOutput& o : patch.graph.outputs)
            outputs.push_back({{"name", o.name}, {"from", patch.pinName({o.module, o.pin})}});
        for (const patch::Control& control : patch.controls) {
            json entry = pinJson(control.range);
            entry["name"] = control.name;
            controls.push_back(entry);
        }
        for (const patch::Preset& preset : patch.presets) {
            json values = json::object();
            for (const patch::Preset::Value& value : preset.values)
                values[patch.controls[value.control].name] = value.user;
            presets.push_back({{"name", preset.name}, {"values", values}});
        }
        out["patch"] = {{"modules", modules},
                        {"connections", connections},
                        {"outputs", outputs},
                        {"controls", controls},
                        {"notes", !patch.notes.empty()},
                        {"voices", patch.voices},
                        {"presets", presets}};
        out["instrument"] = patch.voices > 1 || !patch.notes.pitch.empty();
    } else {
        const render::RenderModule module = refusingBadInput([&] {
            return render::moduleForRender(subject.base.plugin, subject.base.describe, subject.base.id,
                                           subject.base.subtype);
        });
        json pins = json::array();
        for (const describe::PinDescription& pin : module.description.pins) pins.push_back(pinJson(pin));
        out = {{"kind", "module"},
               {"name", subject.named},
               {"title", module.description.name},
               {"description",
                {{"id", module.description.id},
                 {"subtype", module.description.subtype},
                 {"symbol", module.description.symbol},
                 {"name", module.description.name},
                 {"summary", module.description.summary},
                 {"pins", pins}}},
               {"instrument", false}};
        if (const char* score = module.profile ? module.profile->defaultScore() : nullptr)
            out["defaults"]["score"] = json::parse(score);
    }
    // What an empty request renders: its length, rate and notes.
    const json rendered = json::parse(renderJson(subject, "{}"));
    out["defaults"]["length"] = static_cast<double>(rendered["length"].get<int64_t>()) / rendered["rate"].get<double>();
    out["defaults"]["rate"] = rendered["rate"];
    json notes = json::array();
    for (const json& span : rendered["gate"])
        notes.push_back({{"on", span[0].get<double>() / rendered["rate"].get<double>()},
                         {"off", span[1].get<double>() / rendered["rate"].get<double>()}});
    out["defaults"]["notes"] = notes;
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string renderJson(const Subject& subject, const std::string& body) {
    const Request request = readRequest(subject, body);
    json out = request.midi     ? instrumentRender(subject, request)
               : subject.patch ? patchRender(subject, request)
                               : moduleRender(subject, request);
    out["command"] = commandLine(request.words);
    out["score"] = request.options.scoreText.empty() ? json(nullptr) : json::parse(request.options.scoreText);
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace kvx::studio
