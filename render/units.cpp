// SPDX-License-Identifier: MIT
// Units for `kvx render`: parsing, conversion to samples and pin values.
#include "render/units.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "describe/user_value.h"
#include "render/error.h"

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

std::optional<double> userValueOf(const ParameterSpec& given, const describe::PinDescription& pin) {
    if (given.unit == ValueUnit::Pin) return describe::userValueFor(pin, given.raw);
    if (given.unit != ValueUnit::Time) return given.raw;
    if (given.duration.unit == TimeUnit::Samples) return std::nullopt;
    const double seconds = toSeconds(given.duration, 0.0);
    return pin.unit == describe::Unit::Milliseconds ? seconds * 1000.0 : seconds;
}

int64_t toSamples(const TimeSpec& time, double sampleRate) {
    const double samples =
        time.unit == TimeUnit::Samples ? time.amount : std::round(toSeconds(time, sampleRate) * sampleRate);
    // Far beyond any render, and within int64_t: keeps the conversion defined for absurd inputs
    // such as 1e300smp.
    constexpr double LIMIT = 9.0e15;
    return static_cast<int64_t>(samples > LIMIT ? LIMIT : (samples < -LIMIT ? -LIMIT : samples));
}

std::string timeText(const TimeSpec& time) {
    char text[64];
    const char* unit =
        time.unit == TimeUnit::Samples ? "smp" : (time.unit == TimeUnit::Milliseconds ? "ms" : "s");
    std::snprintf(text, sizeof text, "%g%s", time.amount, unit);
    return text;
}

namespace {

bool isTimePin(const describe::PinDescription& pin) {
    return pin.unit == describe::Unit::Seconds || pin.unit == describe::Unit::Milliseconds;
}

// What a pin's unit lets a person write, for messages.
std::string unitExamples(const describe::PinDescription& pin) {
    switch (pin.unit) {
        case describe::Unit::Seconds:
        case describe::Unit::Milliseconds:
            return " or a duration such as 120ms or 1.5s";
        case describe::Unit::Decibels:
            return " or a level such as -6dB";
        case describe::Unit::Hertz:
            return " or a frequency such as 440Hz or 1.5kHz";
        case describe::Unit::Percent:
            return " or a percentage such as 50%";
        case describe::Unit::None:
            break;
    }
    return "";
}

// Splits off the unit a pin in `unit` may be given in: "-6dB" -> "-6" and Decibels. Returns Pin
// with the text untouched when it carries no such unit.
ValueUnit splitValueUnit(std::string_view& text, describe::Unit unit, double& factor) {
    factor = 1.0;
    auto strip = [&](std::string_view suffix) {
        if (!endsWith(text, suffix)) return false;
        text = trim(text.substr(0, text.size() - suffix.size()));
        return true;
    };
    switch (unit) {
        case describe::Unit::Decibels:
            return strip("dB") || strip("db") ? ValueUnit::Decibels : ValueUnit::Pin;
        case describe::Unit::Hertz:
            if (strip("kHz")) {
                factor = 1000.0;
                return ValueUnit::Hertz;
            }
            return strip("Hz") ? ValueUnit::Hertz : ValueUnit::Pin;
        case describe::Unit::Percent:
            return strip("%") ? ValueUnit::Percent : ValueUnit::Pin;
        default:
            return ValueUnit::Pin;
    }
}

}  // namespace

ParameterSpec parseParameter(std::string_view text, const describe::PinDescription& pin,
                             const std::string& what) {
    ParameterSpec given;
    if (pin.datatype == describe::Datatype::Bool) {
        const std::string_view word = trim(text);
        if (word == "true" || word == "on" || word == "yes") {
            given.raw = 1.0;
        } else if (word == "false" || word == "off" || word == "no") {
            given.raw = 0.0;
        } else if (parseNumber(word, given.raw)) {
            given.raw = given.raw != 0.0 ? 1.0 : 0.0;
        } else {
            throw RenderError(what + ": expected true or false (on/off, 1/0), got " + quoted(text));
        }
        return given;
    }
    if (isTimePin(pin)) {
        std::string_view number;
        TimeUnit unit;
        bool written;
        splitUnit(trim(text), number, unit, written);
        if (!written) {
            if (!parseNumber(number, given.raw))
                throw RenderError(what + ": expected a number" + unitExamples(pin) + ", got " + quoted(text));
            return given;
        }
        given.unit = ValueUnit::Time;
        given.duration = parseTime(text, what);
        if (!(given.duration.amount > 0.0))
            throw RenderError(what + ": a duration must be positive, got " + quoted(text));
        return given;
    }
    std::string_view number = trim(text);
    double factor = 1.0;
    given.unit = splitValueUnit(number, pin.unit, factor);
    if (!parseNumber(number, given.raw)) {
        if (pin.unit == describe::Unit::None)
            throw RenderError(what + ": expected a plain number (the pin value; the pin has no unit), got " +
                              quoted(text));
        throw RenderError(what + ": expected a number" + unitExamples(pin) + ", got " + quoted(text));
    }
    given.raw *= factor;
    return given;
}

float pinValue(const ParameterSpec& given, const describe::PinDescription& pin, double sampleRate) {
    switch (given.unit) {
        case ValueUnit::Pin:
            return static_cast<float>(given.raw);
        case ValueUnit::Time: {
            const double seconds = toSeconds(given.duration, sampleRate);
            return describe::pinValueFor(
                pin, pin.unit == describe::Unit::Milliseconds ? seconds * 1000.0 : seconds);
        }
        case ValueUnit::Decibels:
        case ValueUnit::Hertz:
        case ValueUnit::Percent:
        case ValueUnit::Described:
            break;
    }
    return describe::pinValueFor(pin, given.raw);
}

ParameterSpec describedDefault(const describe::PinDescription& pin) {
    ParameterSpec given;
    if (!pin.defaultValue) return given;
    given.raw = *pin.defaultValue;
    if (pin.datatype != describe::Datatype::Bool) given.unit = ValueUnit::Described;
    return given;
}

std::string settingText(const ParameterSpec& given, const describe::PinDescription& pin, float value) {
    char text[96];
    switch (given.unit) {
        case ValueUnit::Pin:
            std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
            return text;
        case ValueUnit::Time:
            std::snprintf(text, sizeof text, "%.6g (%s)", static_cast<double>(value),
                          timeText(given.duration).c_str());
            return text;
        case ValueUnit::Decibels:
            std::snprintf(text, sizeof text, "%.6g (%gdB)", static_cast<double>(value), given.raw);
            return text;
        case ValueUnit::Hertz:
            std::snprintf(text, sizeof text, "%.6g (%gHz)", static_cast<double>(value), given.raw);
            return text;
        case ValueUnit::Percent:
            std::snprintf(text, sizeof text, "%.6g (%g%%)", static_cast<double>(value), given.raw);
            return text;
        case ValueUnit::Described:
            break;
    }
    std::snprintf(text, sizeof text, "%.6g (default %s)", static_cast<double>(value),
                  describe::formatUserValue(pin, given.raw).c_str());
    return text;
}

}  // namespace kvx::render
