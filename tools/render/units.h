// Quantities as a person types them for `kvx render`: positions and durations with s/ms/smp
// units, and parameter values that are either raw pin values or durations turned into the
// module's time values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
std::string describe(const TimeSpec& time);

// The kinds of parameter the envelope takes on its audio inputs.
enum class ParameterKind {
    Time,
    Level,
    Curve
};

// A parameter setting: the raw pin value, or a duration for a full-scale transition that becomes
// the pin value through the module's time mapping once the sample rate is known.
struct ParameterSpec {
    double raw = 0.0;  // used when !isDuration
    bool isDuration = false;
    TimeSpec duration;
};

// Parses a plain number (raw pin value) or, for time parameters, a positive duration with a unit.
ParameterSpec parseParameter(std::string_view text, ParameterKind kind, const std::string& what);
// The pin value the setting stands for (a duration goes through the inverse time mapping).
float pinValue(const ParameterSpec& given, double sampleRate);

// A finite number filling all of `text` (blanks around it and a leading '+' allowed); false
// otherwise, also for numbers beyond the range of double.
bool parseNumber(std::string_view text, double& value);

}  // namespace kvx::render
