// SPDX-License-Identifier: MIT
// Score files for `kvx render`: JSON in, a Score out, with messages that point at the mistake.
#include "render/score.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "render/error.h"
#include "render/profile.h"

namespace kvx::render {

namespace {

using nlohmann::json;

class ScoreReader {
public:
    ScoreReader(std::string sourceName, const RenderModule& forModule, std::filesystem::path folder)
        : source(std::move(sourceName)), module(forModule), baseFolder(std::move(folder)) {}

    [[noreturn]] void fail(const std::string& field, const std::string& expected, const json& got) const {
        std::string shown = got.dump();
        if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
        throw RenderError(source + ": " + field + ": expected " + expected + ", got " + shown);
    }
    [[noreturn]] void fail(const std::string& field, const std::string& message) const {
        throw RenderError(source + ": " + field + ": " + message);
    }

    TimeSpec time(const json& value, const std::string& field) const {
        if (value.is_number()) return TimeSpec{value.get<double>(), TimeUnit::Seconds, false};
        if (value.is_string()) return parseTime(value.get<std::string>(), source + ": " + field);
        fail(field, "a time (a number of seconds, or a string such as \"1.2s\", \"120ms\", \"480smp\")",
             value);
    }

    ParameterSpec parameter(const json& value, size_t index, const std::string& field) const {
        const describe::PinDescription& pin = module.inputs[index];
        if (pin.datatype == describe::Datatype::Bool && value.is_boolean()) {
            ParameterSpec given;
            given.raw = value.get<bool>() ? 1.0 : 0.0;
            return given;
        }
        if (value.is_number()) {
            ParameterSpec given;
            given.raw = value.get<double>();
            if (pin.datatype == describe::Datatype::Bool) given.raw = given.raw != 0.0 ? 1.0 : 0.0;
            return given;
        }
        const bool takesText = pin.datatype == describe::Datatype::Bool || pin.unit != describe::Unit::None;
        if (value.is_string() && takesText)
            return parseParameter(value.get<std::string>(), pin, source + ": " + field);
        if (pin.datatype == describe::Datatype::Bool) fail(field, "true or false", value);
        fail(field,
             pin.unit == describe::Unit::Seconds || pin.unit == describe::Unit::Milliseconds
                 ? "a number (the pin value) or a duration string such as \"120ms\""
             : takesText ? std::string("a number (the pin value) or a string with the unit ") +
                               describe::unitName(pin.unit)
                         : "a number",
             value);
    }

    size_t inputName(const std::string& name, const std::string& field) const {
        const size_t index = module.inputIndex(name);
        if (index == RenderModule::NONE)
            fail(field, "unknown parameter \"" + name + "\" (expected one of " + module.inputNames() + ")");
        return index;
    }

    size_t audioInput(const std::string& name, const std::string& field) const {
        const size_t index = inputName(name, field);
        if (!module.inputs[index].isAudio())
            fail(field, "\"" + name + "\" is a " + describe::datatypeName(module.inputs[index].datatype) +
                            " control input, not an audio input (set it with \"parameters\" or \"events\")");
        return index;
    }

    void object(const json& value, const std::string& field) const {
        if (!value.is_object()) fail(field, "an object", value);
    }
    void array(const json& value, const std::string& field) const {
        if (!value.is_array()) fail(field, "an array", value);
    }

    void needRole(describe::Role role, const std::string& field) const {
        if (module.roleIndex(role) == RenderModule::NONE)
            fail(field, "\"" + module.description.id + "\" has no " + describe::roleName(role) + " input");
    }

    int32_t midiNumber(const json& value, int32_t low, const std::string& field) const {
        if (!value.is_number_integer() || value.get<int64_t>() < low || value.get<int64_t>() > 127)
            fail(field, "a whole number from " + std::to_string(low) + " to 127", value);
        return value.get<int32_t>();
    }

    ScoreNote note(const json& value, const std::string& field) const {
        ScoreNote note;
        note.field = field;
        if (value.is_array()) {
            if (value.size() < 1 || value.size() > 2)
                fail(field, "[on, off] or {\"on\": ..., \"off\": ...}", value);
            note.on = time(value[0], field + "[0]");
            if (value.size() == 2) note.off = time(value[1], field + "[1]");
            return note;
        }
        if (!value.is_object()) fail(field, "[on, off] or {\"on\": ..., \"off\": ...}", value);
        for (const auto& [key, item] : value.items())
            if (key != "on" && key != "off" && key != "key" && key != "velocity")
                fail(field,
                     "unknown field \"" + key + "\" (expected \"on\", \"off\", \"key\" and \"velocity\")");
        if (!value.contains("on")) fail(field, "missing field \"on\"");
        note.on = time(value["on"], field + ".on");
        if (value.contains("off")) note.off = time(value["off"], field + ".off");
        if (value.contains("key")) note.key = midiNumber(value["key"], 0, field + ".key");
        if (value.contains("velocity")) note.velocity = midiNumber(value["velocity"], 1, field + ".velocity");
        return note;
    }

    ScoreBreakpoint breakpoint(const json& value, size_t index, const std::string& field) const {
        ScoreBreakpoint point;
        point.field = field;
        if (value.is_array() && value.size() == 2) {
            point.at = time(value[0], field + "[0]");
            point.value = parameter(value[1], index, field + "[1]");
            return point;
        }
        if (value.is_object() && value.size() == 2 && value.contains("at") && value.contains("value")) {
            point.at = time(value["at"], field + ".at");
            point.value = parameter(value["value"], index, field + ".value");
            return point;
        }
        fail(field, "a breakpoint [time, value] or {\"at\": time, \"value\": value}", value);
    }

