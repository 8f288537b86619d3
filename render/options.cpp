// SPDX-License-Identifier: MIT
// Flags laid over the score, block sizes and the sample rate.
#include "render/options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "describe/user_value.h"
#include "render/error.h"
#include "render/units.h"

namespace kvx::render {

namespace {

int64_t wholeNumber(const std::string& text, int64_t low, int64_t high, const std::string& what) {
    double value = 0.0;
    if (!parseNumber(text, value) || value != std::floor(value) || value < static_cast<double>(low) ||
        value > static_cast<double>(high))
        throw RenderError(what + ": expected a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", got '" + text + "'");
    return static_cast<int64_t>(value);
}

// ON:OFF, and for a patch ON:OFF:KEY or ON:OFF:KEY:VELOCITY (OFF may be empty).
ScoreNote noteFlag(const std::string& text) {
    const std::string flag = "--note " + text;
    std::vector<std::string> parts{""};
    for (char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() < 2 || parts.size() > 4)
        throw RenderError(flag +
                          ": expected ON:OFF, e.g. 0:1.2s or 0:500ms (a patch's: ON:OFF:KEY:VELOCITY)");
    ScoreNote note;
    note.field = flag;
    note.on = parseTime(parts[0], flag);
    if (!parts[1].empty()) note.off = parseTime(parts[1], flag);
    if (parts.size() > 2) note.key = static_cast<int32_t>(wholeNumber(parts[2], 0, 127, flag + ": the key"));
    if (parts.size() > 3)
        note.velocity = static_cast<int32_t>(wholeNumber(parts[3], 1, 127, flag + ": the velocity"));
    return note;
}

}  // namespace

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

namespace {

// "NAME=VALUE" of --set and --input.
std::pair<std::string, std::string> nameAndValue(const std::string& text, const std::string& flag,
                                                 const char* what) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw RenderError(flag + " " + text + ": expected NAME=" + what);
    return {text.substr(0, equals), text.substr(equals + 1)};
}

size_t namedInput(const RenderModule& module, const std::string& name, const std::string& flag) {
    const size_t index = module.inputIndex(name);
    if (index == RenderModule::NONE)
        throw RenderError(flag + ": \"" + module.description.id + "\" has no input \"" + name +
                          "\" (its inputs: " + module.inputNames() + ")");
    return index;
}

// A --set value outside the pin's described range is clamped to it, as the LV2 bridge clamps
// what a host sends; returns the warning to print, or "" when the value is in range (or its
// range cannot be told before the sample rate is known: a duration in samples).
std::string clampToRange(ParameterSpec& given, const describe::PinDescription& pin, const std::string& flag) {
    if (pin.datatype == describe::Datatype::Bool || !pin.minimum || !pin.maximum) return "";
    const std::optional<double> written = userValueOf(given, pin);
    if (!written) return "";  // a time in samples: its pin value waits for the rate
    const double user = *written;
    if (std::isnan(user) || (user >= *pin.minimum && user <= *pin.maximum)) return "";
    const bool below = user < *pin.minimum;
    const double bound = below ? *pin.minimum : *pin.maximum;
    given = ParameterSpec{};
    given.unit = ValueUnit::Described;
    given.raw = bound;
    return flag + ": " + describe::formatUserValue(pin, user) + " is " + (below ? "below" : "above") +
           " the described " + (below ? "minimum" : "maximum") + "; " +
           describe::formatUserValue(pin, bound) + " is sent, as the LV2 bridge would send it";
}

}  // namespace

Score buildScore(const RenderOptions& options, const RenderModule& module) {
    const Score fallback = defaultScore(module);
    Score score = !options.scoreText.empty() ? parseScore(options.scoreText, "score", module)
                  : options.score.empty()      ? fallback
                                               : loadScore(options.score, module);
    if (options.filesRefused)
        for (const auto& file : score.files)
            if (file) throw RenderError(file->field + ": a request cannot name a file");

    // The envelope's flags (any module with inputs of those names takes them), then --set, each
    // naming one input once.
    std::vector<std::pair<std::string, std::string>> settings;  // flag as written, value
    std::vector<size_t> setInputs;
    for (size_t i = 0; i < ENVELOPE_FLAGS.size(); ++i)
        if (!options.envelopeFlags[i].empty())
            settings.emplace_back("--" + std::string(ENVELOPE_FLAGS[i]), options.envelopeFlags[i]);
    for (const std::string& text : options.settings) settings.emplace_back("--set " + text, text);
    for (const auto& [flag, text] : settings) {
        std::string name = flag.substr(2), value = text;
        if (flag.rfind("--set ", 0) == 0) std::tie(name, value) = nameAndValue(text, "--set", "VALUE");
        const size_t index = namedInput(module, name, flag);
        if (std::find(setInputs.begin(), setInputs.end(), index) != setInputs.end())
            throw RenderError(flag + ": \"" + module.inputName(index) + "\" is set twice");
        setInputs.push_back(index);
        ParameterSpec given = parseParameter(value, module.inputs[index], flag);
        const std::string clamped = clampToRange(given, module.inputs[index], flag);
        if (!clamped.empty()) score.warnings.push_back(clamped);
        score.parameters[index] = given;
        score.automation[index].clear();
        score.files[index].reset();
    }
    for (const std::string& text : options.inputs) {
        const std::string flag = "--input " + text;
        const auto [name, file] = nameAndValue(text, "--input", "FILE");
        const size_t index = namedInput(module, name, flag);
        if (!module.inputs[index].isAudio())
            throw RenderError(flag + ": \"" + name + "\" is a control input, not an audio input");
        if (std::find(setInputs.begin(), setInputs.end(), index) != setInputs.end())
            throw RenderError(flag + ": \"" + module.inputName(index) + "\" is set twice");
        setInputs.push_back(index);
        score.files[index] = ScoreInputFile{file, flag};
        score.parameters[index].reset();
        score.automation[index].clear();
    }
    for (size_t i = 0; i < module.inputs.size(); ++i)
        if (!score.parameters[i] && score.automation[i].empty() && !score.files[i])
            score.parameters[i] =
                fallback.parameters[i] ? *fallback.parameters[i] : describedDefault(module.inputs[i]);

    if (!options.notes.empty()) {
        if (module.roleIndex(describe::Role::Gate) == RenderModule::NONE)
            throw RenderError("--note: \"" + module.description.id + "\" has no gate input");
        score.notes.clear();
        for (const std::string& text : options.notes) score.notes.push_back(noteFlag(text));
    }
    if (!options.resets.empty()) {
        if (module.roleIndex(describe::Role::Reset) == RenderModule::NONE)
            throw RenderError("--reset: \"" + module.description.id + "\" has no reset input");
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

int32_t sampleRate(const RenderOptions& options, const Score& score, const AudioInputs& files) {
    if (!options.rate.empty()) return static_cast<int32_t>(wholeNumber(options.rate, 1, MAX_RATE, "--rate"));
    if (score.rate) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", *score.rate);
        return static_cast<int32_t>(wholeNumber(text, 1, MAX_RATE, score.source + ": rate"));
    }
    for (const auto& file : files)
        if (file)
            return static_cast<int32_t>(wholeNumber(std::to_string(file->rate), 1, MAX_RATE, file->field));
    return 48000;
}

}  // namespace kvx::render
