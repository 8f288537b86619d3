// Score files for `kvx render`: JSON in, a Score out, with messages that point at the mistake.
#include "tools/render/score.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/render/error.h"

namespace kvx::render {

namespace {

using nlohmann::json;

const char DEFAULT_SCORE[] = R"({
  "length": "2s",
  "parameters": {
    "attack": "100ms", "decay": "400ms", "sustain": 0.5, "release": "800ms",
    "attack-curve": 0.1, "decay-curve": 0.4, "release-curve": 0.4
  },
  "notes": [{"on": 0, "off": "1.2s"}]
})";

class ScoreReader {
public:
    explicit ScoreReader(std::string sourceName) : source(std::move(sourceName)) {}

    [[noreturn]] void fail(const std::string& field, const std::string& expected, const json& got) const {
        std::string shown = got.dump();
        if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
        throw RenderError(source + ": " + field + ": expected " + expected + ", got " + shown);
    }

    TimeSpec time(const json& value, const std::string& field) const {
        if (value.is_number()) return TimeSpec{value.get<double>(), TimeUnit::Seconds, false};
        if (value.is_string()) return parseTime(value.get<std::string>(), source + ": " + field);
        fail(field, "a time (a number of seconds, or a string such as \"1.2s\", \"120ms\", \"480smp\")",
             value);
    }

    ParameterSpec parameter(const json& value, size_t index, const std::string& field) const {
        const ParameterKind kind = PARAMETERS[index].kind;
        if (value.is_number()) {
            ParameterSpec given;
            given.raw = value.get<double>();
            return given;
        }
        if (value.is_string() && kind == ParameterKind::Time)
            return parseParameter(value.get<std::string>(), kind, source + ": " + field);
        fail(field,
             kind == ParameterKind::Time ? "a number (the pin value) or a duration string such as \"120ms\""
                                         : "a number",
             value);
    }

    size_t parameterName(const std::string& name, const std::string& field) const {
        const size_t index = parameterIndex(name);
        if (index == PARAMETER_COUNT) {
            std::string names;
            for (const ParameterInfo& info : PARAMETERS)
                names += (names.empty() ? "" : ", ") + std::string(info.name);
            throw RenderError(source + ": " + field + ": unknown parameter \"" + name +
                              "\" (expected one of " + names + ")");
        }
        return index;
    }

    void object(const json& value, const std::string& field) const {
        if (!value.is_object()) fail(field, "an object", value);
    }
    void array(const json& value, const std::string& field) const {
        if (!value.is_array()) fail(field, "an array", value);
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
            if (key != "on" && key != "off")
                throw RenderError(source + ": " + field + ": unknown field \"" + key +
                                  "\" (expected \"on\" and \"off\")");
        if (!value.contains("on")) throw RenderError(source + ": " + field + ": missing field \"on\"");
        note.on = time(value["on"], field + ".on");
        if (value.contains("off")) note.off = time(value["off"], field + ".off");
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

    Score read(const json& root) const {
        Score score;
        score.source = source;
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
                    const size_t index = parameterName(name, field);
                    score.parameters[index] = parameter(setting, index, field);
                }
            } else if (key == "notes") {
                array(value, "notes");
                for (size_t i = 0; i < value.size(); ++i)
                    score.notes.push_back(note(value[i], "notes[" + std::to_string(i) + "]"));
            } else if (key == "resets") {
                array(value, "resets");
                for (size_t i = 0; i < value.size(); ++i) {
                    const std::string field = "resets[" + std::to_string(i) + "]";
                    score.resets.push_back(ScoreReset{time(value[i], field), field});
                }
            } else if (key == "automation") {
                object(value, "automation");
                for (const auto& [name, points] : value.items()) {
                    const std::string field = "automation." + name;
                    const size_t index = parameterName(name, field);
                    array(points, field);
                    if (points.empty()) fail(field, "at least one breakpoint", points);
                    for (size_t i = 0; i < points.size(); ++i)
                        score.automation[index].push_back(
                            breakpoint(points[i], index, field + "[" + std::to_string(i) + "]"));
                }
            } else {
                throw RenderError(source + ": unknown field \"" + key +
                                  "\" (expected length, rate, parameters, notes, resets or automation)");
            }
        }
        return score;
    }

private:
    std::string source;
};

}  // namespace

Score parseScore(const std::string& text, const std::string& source) {
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
    return ScoreReader(source).read(root);
}

Score loadScore(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RenderError("cannot read score '" + path + "'");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw RenderError("cannot read score '" + path + "'");
    return parseScore(text.str(), path);
}

Score defaultScore() { return parseScore(DEFAULT_SCORE, "default score"); }

const char* defaultScoreText() { return DEFAULT_SCORE; }

}  // namespace kvx::render
