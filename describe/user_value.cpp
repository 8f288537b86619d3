// SPDX-License-Identifier: MIT
// The mapping between user values and pin values.
#include "describe/user_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kvx::describe {

float pinValueFor(const PinDescription& pin, double user) {
    if (!pin.mapping) return static_cast<float>(user);
    const Mapping& mapping = *pin.mapping;
    if (mapping.kind == Mapping::Kind::Linear)
        return static_cast<float>(mapping.scale * user + mapping.offset);
    const double logarithm = mapping.base == 2 ? std::log2(user) : std::log10(user);
    return static_cast<float>(mapping.scale * logarithm + mapping.offset);
}

double userValueFor(const PinDescription& pin, double pinValue) {
    if (!pin.mapping) return pinValue;
    const Mapping& mapping = *pin.mapping;
    const double inner = (pinValue - mapping.offset) / mapping.scale;
    if (mapping.kind == Mapping::Kind::Linear) return inner;
    return std::pow(static_cast<double>(mapping.base), inner);
}

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A finite number filling all of `text` (a leading '+' allowed).
bool finiteNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;  // "+-5" is no number
    }
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

// The units a value for a pin in `pin` may carry, and what one of them makes of `amount`. Times go
// through seconds, in the order `kvx render` computes them (ms / 1000, then * 1000 for a pin in
// ms), so that a patch and a render given the same text send the same float.
struct WrittenUnit {
    const char* suffix;
    Unit pin;
    double (*convert)(double amount);
};
constexpr WrittenUnit WRITTEN_UNITS[] = {
    // Longer suffixes first: "5ms" also ends with "s".
    {"ms", Unit::Seconds, [](double ms) { return ms / 1000.0; }},
    {"s", Unit::Seconds, [](double s) { return s; }},
    {"ms", Unit::Milliseconds, [](double ms) { return ms / 1000.0 * 1000.0; }},
    {"s", Unit::Milliseconds, [](double s) { return s * 1000.0; }},
    {"kHz", Unit::Hertz, [](double kHz) { return kHz * 1000.0; }},
    {"Hz", Unit::Hertz, [](double hz) { return hz; }},
    {"dB", Unit::Decibels, [](double db) { return db; }},
    {"db", Unit::Decibels, [](double db) { return db; }},
    {"%", Unit::Percent, [](double percent) { return percent; }},
};

}  // namespace

std::string userValueExamples(const PinDescription& pin) {
    if (pin.datatype == Datatype::Bool) return "true or false (on/off, yes/no)";
    switch (pin.unit) {
        case Unit::Seconds:
        case Unit::Milliseconds:
            return "a duration such as 5ms or 1.2s";
        case Unit::Hertz:
            return "a frequency such as 440Hz or 1.5kHz";
        case Unit::Decibels:
            return "a level such as -6dB";
        case Unit::Percent:
            return "a percentage such as 50%";
        case Unit::None:
            break;
    }
    return "a plain number (the pin has no unit)";
}

bool parseUserValue(std::string_view text, const PinDescription& pin, double& user) {
    const std::string_view word = trimmed(text);
    if (pin.datatype == Datatype::Bool) {
        if (word == "true" || word == "on" || word == "yes") {
            user = 1.0;
            return true;
        }
        if (word == "false" || word == "off" || word == "no") {
            user = 0.0;
            return true;
        }
        return false;
    }
    if (finiteNumber(word, user)) return true;
    for (const WrittenUnit& unit : WRITTEN_UNITS) {
        const std::string_view suffix = unit.suffix;
        if (unit.pin != pin.unit || !word.ends_with(suffix)) continue;
        double amount = 0.0;
        if (!finiteNumber(trimmed(word.substr(0, word.size() - suffix.size())), amount)) break;
        user = unit.convert(amount);
        return std::isfinite(user);
    }
    return false;
}

std::string formatUserValue(const PinDescription& pin, double user) {
    char text[64];
    if (pin.unit == Unit::None)
        std::snprintf(text, sizeof text, "%.6g", user);
    else
        std::snprintf(text, sizeof text, "%.6g %s", user, unitName(pin.unit));
    return text;
}

}  // namespace kvx::describe
