// SPDX-License-Identifier: MIT
// kvx render end to end: the default render read back and compared with the same session run
// here through the host library, the CSV and plot, block-size independence, and units.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <sstream>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "modules/adsr/adsr_pins.h"
#include "modules/adsr/segment_math.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

constexpr int RATE = 48000;

// The default score as the README documents it: 2 s, note on at 0 and off at 1.2 s; attack
// 100 ms, decay 400 ms, sustain 0.5, release 800 ms (full-scale durations), curves 0.1, 0.4, 0.4.
struct Session {
    float attack = 0.5f;
    float decay = static_cast<float>(adsr::secondsToTimeValue(0.4));
    float sustain = 0.5f;
    float release = static_cast<float>(adsr::secondsToTimeValue(0.8));
    float curves[3] = {0.1f, 0.4f, 0.4f};
    int64_t length = 2 * RATE;
    int64_t noteOff = 12 * RATE / 10;
};

// The session driven directly through the host library: only the note's events, fixed blocks.
std::vector<float> hostOutput(const Session& session, int32_t blockSize, bool honourSleep) {
    host::PluginLibrary library(adsrLibraryPath());
    host::PluginInstance instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE);
    instance.host().sampleRate = RATE;
    const float inputs[] = {session.attack,    session.decay,     session.sustain,  session.release,
                            session.curves[0], session.curves[1], session.curves[2]};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
        instance.bindBuffer(pin, static_cast<size_t>(blockSize));
        std::fill_n(instance.buffer(pin), blockSize, inputs[pin - adsr::PIN_ATTACK_TIME]);
    }
    instance.bindBuffer(adsr::PIN_OUTPUT, static_cast<size_t>(blockSize));
    host::SleepingRunner runner(instance, adsr::PIN_OUTPUT);
    runner.honourSleep = honourSleep;
    std::vector<float> output;
    for (int64_t start = 0; start < session.length; start += blockSize) {
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(blockSize, session.length - start));
        host::EventList events;
        if (start == 0) {
            events.addBool(0, adsr::PIN_TRIGGER, true);
            events.addBool(0, adsr::PIN_GATE, true);
        }
        if (session.noteOff >= start && session.noteOff < start + count)
            events.addBool(static_cast<int32_t>(session.noteOff - start), adsr::PIN_GATE, false);
        runner.runBlock(count, events.empty() ? nullptr : events.head());
        const float* out = instance.buffer(adsr::PIN_OUTPUT);
        output.insert(output.end(), out, out + count);
    }
    return output;
}

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ',')) fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

// Index of the first sample equal to `value`, or -1.
int64_t firstEqual(const std::vector<float>& samples, float value, size_t from = 0) {
    for (size_t i = from; i < samples.size(); ++i)
        if (samples[i] == value) return static_cast<int64_t>(i);
    return -1;
}

class DefaultRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new ScratchFolder;
        run = new ToolRun(runKvx({"render", "--out", folder->path("a.wav"), "--csv", folder->path("a.csv"),
                                  "--plot", folder->path("a.png")}));
    }
    static void TearDownTestSuite() {
        delete run;
        delete folder;
    }
    static ScratchFolder* folder;
    static ToolRun* run;
};
ScratchFolder* DefaultRender::folder = nullptr;
ToolRun* DefaultRender::run = nullptr;

TEST_F(DefaultRender, SucceedsAndSaysWhereTheFilesAre) {
    ASSERT_EQ(run->status, 0) << run->err;
    EXPECT_NE(run->out.find("wrote          " + folder->path("a.wav")), std::string::npos) << run->out;
    EXPECT_NE(run->out.find("wrote          " + folder->path("a.csv")), std::string::npos) << run->out;
    EXPECT_NE(run->out.find("wrote          " + folder->path("a.png")), std::string::npos) << run->out;
    EXPECT_EQ(folder->files(), (std::vector<std::string>{"a.csv", "a.png", "a.wav"}))
        << "no temporaries left";
}

