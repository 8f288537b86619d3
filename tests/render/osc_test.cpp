// SPDX-License-Identifier: MIT
// The example oscillator "KV OSC" through the built tool, as a person runs it: the sine against
// sin(2 pi f n / rate) with f from the description's mapping; the band-limited saw and square
// against their naive shapes; the waveform control's rounding; sync at its sample; standing still
// (and sleeping) at no frequency; the same bits at every block schedule; kvx validate and kvx list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

constexpr double RATE = 48000.0;

struct Rendered {
    ToolRun run;
    std::vector<float> samples;
    std::string wav;  // the file's bytes
};

// kvx render of OSC.kvx with `args`, read back.
Rendered renderOsc(const ScratchFolder& folder, std::vector<std::string> args) {
    static int count = 0;
    const std::string out = folder.path("r" + std::to_string(++count) + ".wav");
    args.insert(args.begin(), {"render", testModulePath("OSC")});
    args.insert(args.end(), {"--out", out});
    Rendered rendered{runKvx(args), {}, {}};
    EXPECT_EQ(rendered.run.status, 0) << rendered.run.err;
    rendered.samples = readWav(out).samples;
    rendered.wav = readFile(out);
    return rendered;
}

// A plain number as a JSON number, anything else (a value with its unit) as a string.
std::string jsonValue(const std::string& value) {
    char* end = nullptr;
    std::strtod(value.c_str(), &end);
    return !value.empty() && *end == '\0' ? value : "\"" + value + "\"";
}

// A score setting the inputs as written: --set would clamp a value past the described range to
// its bound, and these tests send such values on purpose, as a careless host might.
std::vector<std::string> scoreSetting(const ScratchFolder& folder,
                                      const std::vector<std::pair<std::string, std::string>>& settings) {
    static int count = 0;
    const std::string path = folder.path("s" + std::to_string(++count) + ".json");
    std::string parameters;
    for (const auto& [name, value] : settings)
        parameters += (parameters.empty() ? "" : ", ") + ("\"" + name + "\": " + jsonValue(value));
    writeFile(path, "{\"parameters\": {" + parameters + "}}");
    return {"--score", path};
}

long long sleptBlocks(const std::string& report) {
    const size_t at = report.find("slept through ");
    return at == std::string::npos ? -1 : std::atoll(report.c_str() + at + 14);
}

// The frequency a setting in Hz reaches the module as: the description's mapping
// (0.1 log2(Hz) - 0.4, rounded to a float pin value) and back.
double deliveredHertz(double hertz) {
    const float pin = static_cast<float>(0.1 * std::log2(hertz) - 0.4);
    return std::exp2((static_cast<double>(pin) + 0.4) / 0.1);
}

std::string hertzText(double hertz) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17gHz", hertz);
    return text;
}

TEST(Osc, TheSineIsSinOfTwoPiFNOverTheRate) {
    ScratchFolder folder;
    struct Row {
        const char* setting;
        double hertz;  // expected
    };
    for (const Row& row : {Row{"440Hz", deliveredHertz(440.0)}, Row{"1.5kHz", deliveredHertz(1500.0)},
                           Row{"0", 16.0}, Row{"20kHz", deliveredHertz(20000.0)},
                           Row{"30kHz", RATE / 2}}) {  // past Nyquist: held there, not folded back
        SCOPED_TRACE(row.setting);
        std::vector<std::string> args = scoreSetting(folder, {{"frequency", row.setting}});
        args.insert(args.end(), {"--length", "4800smp"});
        const Rendered r = renderOsc(folder, args);
        ASSERT_EQ(r.samples.size(), 4800u);
        for (size_t n = 0; n < r.samples.size(); ++n)
            ASSERT_NEAR(r.samples[n],
                        std::sin(2.0 * std::numbers::pi * row.hertz * static_cast<double>(n) / RATE), 1e-7)
                << "sample " << n;
    }
}

