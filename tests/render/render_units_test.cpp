// SPDX-License-Identifier: MIT
// kvx::render units: times as typed, their sample positions, and input settings turned into
// pin values through the pin's description: for the envelope's times its documented time
// mapping (0 -> 1 ms, 0.5 -> 100 ms, 0.75 -> 1 s, 1 -> 10 s for a full-scale transition).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "modules/adsr/segment_math.h"
#include "render/envelope_profile.h"
#include "render/error.h"
#include "render/module.h"
#include "render/units.h"

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

const describe::PinDescription& envelopePin(const char* symbol) {
    return *builtInEnvelopeDescription().modules.front().pinBySymbol(symbol);
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
        EXPECT_FLOAT_EQ(pinValue(parseParameter(c.text, envelopePin("attack"), "--attack"),
                                 envelopePin("attack"), c.rate),
                        c.pin);
    }
}

TEST(RenderUnits, LevelsAndCurvesArePlainNumbers) {
    EXPECT_EQ(
        pinValue(parseParameter("0.3", envelopePin("sustain"), "--sustain"), envelopePin("sustain"), 48000),
        0.3f);
    EXPECT_EQ(pinValue(parseParameter("-0.2", envelopePin("decay_curve"), "--decay-curve"),
                       envelopePin("decay_curve"), 48000),
              -0.2f);
    EXPECT_EQ(errorOf([] {
                  parseParameter("50ms", envelopePin("sustain"), "--sustain");
              }).rfind("--sustain: expected a plain number", 0),
              0u);
    EXPECT_EQ(errorOf([] {
                  parseParameter("1s", envelopePin("attack_curve"), "--attack-curve");
              }).rfind("--attack-curve: expected a plain number", 0),
              0u);
}

TEST(RenderUnits, DurationsMustBePositive) {
    for (const char* text : {"0ms", "-5ms", "0smp", "-1s"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(errorOf([&] {
                      parseParameter(text, envelopePin("release"), "--release");
                  }).find("--release: a duration must be positive"),
                  std::string::npos);
    }
    // A bare negative number is a pin value, which the module clamps itself.
    EXPECT_EQ(
        pinValue(parseParameter("-1", envelopePin("release"), "--release"), envelopePin("release"), 48000),
        -1.0f);
}

TEST(RenderUnits, DescribedTimesGiveTheEnvelopesOwnTimeValuesBitForBit) {
    // The description's logarithmic mapping (0.25 * log10(s) + 0.75) is the module's time mapping
    // inverted ((log10(s) + 3) / 4): one float for every duration, as renders before descriptions.
    const describe::PinDescription& attack = envelopePin("attack");
    for (double seconds = 1e-5; seconds < 2e5; seconds *= 1.0371) {
        SCOPED_TRACE(seconds);
        ParameterSpec given;
        given.unit = ValueUnit::Time;
        given.duration = TimeSpec{seconds, TimeUnit::Seconds, true};
        const float described = pinValue(given, attack, 48000);
        const float own = static_cast<float>(adsr::secondsToTimeValue(seconds));
        ASSERT_EQ(std::memcmp(&described, &own, sizeof own), 0) << described << " vs " << own;
    }
}

TEST(RenderUnits, UnitsFollowThePinsDescription) {
    describe::PinDescription level;
    level.symbol = "level";
    level.datatype = describe::Datatype::Float;
    level.unit = describe::Unit::Decibels;
    EXPECT_EQ(pinValue(parseParameter("-6dB", level, "--set level"), level, 48000), -6.0f);
    EXPECT_EQ(pinValue(parseParameter(" -6 dB ", level, "--set level"), level, 48000), -6.0f);
    EXPECT_EQ(pinValue(parseParameter("-6", level, "--set level"), level, 48000), -6.0f)
        << "plain: the pin value";
    EXPECT_EQ(errorOf([&] {
                  parseParameter("100ms", level, "--set level");
              }).rfind("--set level: expected a number or a level such as -6dB, got '100ms'", 0),
              0u);

    // A percentage the pin receives as a fraction: the mapping applies to user values only.
    describe::PinDescription mix = level;
    mix.unit = describe::Unit::Percent;
    mix.mapping = describe::Mapping{describe::Mapping::Kind::Linear, 10, 0.01, 0.0};
    EXPECT_EQ(pinValue(parseParameter("50%", mix, "--set mix"), mix, 48000), 0.5f);
    EXPECT_EQ(pinValue(parseParameter("0.25", mix, "--set mix"), mix, 48000), 0.25f);

    describe::PinDescription cutoff = level;
    cutoff.unit = describe::Unit::Hertz;
    cutoff.mapping = describe::Mapping{describe::Mapping::Kind::Logarithmic, 2, 1.0, 0.0};
    EXPECT_EQ(pinValue(parseParameter("1.024kHz", cutoff, "--set cutoff"), cutoff, 48000), 10.0f);
    EXPECT_EQ(pinValue(parseParameter("8Hz", cutoff, "--set cutoff"), cutoff, 48000), 3.0f);

    // A time pin in milliseconds takes seconds too.
    describe::PinDescription hold = level;
    hold.unit = describe::Unit::Milliseconds;
    EXPECT_EQ(pinValue(parseParameter("1.5s", hold, "--set hold"), hold, 48000), 1500.0f);
    EXPECT_EQ(pinValue(parseParameter("480smp", hold, "--set hold"), hold, 48000), 10.0f);
}

TEST(RenderUnits, BoolPinsTakeWordsAndNumbers) {
    const describe::PinDescription& gate = envelopePin("gate");
    for (const char* on : {"on", "true", "yes", "1", "-2"})
        EXPECT_EQ(pinValue(parseParameter(on, gate, "--set gate"), gate, 48000), 1.0f) << on;
    for (const char* off : {"off", "false", "no", "0"})
        EXPECT_EQ(pinValue(parseParameter(off, gate, "--set gate"), gate, 48000), 0.0f) << off;
    EXPECT_EQ(errorOf([&] {
                  parseParameter("maybe", gate, "--set gate");
              }).rfind("--set gate: expected true or false", 0),
              0u);
}

}  // namespace
}  // namespace kvx::render
