// Units for `kvx render`: parsing, conversion to samples and pin values.
#include "tools/render/units.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "modules/adsr/segment_math.h"
#include "tools/render/error.h"

namespace kvx::render {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Splits "120ms" into "120" and its unit; a bare number is in seconds, `written` false.
void splitUnit(std::string_view text, std::string_view& number, TimeUnit& unit, bool& written) {
    written = true;
    if (endsWith(text, "smp")) {
        number = text.substr(0, text.size() - 3);
        unit = TimeUnit::Samples;
    } else if (endsWith(text, "ms")) {
        number = text.substr(0, text.size() - 2);
        unit = TimeUnit::Milliseconds;
    } else if (endsWith(text, "s")) {
        number = text.substr(0, text.size() - 1);
        unit = TimeUnit::Seconds;
    } else {
        number = text;
        unit = TimeUnit::Seconds;
        written = false;
    }
    number = trim(number);
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

bool parseNumber(std::string_view text, double& value) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

TimeSpec parseTime(std::string_view text, const std::string& what) {
    TimeSpec given;
    std::string_view number;
    splitUnit(trim(text), number, given.unit, given.unitWritten);
    if (!parseNumber(number, given.amount))
        throw RenderError(what + ": expected a time such as 1.2, 1.2s, 120ms or 480smp, got " + quoted(text));
    if (given.unit == TimeUnit::Samples && given.amount != std::floor(given.amount))
        throw RenderError(what + ": a sample count must be a whole number, got " + quoted(text));
    return given;
}

double toSeconds(const TimeSpec& time, double sampleRate) {
    switch (time.unit) {
        case TimeUnit::Milliseconds:
            return time.amount / 1000.0;
        case TimeUnit::Samples:
            return time.amount / sampleRate;
        case TimeUnit::Seconds:
            break;
    }
    return time.amount;
}

int64_t toSamples(const TimeSpec& time, double sampleRate) {
    const double samples =
        time.unit == TimeUnit::Samples ? time.amount : std::round(toSeconds(time, sampleRate) * sampleRate);
    // Far beyond any render, and within int64_t: keeps the conversion defined for absurd inputs
    // such as 1e300smp.
    constexpr double LIMIT = 9.0e15;
    return static_cast<int64_t>(samples > LIMIT ? LIMIT : (samples < -LIMIT ? -LIMIT : samples));
}

std::string describe(const TimeSpec& time) {
    char text[64];
    const char* unit =
        time.unit == TimeUnit::Samples ? "smp" : (time.unit == TimeUnit::Milliseconds ? "ms" : "s");
    std::snprintf(text, sizeof text, "%g%s", time.amount, unit);
    return text;
}

ParameterSpec parseParameter(std::string_view text, ParameterKind kind, const std::string& what) {
    ParameterSpec given;
    std::string_view number;
    TimeUnit unit;
    bool written;
    splitUnit(trim(text), number, unit, written);
    if (!written) {
        if (!parseNumber(number, given.raw))
            throw RenderError(
                what + ": expected a number" +
                (kind == ParameterKind::Time ? std::string(" or a duration such as 120ms or 1.5s") : "") +
                ", got " + quoted(text));
        return given;
    }
    if (kind != ParameterKind::Time)
        throw RenderError(what + ": expected a plain number (" +
                          (kind == ParameterKind::Level ? "a level, 1.0 full scale" : "a curve amount") +
                          "), got " + quoted(text));
    given.isDuration = true;
    given.duration = parseTime(text, what);
    if (!(given.duration.amount > 0.0))
        throw RenderError(what + ": a duration must be positive, got " + quoted(text));
    return given;
}

float pinValue(const ParameterSpec& given, double sampleRate) {
    if (!given.isDuration) return static_cast<float>(given.raw);
    return static_cast<float>(adsr::secondsToTimeValue(toSeconds(given.duration, sampleRate)));
}

}  // namespace kvx::render