TEST(Osc, SawAndSquareAreTheirShapesExceptTheTwoSamplesAroundEachStep) {
    ScratchFolder folder;
    for (const char* frequency : {"1kHz", "7.5kHz"}) {
        for (int waveform : {1, 2}) {
            SCOPED_TRACE(std::string(frequency) + (waveform == 1 ? " saw" : " square"));
            const Rendered r = renderOsc(folder, {"--set", std::string("frequency=") + frequency, "--set",
                                                  "waveform=" + std::to_string(waveform), "--length", "1s"});
            const std::vector<float>& y = r.samples;
            ASSERT_EQ(y.size(), 48000u);
            const double step = deliveredHertz(std::atof(frequency) * 1000.0) / RATE;
            double sum = 0.0;
            int risingZeroCrossings = 0;
            double phase = 0.0;
            double aroundStep = 0.0;  // the corrections of the samples around the current step
            for (size_t n = 0; n < y.size(); ++n, phase += step) {
                phase -= std::floor(phase);
                const double naive = waveform == 1 ? 2.0 * phase - 1.0 : (phase < 0.5 ? 1.0 : -1.0);
                const double correction = std::fabs(y[n] - naive);
                ASSERT_LE(std::fabs(y[n]), 1.0f) << n;
                // Steps at phase 0 (and 0.5 for the square): a sample within one step of them.
                double distance = std::min(phase, 1.0 - phase);
                if (waveform == 2) distance = std::min(distance, std::fabs(phase - 0.5));
                if (distance > step * (1.0 + 1e-6)) {
                    ASSERT_NEAR(y[n], naive, 1e-6) << "away from a step, sample " << n;
                    if (aroundStep != 0.0) {
                        ASSERT_GE(aroundStep, 0.5) << "too little band-limiting before sample " << n;
                    }
                    aroundStep = 0.0;
                } else {
                    ASSERT_LE(correction, 1.0 + 1e-6) << n;
                    aroundStep += correction;
                }
                sum += y[n];
                if (n > 0 && y[n - 1] < 0.0f && y[n] >= 0.0f) ++risingZeroCrossings;
            }
            EXPECT_NEAR(sum / static_cast<double>(y.size()), 0.0, 2e-3) << "mean";
            EXPECT_NEAR(risingZeroCrossings, std::atof(frequency) * 1000.0, 1.0) << "periods in one second";
        }
    }
}

TEST(Osc, TheWaveformControlTakesTheNearestWaveform) {
    ScratchFolder folder;
    auto render = [&](const std::string& waveform) {
        return renderOsc(folder,
                         {"--set", "frequency=3kHz", "--set", "waveform=" + waveform, "--length", "200smp"})
            .samples;
    };
    const std::vector<float> shapes[] = {render("0"), render("1"), render("2")};
    EXPECT_NE(shapes[0], shapes[1]);
    EXPECT_NE(shapes[1], shapes[2]);
    struct Row {
        const char* value;
        int waveform;
    };
    for (const Row& row :
         {Row{"0.49", 0}, Row{"0.5", 1}, Row{"1.49", 1}, Row{"1.5", 2}, Row{"-3", 0}, Row{"7", 2}})
        EXPECT_EQ(render(row.value), shapes[row.waveform]) << "waveform=" << row.value;
}

TEST(Osc, ASyncEventRestartsThePhaseAtItsSample) {
    ScratchFolder folder;
    struct Row {
        const char* events;  // of a score at 700 Hz
        int restart;         // the last restart's sample, -1 for none
    };
    for (int waveform : {0, 1, 2}) {
        const std::string w = "waveform=" + std::to_string(waveform);
        const std::vector<float> fresh =
            renderOsc(folder, {"--set", "frequency=700Hz", "--set", w, "--length", "3000smp"}).samples;
        for (const Row& row : {Row{R"([{"at": "1000smp", "pin": "sync", "value": "on"}])", 1000},
                               Row{R"([{"at": "1000smp", "pin": "sync", "value": "off"}])", -1},
                               Row{R"([{"at": "999smp", "pin": "sync", "value": "on"},
                                       {"at": "1733smp", "pin": "sync", "value": "on"}])",
                                   1733},
                               Row{R"([{"at": "0smp", "pin": "sync", "value": "on"}])", 0}}) {
            SCOPED_TRACE(w + " " + row.events);
            writeFile(
                folder.path("score.json"),
                std::string(R"({"length": "3000smp", "parameters": {"frequency": "700Hz"}, "events": )") +
                    row.events + "}");
            const std::vector<float> synced =
                renderOsc(folder, {"--score", folder.path("score.json"), "--set", w}).samples;
            ASSERT_EQ(synced.size(), fresh.size());
            const size_t from = row.restart < 0 ? 0 : static_cast<size_t>(row.restart);
            EXPECT_EQ(std::vector<float>(synced.begin() + static_cast<long>(from), synced.end()),
                      std::vector<float>(fresh.begin(), fresh.end() - static_cast<long>(from)));
            if (row.restart > 0) {
                EXPECT_NE(synced[from], fresh[from]) << "the restart is heard";
            }
        }
        // The sync pin is the module's reset: --reset T is the same restart.
        writeFile(folder.path("one.json"), R"({"length": "3000smp", "parameters": {"frequency": "700Hz"},
            "events": [{"at": "1000smp", "pin": "sync", "value": "on"}]})");
        EXPECT_EQ(renderOsc(folder, {"--set", "frequency=700Hz", "--set", w, "--length", "3000smp", "--reset",
                                     "1000smp"})
                      .samples,
                  renderOsc(folder, {"--score", folder.path("one.json"), "--set", w}).samples);
    }
}

