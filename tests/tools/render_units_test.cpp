// kvx::render units: times as typed, their sample positions, and parameter settings turned into
// pin values through the module's documented time mapping (0 -> 1 ms, 0.5 -> 100 ms,
// 0.75 -> 1 s, 1 -> 10 s for a full-scale transition).
#include <gtest/gtest.h>

#include <string>

#include "tools/render/error.h"
#include "tools/render/units.h"

namespace kvx::render {
namespace {

// The message of the RenderError `parse` throws, or "" when it throws none.
template <typename Parse>
std::string errorOf(Parse parse) {
    try {
        parse();
    } catch (const RenderError& error) {
        return error.what();
    }
    return "";
}

TEST(RenderUnits, TimesGoToTheNearestSampleAtTheRate) {
    struct Case {
        const char* text;
        double rate;
        int64_t sample;
    };
    for (const Case& c : {Case{"0.5", 48000, 24000},      // a bare number is seconds
                          Case{"0.5s", 48000, 24000},     //
                          Case{"120ms", 44100, 5292},     // 0.12 * 44100
                          Case{"480smp", 8000, 480},      // samples ignore the rate
                          Case{" 2 s ", 1000, 2000},      // blanks around number and unit
                          Case{"+1ms", 1000, 1},          //
                          Case{"0.1ms", 48000, 5},        // 4.8 rounds up
                          Case{"0.01ms", 48000, 0},       // 0.48 rounds down
                          Case{"-250ms", 1000, -250}}) {  // negative: the plan refuses it
        SCOPED_TRACE(c.text);
        EXPECT_EQ(toSamples(parseTime(c.text, "t"), c.rate), c.sample);
    }
}

TEST(RenderUnits, FarOffTimesStayFarOffWithoutOverflow) {
    // 1e300 s cannot be a sample count; it must come out huge, with its sign, not wrapped.
    EXPECT_GT(toSamples(parseTime("1e300", "t"), 48000), int64_t{1'000'000'000'000'000});
    EXPECT_LT(toSamples(parseTime("-1e300s", "t"), 48000), -int64_t{1'000'000'000'000'000});
    EXPECT_GT(toSamples(parseTime("1e300smp", "t"), 48000), int64_t{1'000'000'000'000'000});
    EXPECT_LT(toSamples(parseTime("-1e19smp", "t"), 48000), -int64_t{1'000'000'000'000'000});
}

TEST(RenderUnits, MalformedTimesNameTheirFieldAndText) {
    for (const char* text : {"", "abc", "1.2h", "ms", "1e400", "nan", "inf", "1.5.2s", "0x10"}) {
        SCOPED_TRACE(text);
        const std::string message = errorOf([&] { parseTime(text, "notes[2].off"); });
        EXPECT_EQ(message.rfind("notes[2].off: expected a time", 0), 0u) << message;
        EXPECT_NE(message.find("'" + std::string(text) + "'"), std::string::npos) << message;
    }
    EXPECT_NE(errorOf([] { parseTime("10.5smp", "--note"); }).find("whole number"), std::string::npos);
}

TEST(RenderUnits, DurationsBecomePinValuesThroughTheTimeMapping) {
    struct Case {
        const char* text;
        double rate;
        float pin;
    };
    for (const Case& c : {Case{"1ms", 48000, 0.0f}, Case{"100ms", 48000, 0.5f}, Case{"1s", 48000, 0.75f},
                          Case{"10s", 48000, 1.0f}, Case{"0.1", 48000, 0.1f},  // bare: the pin value itself
                          Case{"4800smp", 48000, 0.5f},                        // 100 ms at 48 kHz
                          Case{"4800smp", 4800, 0.75f}}) {                     // 1 s at 4.8 kHz
        SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.rate));
        EXPECT_FLOAT_EQ(pinValue(parseParameter(c.text, ParameterKind::Time, "--attack"), c.rate), c.pin);
    }
}

TEST(RenderUnits, LevelsAndCurvesArePlainNumbers) {
    EXPECT_EQ(pinValue(parseParameter("0.3", ParameterKind::Level, "--sustain"), 48000), 0.3f);
    EXPECT_EQ(pinValue(parseParameter("-0.2", ParameterKind::Curve, "--decay-curve"), 48000), -0.2f);
    EXPECT_EQ(errorOf([] {
                  parseParameter("50ms", ParameterKind::Level, "--sustain");
              }).rfind("--sustain: expected a plain number", 0),
              0u);
    EXPECT_EQ(errorOf([] {
                  parseParameter("1s", ParameterKind::Curve, "--attack-curve");
              }).rfind("--attack-curve: expected a plain number", 0),
              0u);
}

TEST(RenderUnits, DurationsMustBePositive) {
    for (const char* text : {"0ms", "-5ms", "0smp", "-1s"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(errorOf([&] {
                      parseParameter(text, ParameterKind::Time, "--release");
                  }).find("--release: a duration must be positive"),
                  std::string::npos);
    }
    // A bare negative number is a pin value, which the module clamps itself.
    EXPECT_EQ(pinValue(parseParameter("-1", ParameterKind::Time, "--release"), 48000), -1.0f);
}

}  // namespace
}  // namespace kvx::render