TEST_F(DefaultRender, WavIsTheHostsOutputBitForBit) {
    ASSERT_EQ(run->status, 0) << run->err;
    const WavData wav = readWav(folder->path("a.wav"));
    ASSERT_TRUE(wav.opened);
    EXPECT_EQ(wav.rate, RATE);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(wav.samples.size(), 2u * RATE);
    for (bool honourSleep : {true, false}) {
        SCOPED_TRACE(honourSleep ? "host honours sleep" : "host calls every block");
        const std::vector<float> expected = hostOutput(Session{}, 64, honourSleep);
        ASSERT_EQ(expected.size(), wav.samples.size());
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(std::memcmp(&expected[i], &wav.samples[i], sizeof(float)), 0)
                << "sample " << i << ": host " << expected[i] << ", WAV " << wav.samples[i];
    }
    // What a listener hears: a full-scale peak, then the sustain level, then silence.
    EXPECT_GE(firstEqual(wav.samples, 1.0f), 0);
    EXPECT_EQ(wav.samples[RATE], 0.5f) << "sustaining at 1 s";
    EXPECT_EQ(wav.samples.back(), 0.0f);
}

TEST_F(DefaultRender, CsvMatchesTheWavAndNamesTheSegments) {
    ASSERT_EQ(run->status, 0) << run->err;
    const WavData wav = readWav(folder->path("a.wav"));
    const auto rows = csvRows(readFile(folder->path("a.csv")));
    ASSERT_EQ(rows.size(), wav.samples.size() + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"sample", "time_s", "level", "gate", "segment"}));
    const int64_t off = 12 * RATE / 10;
    std::vector<std::string> segments;
    for (size_t n = 0; n < wav.samples.size(); ++n) {
        const auto& row = rows[n + 1];
        ASSERT_EQ(row.size(), 5u) << "row " << n;
        ASSERT_EQ(std::stoll(row[0]), static_cast<long long>(n));
        ASSERT_NEAR(std::stod(row[1]), static_cast<double>(n) / RATE, 1e-9);
        ASSERT_EQ(std::strtof(row[2].c_str(), nullptr), wav.samples[n])
            << "row " << n << " level reads back exactly";
        ASSERT_EQ(row[3], static_cast<int64_t>(n) < off ? "1" : "0") << "row " << n;
        if (segments.empty() || segments.back() != row[4]) segments.push_back(row[4]);
    }
    EXPECT_EQ(segments, (std::vector<std::string>{"attack", "decay", "sustain", "release", "idle"}));

    // Boundaries against the audio: decay starts around the peak, sustain where the level first
    // rests at 0.5, release exactly at the gate off, idle where the level first rests at 0.0.
    auto firstRow = [&](const std::string& name) {
        for (size_t n = 1; n < rows.size(); ++n)
            if (rows[n][4] == name) return static_cast<int64_t>(n - 1);
        return int64_t{-1};
    };
    const int64_t peak = firstEqual(wav.samples, 1.0f);
    EXPECT_LE(std::llabs(firstRow("decay") - peak), 1) << "peak at " << peak;
    EXPECT_LE(std::llabs(firstRow("sustain") - firstEqual(wav.samples, 0.5f)), 1);
    EXPECT_EQ(firstRow("release"), off);
    EXPECT_LE(std::llabs(firstRow("idle") - firstEqual(wav.samples, 0.0f, static_cast<size_t>(off))), 1);
}