TEST(Osc, AtNoFrequencyTheOutputStandsStillAndTheModuleSleeps) {
    ScratchFolder folder;
    struct Row {
        std::string frequency;
        int waveform;
        bool moves;
    };
    for (const Row& row : {Row{"0Hz", 0, false}, Row{"0Hz", 1, false}, Row{"0Hz", 2, false},
                           Row{"-5Hz", 1, false},                     // a NaN pin value
                           Row{"-200", 2, false},                     // 2^-1996 Hz
                           Row{hertzText(RATE * 0x1p-41), 0, false},  // under 2^-40 cycle per sample
                           Row{hertzText(RATE * 0x1p-39), 0, true}, Row{"1Hz", 1, true}}) {
        SCOPED_TRACE(row.frequency + " waveform " + std::to_string(row.waveform));
        std::vector<std::string> args =
            scoreSetting(folder, {{"frequency", row.frequency}, {"waveform", std::to_string(row.waveform)}});
        args.insert(args.end(), {"--length", "1s"});
        const Rendered r = renderOsc(folder, args);
        ASSERT_EQ(r.samples.size(), 48000u);
        const bool constant =
            std::all_of(r.samples.begin(), r.samples.end(), [&](float s) { return s == r.samples[0]; });
        EXPECT_EQ(constant, !row.moves);
        if (row.moves) {
            EXPECT_EQ(sleptBlocks(r.run.out), 0) << r.run.out;
        } else {
            EXPECT_EQ(r.samples[0], row.waveform == 0 ? 0.0f : (row.waveform == 1 ? -1.0f : 1.0f))
                << "phase 0";
            EXPECT_GE(sleptBlocks(r.run.out), 740) << r.run.out;
        }
    }
}

// The frequency jumps to 0 Hz at sample 1000 and back at 3000: the sine stands at the value it
// had reached, the module sleeps, and it goes on from the same phase; changes while it stands are
// heard at their samples.
TEST(Osc, StopsWhereItStandsAndGoesOnFromThere) {
    ScratchFolder folder;
    writeFile(folder.path("stop.json"), R"({"length": "6000smp", "automation": {"frequency":
        [["0smp", "440Hz"], ["1000smp", "440Hz"], ["1000smp", "0Hz"], ["3000smp", "0Hz"],
         ["3000smp", "440Hz"]]}})");
    const Rendered stopped = renderOsc(folder, {"--score", folder.path("stop.json")});
    const std::vector<float> running =
        renderOsc(folder, {"--set", "frequency=440Hz", "--length", "6000smp"}).samples;
    ASSERT_EQ(stopped.samples.size(), 6000u);
    EXPECT_GE(sleptBlocks(stopped.run.out), 25) << stopped.run.out;
    for (size_t n = 0; n < 6000; ++n) {
        const size_t expected = n < 1000 ? n : (n < 3000 ? 1000 : n - 2000);
        ASSERT_EQ(stopped.samples[n], running[expected]) << "sample " << n;
    }

    // Standing still, it takes a new waveform (a square at the phase where it stopped) and a sync
    // (a square at phase 0) at their samples, and goes on from phase 0.
    writeFile(folder.path("changes.json"), R"({"length": "6000smp", "automation": {"frequency":
        [["0smp", "440Hz"], ["1000smp", "440Hz"], ["1000smp", "0Hz"], ["3000smp", "0Hz"],
         ["3000smp", "440Hz"]]}, "events": [{"at": "2000smp", "pin": "waveform", "value": 2},
                                            {"at": "2500smp", "pin": "sync", "value": "on"}]})");
    const std::vector<float> changed = renderOsc(folder, {"--score", folder.path("changes.json")}).samples;
    const std::vector<float> square =
        renderOsc(folder, {"--set", "frequency=440Hz", "--set", "waveform=2", "--length", "3000smp"}).samples;
    ASSERT_EQ(changed.size(), 6000u);
    const float stoppedSquare = running[1000] >= 0.0f ? 1.0f : -1.0f;  // the sine's half of the cycle
    for (size_t n = 1000; n < 6000; ++n) {
        const float expected =
            n < 2000 ? running[1000] : (n < 2500 ? stoppedSquare : (n < 3000 ? 1.0f : square[n - 3000]));
        ASSERT_EQ(changed[n], expected) << "sample " << n;
    }
}

