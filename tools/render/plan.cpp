// Resolving a score into a render plan.
#include "tools/render/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "modules/adsr/segment_math.h"
#include "tools/render/error.h"

namespace kvx::render {

namespace {

// "0.5 (100ms)" for a duration, "0.6" for a raw value.
std::string settingText(const ParameterSpec& given, float value) {
    char text[64];
    if (given.isDuration)
        std::snprintf(text, sizeof text, "%.6g (%s)", static_cast<double>(value),
                      describe(given.duration).c_str());
    else
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    return text;
}

// Beyond any render we accept; keeps sample arithmetic far from overflow.
constexpr int64_t FARTHEST_SAMPLE = 1'000'000'000'000'000;

int64_t position(const TimeSpec& time, int32_t rate, const std::string& what) {
    const int64_t sample = toSamples(time, rate);
    if (time.amount < 0.0 || sample < 0)
        throw RenderError(what + ": a time must not be negative, got " + describe(time));
    if (sample >= FARTHEST_SAMPLE)
        throw RenderError(what + ": a time too far in the future, got " + describe(time));
    return sample;
}

// Where a value came from: a flag names itself, a score field is prefixed with the score's name.
std::string where(const std::string& source, const std::string& field) {
    return field.rfind("--", 0) == 0 ? field : source + ": " + field;
}

}  // namespace

float ParameterTrack::valueAt(int64_t sample) const {
    auto after = std::upper_bound(points.begin(), points.end(), sample,
                                  [](int64_t s, const RampPoint& point) { return s < point.sample; });
    if (after == points.begin()) return points.front().value;
    if (after == points.end()) return points.back().value;
    const RampPoint& a = *(after - 1);
    const RampPoint& b = *after;
    const double share = static_cast<double>(sample - a.sample) / static_cast<double>(b.sample - a.sample);
    return static_cast<float>(static_cast<double>(a.value) +
                              (static_cast<double>(b.value) - a.value) * share);
}

RenderPlan resolvePlan(const Score& score, int32_t rate) {
    RenderPlan plan;
    plan.rate = rate;
    const std::string& source = score.source;
    int64_t lastEvent = 0;

    for (size_t i = 0; i < PARAMETER_COUNT; ++i) {
        ParameterTrack& track = plan.tracks[i];
        const std::string name(PARAMETERS[i].name);
        if (!score.automation[i].empty()) {
            int64_t previous = 0;
            for (const ScoreBreakpoint& point : score.automation[i]) {
                const std::string what = where(source, point.field);
                const int64_t sample = position(point.at, rate, what);
                if (sample < previous) throw RenderError(what + ": breakpoints must be in time order");
                previous = sample;
                track.points.push_back(RampPoint{sample, pinValue(point.value, rate)});
                lastEvent = std::max(lastEvent, sample);
            }
            track.text =
                settingText(score.automation[i].front().value, track.points.front().value) + " automated";
        } else if (score.parameters[i]) {
            const float value = pinValue(*score.parameters[i], rate);
            track.points.push_back(RampPoint{0, value});
            track.text = settingText(*score.parameters[i], value);
        } else {
            throw RenderError(source + ": parameters." + name + ": missing");
        }
    }

    for (const ScoreNote& note : score.notes) {
        const std::string what = where(source, note.field);
        NotePlan resolved{position(note.on, rate, what), NO_OFF};
        lastEvent = std::max(lastEvent, resolved.on);
        if (note.off) {
            resolved.off = position(*note.off, rate, what);
            if (resolved.off <= resolved.on)
                throw RenderError(what + ": the note must end after it starts (on " + describe(note.on) +
                                  ", off " + describe(*note.off) + ")");
            lastEvent = std::max(lastEvent, resolved.off);
        }
        plan.notes.push_back(resolved);
    }
    for (size_t i = 0; i < score.resets.size(); ++i) {
        plan.resets.push_back(position(score.resets[i].at, rate, where(source, score.resets[i].field)));
        lastEvent = std::max(lastEvent, plan.resets.back());
    }

    if (score.length) {
        plan.length = toSamples(*score.length, rate);
        plan.lengthChosen = true;
        if (score.length->amount <= 0.0)
            throw RenderError(where(source, score.lengthField) + ": must be positive, got " +
                              describe(*score.length));
        if (plan.length <= 0)
            throw RenderError(where(source, score.lengthField) + ": shorter than one sample at " +
                              std::to_string(rate) + " Hz, got " + describe(*score.length));
    } else {
        // Long enough for a full-scale release after the last event, and a little silence.
        const size_t release = parameterIndex("release");
        float releaseValue = plan.tracks[release].points.back().value;
        const double tail = static_cast<double>(adsr::timeValueToSeconds(releaseValue)) + 0.25;
        plan.length = lastEvent + static_cast<int64_t>(std::ceil(std::min(tail, 3600.0) * rate));
    }
    if (plan.length > MAX_LENGTH_SAMPLES)
        throw RenderError(where(source, score.lengthField) + ": at most " +
                          std::to_string(MAX_LENGTH_SAMPLES) + " samples (" +
                          std::to_string(MAX_LENGTH_SAMPLES / rate) + " s at " + std::to_string(rate) +
                          " Hz), got " + std::to_string(plan.length) + " samples");
    return plan;
}

}  // namespace kvx::render