TEST(RenderSegments, RetriggerAndResetAreNamedWhereTheyHappen) {
    ScratchFolder folder;
    const ToolRun run =
        runKvx({"render", "--note", "0:0.15", "--note", "0.3:0.6", "--reset", "0.45", "--length", "0.8",
                "--out", folder.path("s.wav"), "--csv", folder.path("s.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("did not follow"), std::string::npos) << run.out;
    const std::vector<float> samples = readWav(folder.path("s.wav")).samples;
    const auto rows = csvRows(readFile(folder.path("s.csv")));
    ASSERT_EQ(rows.size(), samples.size() + 1);
    std::vector<std::pair<std::string, int64_t>> changes;
    for (size_t n = 1; n < rows.size(); ++n)
        if (changes.empty() || changes.back().first != rows[n][4])
            changes.emplace_back(rows[n][4], static_cast<int64_t>(n - 1));
    // Gate off at 0.15 s during the decay, retrigger at 0.3 s from the release level (a shorter
    // attack), reset at 0.45 s; the gate off at 0.6 s finds the envelope idle and does nothing.
    ASSERT_EQ(changes.size(), 6u);
    const std::vector<std::string> names{"attack", "decay", "release", "attack", "decay", "idle"};
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(changes[i].first, names[i]) << i;
    EXPECT_EQ(changes[2].second, 7200);
    EXPECT_EQ(changes[3].second, 14400);
    EXPECT_EQ(changes[5].second, 21600);
    EXPECT_LT(changes[4].second - changes[3].second, 4800) << "the retriggered attack starts above 0";
    // The reset freezes the level: every sample from the reset on equals the one before it.
    for (size_t n = 21600; n < samples.size(); ++n) ASSERT_EQ(samples[n], samples[21599]) << n;
    EXPECT_GT(samples[21599], 0.5f);
}

TEST_F(DefaultRender, PlotIsAPng) {
    ASSERT_EQ(run->status, 0) << run->err;
    const std::string png = readFile(folder->path("a.png"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST(RenderFiles, TheSameRenderGivesTheSameBytes) {
    ScratchFolder folder;
    for (const char* name : {"1", "2"}) {
        const ToolRun run = runKvx({"render", "--out", folder.path(std::string(name) + ".wav"), "--csv",
                                    folder.path(std::string(name) + ".csv"), "--plot",
                                    folder.path(std::string(name) + ".png")});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    for (const char* type : {".wav", ".csv", ".png"}) {
        SCOPED_TRACE(type);
        const std::string first = readFile(folder.path(std::string("1") + type));
        EXPECT_FALSE(first.empty());
        EXPECT_TRUE(first == readFile(folder.path(std::string("2") + type)))
            << "no time stamps or other noise";
    }
}

TEST(RenderPlot, SvgWhenAskedFor) {
    ScratchFolder folder;
    const ToolRun run = runKvx({"render", "--plot", folder.path("figure.svg")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string svg = readFile(folder.path("figure.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_EQ(folder.files(), std::vector<std::string>{"figure.svg"});
}

std::vector<float> renderWav(const std::vector<std::string>& extra, std::string* out = nullptr) {
    ScratchFolder folder;
    std::vector<std::string> args{"render", "--out", folder.path("r.wav")};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = runKvx(args);
    EXPECT_EQ(run.status, 0) << run.err;
    if (out) *out = run.out;
    return readWav(folder.path("r.wav")).samples;
}

// The numbers the failure table refuses just past their limits, at the limits themselves.
TEST(RenderLimits, TheLeastAndMostRatesAndTheShortestLengthRender) {
    for (const auto& [rate, length] : {std::pair{"1", "3smp"}, {"768000", "10smp"}, {"48000", "1smp"}}) {
        SCOPED_TRACE(std::string(rate) + " Hz, " + length);
        ScratchFolder folder;
        const ToolRun run =
            runKvx({"render", "--rate", rate, "--length", length, "--out", folder.path("r.wav")});
        ASSERT_EQ(run.status, 0) << run.err;
        const WavData wav = readWav(folder.path("r.wav"));
        EXPECT_EQ(wav.rate, std::stoi(rate));
        EXPECT_EQ(wav.samples.size(), std::stoul(std::string(length)));
    }
}

TEST(RenderBlocks, BlockSizesGiveTheSameBits) {
    // A retrigger during the release and a reset make the sleep and wake paths matter.
    const std::vector<std::string> score{"--note", "0:0.3",  "--note",  "0.5:0.9",  "--reset",
                                         "1.3",    "--note", "1.5:1.7", "--length", "2.5"};
    auto with = [&](std::vector<std::string> blocks) {
        blocks.insert(blocks.begin(), score.begin(), score.end());
        return renderWav(blocks);
    };
    const std::vector<float> reference = with({"--block", "64"});
    ASSERT_EQ(reference.size(), 120000u);
    for (const auto& blocks :
         std::vector<std::vector<std::string>>{{"--block", "1"},
                                               {"--block", "random"},
                                               {"--block", "random", "--seed", "99"},
                                               {"--block", "509"},
                                               {"--block", "65536"},
                                               {"--block", "random", "--seed", "4294967295"}}) {
        SCOPED_TRACE(blocks.back());
        const std::vector<float> other = with(blocks);
        ASSERT_EQ(other.size(), reference.size());
        EXPECT_EQ(std::memcmp(other.data(), reference.data(), reference.size() * sizeof(float)), 0);
    }
}

TEST(RenderFormats, PcmFilesHoldTheFloatRenderToTheirResolution) {
    const std::vector<float> reference = renderWav({});
    struct Case {
        std::string name;
        int subtype;
        double step;  // one least significant bit, as libsndfile scales on reading
    };
    for (const Case& c :
         {Case{"pcm16", SF_FORMAT_PCM_16, 1.0 / 32768}, Case{"pcm24", SF_FORMAT_PCM_24, 1.0 / 8388608}}) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const ToolRun run = runKvx({"render", "--format", c.name, "--out", folder.path("p.wav")});
        ASSERT_EQ(run.status, 0) << run.err;
        const WavData wav = readWav(folder.path("p.wav"));
        EXPECT_EQ(wav.format, SF_FORMAT_WAV | c.subtype);
        ASSERT_EQ(wav.samples.size(), reference.size());
        for (size_t i = 0; i < reference.size(); ++i)
            ASSERT_NEAR(wav.samples[i], reference[i], c.step) << "sample " << i;
    }
}

// The value the tool says it used for a duration flag.
double printedValue(const std::string& out, const std::string& name, const std::string& unit) {
    // A line "<name>   <value> (<unit>)".
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string first, value, written;
        fields >> first >> value >> written;
        if (first == name && written == "(" + unit + ")") return std::stod(value);
    }
    return NAN;
}

TEST(RenderUnits, DurationsBecomeTimeValues) {
    // The time mapping: 10^(4t - 3) seconds, so 100 ms -> 0.5 and 1 s -> 0.75.
    std::string out;
    renderWav({"--attack", "100ms", "--release", "1s", "--length", "0.2"}, &out);
    EXPECT_NEAR(printedValue(out, "attack", "100ms"), 0.5, 1e-6) << out;
    EXPECT_NEAR(printedValue(out, "release", "1s"), 0.75, 1e-6) << out;
    renderWav({"--decay", "10ms", "--length", "0.2"}, &out);
    EXPECT_NEAR(printedValue(out, "decay", "10ms"), 0.25, 1e-6) << out;
}

TEST(RenderUnits, AFullScaleAttackTakesItsDuration) {
    struct Case {
        std::string attack;
        int rate;
        double seconds;
    };
    for (const Case& c : {Case{"100ms", 48000, 0.1}, Case{"1s", 48000, 1.0}, Case{"0.1s", 44100, 0.1},
                          Case{"25ms", 96000, 0.025}}) {
        SCOPED_TRACE(c.attack + " at " + std::to_string(c.rate));
        const std::vector<float> samples = renderWav(
            {"--attack", c.attack, "--rate", std::to_string(c.rate), "--note", "0:2", "--length", "1.5"});
        // The attack starts on sample 0 and reaches full scale after seconds * rate steps.
        const double expected = c.seconds * c.rate - 1.0;
        EXPECT_NEAR(static_cast<double>(firstEqual(samples, 1.0f)), expected, 1.0);
    }
}

TEST(RenderUnits, PlainNumbersAreRawPinValues) {
    EXPECT_EQ(renderWav({"--attack", "0.5"}), renderWav({"--attack", "100ms"}));
    EXPECT_NE(renderWav({"--attack", "0.6"}), renderWav({"--attack", "100ms"}));
}

TEST(RenderUnits, NoteTimesInEveryUnitMeanTheSameSamples) {
    const std::vector<float> samples = renderWav({"--note", "24000smp:36000smp", "--length", "1"});
    EXPECT_EQ(renderWav({"--note", "500ms:750ms", "--length", "1"}), samples);
    EXPECT_EQ(renderWav({"--note", "0.5:0.75s", "--length", "48000smp"}), samples);
    ASSERT_EQ(samples.size(), 48000u);
    EXPECT_EQ(samples[23999], 0.0f) << "nothing before the note";
    EXPECT_GT(samples[24000], 0.0f) << "the attack's first step is on the note's sample";
}

}  // namespace
}  // namespace kvx::test