TEST(Osc, EveryBlockScheduleGivesTheSameBits) {
    ScratchFolder folder;
    // Sweeps, a stop and a restart, waveform changes and syncs, each inside a block.
    writeFile(folder.path("score.json"), R"({"length": "0.5s", "automation": {"frequency":
        [["0smp", "50Hz"], ["5000smp", "12kHz"], ["9000smp", "12kHz"], ["9001smp", "0Hz"],
         ["13000smp", "0Hz"], ["13001smp", 0.3], ["20000smp", -0.5]]},
        "events": [{"at": "3001smp", "pin": "waveform", "value": 1},
                   {"at": "7777smp", "pin": "sync", "value": "on"},
                   {"at": "11111smp", "pin": "waveform", "value": 2},
                   {"at": "11500smp", "pin": "sync", "value": "on"},
                   {"at": "17000smp", "pin": "sync", "value": "on"}]})");
    const Rendered reference = renderOsc(folder, {"--score", folder.path("score.json")});
    EXPECT_GT(sleptBlocks(reference.run.out), 0) << reference.run.out;
    for (const std::vector<std::string>& blocks : std::vector<std::vector<std::string>>{
             {"1"}, {"7"}, {"4096"}, {"random"}, {"random", "--seed", "99"}}) {
        std::vector<std::string> args{"--score", folder.path("score.json"), "--block"};
        args.insert(args.end(), blocks.begin(), blocks.end());
        EXPECT_EQ(renderOsc(folder, args).wav, reference.wav) << "--block " << blocks[0];
    }
}

TEST(Osc, PassesTheValidatorAndIsListedBesideTheOtherModules) {
    const ToolRun validate = runKvx({"validate", testModulePath("OSC")});
    EXPECT_EQ(validate.status, 0) << validate.out << validate.err;
    // Sanitizer builds skip the lock count, so only failures are ruled out here.
    EXPECT_NE(validate.out.find(" 0 failed, "), std::string::npos) << validate.out;
    EXPECT_NE(validate.out.find(": VALID"), std::string::npos) << validate.out;

    ScratchFolder folder;
    std::filesystem::create_directory(folder.path("home"));
    for (const std::string name : {"OSC", "VCA"}) {
        std::filesystem::copy_file(testModulePath(name), folder.path(name + ".kvx"));
        std::filesystem::copy_file(testModulePath(name) + ".json", folder.path(name + ".kvx.json"));
    }
    const ToolRun list = runKvx({"list"}, {"KVX_PATH=" + folder.path(""), "HOME=" + folder.path("home")});
    ASSERT_EQ(list.status, 0) << list.err;
    for (const char* row :
         {"\"KV OSC\"    0        osc", "\"KV VCA\"    0        vca", "\"KV ADSR4\"  0        adsr"})
        EXPECT_NE(list.out.find(row), std::string::npos) << row << "\n" << list.out;
}

}  // namespace
}  // namespace kvx::test