    ScoreEvent event(const json& value, const std::string& field) const {
        const char* shape = "an event {\"at\": time, \"pin\": name, \"value\": value}";
        if (!value.is_object() || value.size() != 3 || !value.contains("at") || !value.contains("pin") ||
            !value.contains("value"))
            fail(field, shape, value);
        if (!value["pin"].is_string()) fail(field + ".pin", "a pin name", value["pin"]);
        const std::string name = value["pin"].get<std::string>();
        const size_t index = inputName(name, field + ".pin");
        if (module.inputs[index].isAudio())
            fail(field + ".pin",
                 "\"" + name + "\" is an audio input (set it with \"parameters\" or \"automation\")");
        ScoreEvent event;
        event.field = field;
        event.input = index;
        event.at = time(value["at"], field + ".at");
        event.value = parameter(value["value"], index, field + ".value");
        return event;
    }

    Score read(const json& root) const {
        Score score = emptyScore(module, source);
        object(root, "the top level");
        for (const auto& [key, value] : root.items()) {
            if (key == "length") {
                score.length = time(value, "length");
            } else if (key == "rate") {
                if (!value.is_number() || value.get<double>() <= 0.0)
                    fail("rate", "a positive number of samples per second", value);
                score.rate = value.get<double>();
            } else if (key == "parameters") {
                object(value, "parameters");
                for (const auto& [name, setting] : value.items()) {
                    const std::string field = "parameters." + name;
                    const size_t index = inputName(name, field);
                    score.parameters[index] = parameter(setting, index, field);
                }
            } else if (key == "notes") {
                array(value, "notes");
                if (!value.empty()) needRole(describe::Role::Gate, "notes");
                for (size_t i = 0; i < value.size(); ++i)
                    score.notes.push_back(note(value[i], "notes[" + std::to_string(i) + "]"));
            } else if (key == "resets") {
                array(value, "resets");
                if (!value.empty()) needRole(describe::Role::Reset, "resets");
                for (size_t i = 0; i < value.size(); ++i) {
                    const std::string field = "resets[" + std::to_string(i) + "]";
                    score.resets.push_back(ScoreReset{time(value[i], field), field});
                }
            } else if (key == "automation") {
                object(value, "automation");
                for (const auto& [name, points] : value.items()) {
                    const std::string field = "automation." + name;
                    const size_t index = audioInput(name, field);
                    array(points, field);
                    if (points.empty()) fail(field, "at least one breakpoint", points);
                    for (size_t i = 0; i < points.size(); ++i)
                        score.automation[index].push_back(
                            breakpoint(points[i], index, field + "[" + std::to_string(i) + "]"));
                }
            } else if (key == "inputs") {
                object(value, "inputs");
                for (const auto& [name, file] : value.items()) {
                    const std::string field = "inputs." + name;
                    const size_t index = audioInput(name, field);
                    if (!file.is_string() || file.get<std::string>().empty())
                        fail(field, "a WAV file name", file);
                    score.files[index] =
                        ScoreInputFile{(baseFolder / file.get<std::string>()).string(), field};
                }
            } else if (key == "events") {
                array(value, "events");
                for (size_t i = 0; i < value.size(); ++i)
                    score.events.push_back(event(value[i], "events[" + std::to_string(i) + "]"));
            } else {
                throw RenderError(
                    source + ": unknown field \"" + key +
                    "\" (expected length, rate, parameters, notes, resets, automation, inputs or "
                    "events)");
            }
        }
        return score;
    }

private:
    std::string source;
    const RenderModule& module;
    std::filesystem::path baseFolder;
};

}  // namespace

Score emptyScore(const RenderModule& module, std::string source) {
    Score score;
    score.source = std::move(source);
    score.parameters.resize(module.inputs.size());
    score.automation.resize(module.inputs.size());
    score.files.resize(module.inputs.size());
    return score;
}

namespace {

Score parseScoreIn(const std::string& text, const std::string& source, const RenderModule& module,
                   const std::filesystem::path& folder) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& error) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." without the tag.
        std::string message = error.what();
        const size_t tagEnd = message.find("] ");
        if (tagEnd != std::string::npos) message = message.substr(tagEnd + 2);
        throw RenderError(source + ": " + message);
    }
    return ScoreReader(source, module, folder).read(root);
}

}  // namespace

Score parseScore(const std::string& text, const std::string& source, const RenderModule& module) {
    return parseScoreIn(text, source, module, {});
}

Score loadScore(const std::string& path, const RenderModule& module) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RenderError("cannot read score '" + path + "'");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw RenderError("cannot read score '" + path + "'");
    return parseScoreIn(text.str(), path, module, std::filesystem::path(path).parent_path());
}

Score defaultScore(const RenderModule& module) {
    if (const char* text = module.profile ? module.profile->defaultScore() : nullptr)
        return parseScore(text, "default score", module);
    Score score = emptyScore(module, "default score");
    for (size_t i = 0; i < module.inputs.size(); ++i)
        score.parameters[i] = describedDefault(module.inputs[i]);
    return score;
}

}  // namespace kvx::render
