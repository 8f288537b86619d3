// Flags laid over the score, block sizes and the sample rate.
#include "tools/render/options.h"

#include <cmath>
#include <cstdio>

#include "tools/render/error.h"
#include "tools/render/units.h"

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

ScoreNote noteFlag(const std::string& text) {
    const std::string flag = "--note " + text;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) throw RenderError(flag + ": expected ON:OFF, e.g. 0:1.2s or 0:500ms");
    ScoreNote note;
    note.field = flag;
    note.on = parseTime(text.substr(0, colon), flag);
    if (colon + 1 < text.size()) note.off = parseTime(text.substr(colon + 1), flag);
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
        for (const std::string& text : options.notes) score.notes.push_back(noteFlag(text));
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

}  // namespace kvx::render
