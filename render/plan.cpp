// SPDX-License-Identifier: MIT
// Resolving a score into a render plan.
#include "render/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "render/error.h"
#include "render/profile.h"

namespace kvx::render {

namespace {

// Beyond any render we accept; keeps sample arithmetic far from overflow.
constexpr int64_t FARTHEST_SAMPLE = 1'000'000'000'000'000;

int64_t position(const TimeSpec& time, int32_t rate, const std::string& what) {
    const int64_t sample = toSamples(time, rate);
    if (time.amount < 0.0 || sample < 0)
        throw RenderError(what + ": a time must not be negative, got " + timeText(time));
    if (sample >= FARTHEST_SAMPLE)
        throw RenderError(what + ": a time too far in the future, got " + timeText(time));
    return sample;
}

// Where a value came from: a flag names itself, a score field is prefixed with the score's name.
std::string where(const std::string& source, const std::string& field) {
    return field.rfind("--", 0) == 0 ? field : source + ": " + field;
}

}  // namespace

float InputTrack::valueAt(int64_t sample) const {
    if (file) {
        const std::vector<float>& samples = file->samples;
        return sample >= 0 && sample < static_cast<int64_t>(samples.size())
                   ? samples[static_cast<size_t>(sample)]
                   : 0.0f;
    }
    auto after = std::upper_bound(points.begin(), points.end(), sample,
                                  [](int64_t s, const RampPoint& point) { return s < point.sample; });
    if (after == points.begin()) return points.front().value;
    if (after == points.end()) return points.back().value;
    const RampPoint& a = *(after - 1);
    const RampPoint& b = *after;
    // A flat stretch and a ramp's first sample are their value. An infinite end (0 Hz on a
    // logarithmic pin) holds over the ramp, the start's first: the straight line would be NaN.
    if (a.value == b.value || sample == a.sample || !std::isfinite(a.value)) return a.value;
    if (!std::isfinite(b.value)) return b.value;
    const double share = static_cast<double>(sample - a.sample) / static_cast<double>(b.sample - a.sample);
    return static_cast<float>(static_cast<double>(a.value) +
                              (static_cast<double>(b.value) - a.value) * share);
}

RenderPlan resolvePlan(const Score& score, int32_t rate, const RenderModule& module,
                       const AudioInputs& files) {
    RenderPlan plan;
    plan.rate = rate;
    const std::string& source = score.source;
    int64_t lastEvent = 0;
    int64_t longestFile = 0;

    plan.tracks.resize(module.inputs.size());
    for (size_t i = 0; i < module.inputs.size(); ++i) {
        const describe::PinDescription& pin = module.inputs[i];
        InputTrack& track = plan.tracks[i];
        if (i < files.size() && files[i]) {
            const AudioInput& file = *files[i];
            if (file.rate != rate)
                throw RenderError(file.field + ": '" + file.path + "' is at " + std::to_string(file.rate) +
                                  " Hz, the render at " + std::to_string(rate) +
                                  " Hz (render at its rate with --rate, or resample the file)");
            track.file = files[i];
            track.text =
                std::filesystem::path(file.path).filename().string() + " (" +
                std::to_string(file.samples.size()) + " samples" +
                (file.channels > 1 ? ", first of " + std::to_string(file.channels) + " channels" : "") + ")";
            longestFile = std::max(longestFile, static_cast<int64_t>(file.samples.size()));
        } else if (!score.automation[i].empty()) {
            int64_t previous = 0;
            for (const ScoreBreakpoint& point : score.automation[i]) {
                const std::string what = where(source, point.field);
                const int64_t sample = position(point.at, rate, what);
                if (sample < previous) throw RenderError(what + ": breakpoints must be in time order");
                previous = sample;
                track.points.push_back(RampPoint{sample, pinValue(point.value, pin, rate)});
                lastEvent = std::max(lastEvent, sample);
            }
            track.text = settingText(score.automation[i].front().value, pin, track.points.front().value) +
                         " automated";
        } else {
            const ParameterSpec given = score.parameters[i] ? *score.parameters[i] : describedDefault(pin);
            const float value = pinValue(given, pin, rate);
            track.points.push_back(RampPoint{0, value});
            track.text = settingText(given, pin, value);
        }
    }

    for (const ScoreEvent& event : score.events) {
        const std::string what = where(source, event.field);
        const int64_t sample = position(event.at, rate, what);
        plan.changes.push_back(
            ValueChange{sample, event.input, pinValue(event.value, module.inputs[event.input], rate)});
        lastEvent = std::max(lastEvent, sample);
    }
    std::stable_sort(plan.changes.begin(), plan.changes.end(),
                     [](const ValueChange& a, const ValueChange& b) { return a.sample < b.sample; });

    for (const ScoreNote& note : score.notes) {
        const std::string what = where(source, note.field);
        NotePlan resolved{position(note.on, rate, what), NO_OFF};
        resolved.key = note.key.value_or(resolved.key);
        resolved.velocity = note.velocity.value_or(resolved.velocity);
        lastEvent = std::max(lastEvent, resolved.on);
        if (note.off) {
            resolved.off = position(*note.off, rate, what);
            if (resolved.off <= resolved.on)
                throw RenderError(what + ": the note must end after it starts (on " + timeText(note.on) +
                                  ", off " + timeText(*note.off) + ")");
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
                              timeText(*score.length));
        if (plan.length <= 0)
            throw RenderError(where(source, score.lengthField) + ": shorter than one sample at " +
                              std::to_string(rate) + " Hz, got " + timeText(*score.length));
    } else if (const std::optional<DerivedLength> derived =
                   module.profile ? module.profile->derivedLength(module, plan, lastEvent) : std::nullopt) {
        plan.length = derived->samples;
        plan.lengthRule = derived->rule;
    } else {
        // The longest input file, or a second after the last event.
        plan.length = longestFile > 0 ? std::max(longestFile, lastEvent + 1) : lastEvent + rate;
        plan.lengthRule = "inputs and events";
    }
    if (plan.length > MAX_LENGTH_SAMPLES)
        throw RenderError(
            where(source, score.lengthField) + ": at most " + std::to_string(MAX_LENGTH_SAMPLES) +
            " samples (" + std::to_string(MAX_LENGTH_SAMPLES / rate) + " s at " + std::to_string(rate) +
            " Hz), got " +
            // A length beyond int64 arithmetic's reach is said as written.
            (plan.lengthChosen && plan.length >= FARTHEST_SAMPLE ? timeText(*score.length)
                                                                 : std::to_string(plan.length) + " samples"));
    return plan;
}

}  // namespace kvx::render
