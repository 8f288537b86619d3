// SPDX-License-Identifier: MIT
// Quantities as a person types them for `kvx render`: positions and durations with s/ms/smp
// units, and input settings that are either raw pin values or user values with a unit, turned
// into pin values through the pin's description.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "describe/description.h"

namespace kvx::render {

enum class TimeUnit {
    Seconds,
    Milliseconds,
    Samples
};

// A time as written: a number and its unit (a bare number is in seconds).
struct TimeSpec {
    double amount = 0.0;
    TimeUnit unit = TimeUnit::Seconds;
    bool unitWritten = false;
};

// Parses "1.2", "1.2s", "120ms" or "480smp". Throws RenderError naming `what` when the text is
// not a finite number with one of those units.
TimeSpec parseTime(std::string_view text, const std::string& what);
// The nearest sample index (clamped to +-9e15, far beyond any render) / the time in seconds at
// `sampleRate`.
int64_t toSamples(const TimeSpec& time, double sampleRate);
double toSeconds(const TimeSpec& time, double sampleRate);
// "120ms", "1.5s", "480smp" back as text.
std::string timeText(const TimeSpec& time);

// A setting of an input pin as written: a plain number is the pin value a host sends; a number
// with a unit is a user value (a duration, a level in dB, a frequency, a percentage) that becomes
// the pin value through the pin's mapping once the sample rate is known. Bool pins take true/false,
// on/off or a number (nonzero is true).
enum class ValueUnit {
    Pin,       // `raw` is the pin value itself
    Time,      // `duration`, converted to the pin's unit (s or ms)
    Decibels,  // `raw` in dB
    Hertz,     // `raw` in Hz (kHz already multiplied out)
    Percent,   // `raw` in %
    Described  // `raw` is a user value in the pin's own unit (its description's default)
};

struct ParameterSpec {
    ValueUnit unit = ValueUnit::Pin;
    double raw = 0.0;
    TimeSpec duration;

    bool isDuration() const { return unit == ValueUnit::Time; }
};

// Parses `text` for `pin`: units are accepted as the pin's unit allows (s/ms/smp for a pin in
// s or ms, dB, Hz/kHz, %); durations must be positive. Throws RenderError naming `what`.
ParameterSpec parseParameter(std::string_view text, const describe::PinDescription& pin,
                             const std::string& what);
// The setting in the pin's user unit (ms for a pin in ms); none for a time in samples, which needs
// a rate. A level in dB, a frequency or a percentage is written in that unit already.
std::optional<double> userValueOf(const ParameterSpec& given, const describe::PinDescription& pin);
// The pin value the setting stands for.
float pinValue(const ParameterSpec& given, const describe::PinDescription& pin, double sampleRate);
// "0.5 (100ms)" for a value with a unit, "0.6" for a plain one: the pin value and what was written.
std::string settingText(const ParameterSpec& given, const describe::PinDescription& pin, float value);
// The setting a pin has while nobody sets it: its description's default (0 without one).
ParameterSpec describedDefault(const describe::PinDescription& pin);

// A finite number filling all of `text` (blanks around it and a leading '+' allowed); false
// otherwise, also for numbers beyond the range of double.
bool parseNumber(std::string_view text, double& value);

}  // namespace kvx::render
