// SPDX-License-Identifier: MIT
// host::Patch through the real libraries: one module equals kvx render's own rendering of it;
// patches give the same bits at every block schedule and with sleep honoured or not, while the
// call counts show their chains slept; a stream end reaches the input downstream at the sample
// its upstream went constant; a delayed connection and a loop closed by one carry the sample
// before; and what cannot run is refused with its reason.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/patch.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/host/patch_harness.h"
#include "tests/host/stream_probe.h"

namespace kvx::test {
namespace {

using host::EventRank;
using host::PatchConnection;
using host::PatchGraph;

constexpr int32_t VCA_INPUT = 0, VCA_CONTROL = 1, VCA_OUTPUT = 3;
constexpr int32_t SUM_A = 0, SUM_B = 1, SUM_OUTPUT = 2;

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The first sample where two renderings differ, for messages.
std::string firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return "sample " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
    return a.size() == b.size() ? "none"
                                : "lengths " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
}

// Two notes, the second retriggering during the first's release; then silence.
Score twoNotes(int32_t envelope, int64_t length = 6000) {
    return Score{{{envelope, 100, 1400}, {envelope, 1500, 2600}}, {}, length};
}

// env -> vca.control, the vca's input a ramp the caller drives.
PatchGraph envelopeIntoVca() {
    return PatchGraph{"env-vca",
                     {adsrModule("env"), vcaModule("vca", 0.0f)},
                     {{0, adsr::PIN_OUTPUT, 1, VCA_CONTROL, false}},
                     {{"out", 1, VCA_OUTPUT}}};
}
Score envelopeIntoVcaScore() {
    Score score = twoNotes(0);
    score.ramps.push_back(Ramp{1, VCA_INPUT, 50, 3000, -0.5f, 0.9f});
    return score;
}

// env -> sum.a; sum -> vca.input; vca -> sum.b one sample late: y[i] = env[i] + 0.5 y[i-1].
PatchGraph feedbackLoop() {
    return PatchGraph{"loop",
                     {adsrModule("env"), sumModule("sum"), vcaModule("vca", 0.5f)},
                     {{0, adsr::PIN_OUTPUT, 1, SUM_A, false},
                      {1, SUM_OUTPUT, 2, VCA_INPUT, false},
                      {2, VCA_OUTPUT, 1, SUM_B, true}},
                     {{"out", 1, SUM_OUTPUT}}};
}

// env -> vca1.control, vca1 -> vca2.input: constant inputs elsewhere, so the chain can sleep.
PatchGraph sleepyChain() {
    return PatchGraph{"chain",
                     {adsrModule("env", 0.6f), vcaModule("vca1", 0.0f), vcaModule("vca2", 0.7f, -6.0f)},
                     {{0, adsr::PIN_OUTPUT, 1, VCA_CONTROL, false}, {1, VCA_OUTPUT, 2, VCA_INPUT, false}},
                     {{"out", 2, VCA_OUTPUT}, {"env", 0, adsr::PIN_OUTPUT}}};
}
PatchGraph sleepyChainWithInput() {
    PatchGraph graph = sleepyChain();
    graph.modules[1].pins[0].initial = 0.25f;
    return graph;
}

struct Example {
    const char* name;
    PatchGraph (*graph)();
    Score (*score)();
};

const Example EXAMPLES[] = {
    {"EnvelopeIntoVcaOnARamp", envelopeIntoVca, envelopeIntoVcaScore},
    {"FeedbackLoopWithOneSampleDelay", feedbackLoop, [] { return twoNotes(0); }},
    {"ChainThatSleeps", sleepyChainWithInput, [] { return twoNotes(0, 9000); }},
};

void PrintTo(const Example& example, std::ostream* out) { *out << example.name; }

class PatchExamples : public ::testing::TestWithParam<Example> {};

TEST_P(PatchExamples, GiveTheSameBitsAtEveryBlockScheduleAndWithOrWithoutSleep) {
    const Example& example = GetParam();
    const PatchGraph graph = example.graph();
    const Score score = example.score();
    const PatchRun reference = runPatch(graph, score, blockSizes(score.length, 1));
    struct Schedule {
        const char* name;
        int32_t size;
        uint32_t seed;
    };
    const Schedule schedules[] = {{"7", 7, 0},        {"64", 64, 0},      {"4096", 4096, 0},
                                  {"random 1", 0, 1}, {"random 2", 0, 2}, {"random 3", 0, 3}};
    for (const Schedule& schedule : schedules) {
        for (bool honour : {true, false}) {
            const PatchRun run =
                runPatch(graph, score, blockSizes(score.length, schedule.size, schedule.seed), honour);
            for (size_t o = 0; o < reference.outputs.size(); ++o)
                EXPECT_TRUE(sameBits(run.outputs[o], reference.outputs[o]))
                    << "output " << o << ", blocks of " << schedule.name
                    << (honour ? "" : ", every module called") << ": first difference at "
                    << firstDifference(run.outputs[o], reference.outputs[o]);
            EXPECT_EQ(run.stats.mergedReports, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Host, PatchExamples, ::testing::ValuesIn(EXAMPLES),
                         [](const ::testing::TestParamInfo<Example>& info) {
                             return std::string(info.param.name);
                         });

TEST(Patch, OneModuleEqualsKvxRenderOfItBitForBit) {
    struct Row {
        const char* what;
        host::PatchModule module;
        Score score;
        render::BlockSizing sizing;
    };
    Score vcaScore{{}, {{0, VCA_INPUT, 0, 900, 0.0f, 1.0f}, {0, VCA_CONTROL, 300, 2000, 1.0f, 0.25f}}, 2500};
    const Row rows[] = {
        {"envelope, blocks of 64", adsrModule("env"), twoNotes(0), {64, false, 1}},
        {"envelope, random blocks", adsrModule("env", 0.3f), twoNotes(0), {64, true, 7}},
        {"VCA on ramps, blocks of 7", vcaModule("vca", 1.0f, -3.0f), vcaScore, {7, false, 1}},
    };
    for (const Row& row : rows) {
        const render::SessionResult alone = renderAlone(row.module, 0, row.score, row.sizing);
        // The same schedule as the render's.
        std::vector<int32_t> sizes;
        std::mt19937 generator(row.sizing.seed);
        for (int64_t done = 0; done < row.score.length;) {
            int32_t n = row.sizing.random
                            ? 1 + static_cast<int32_t>(generator() % render::BlockSizing::MAX_RANDOM)
                            : row.sizing.size;
            n = static_cast<int32_t>(std::min<int64_t>(n, row.score.length - done));
            sizes.push_back(n);
            done += n;
        }
        const host::PatchModule& m = row.module;
        int32_t outputPin = 0;
        for (const host::PatchPin& pin : m.pins)
            if (pin.kind == host::PatchPinKind::AudioOut) outputPin = pin.id;
        const PatchRun run = runPatch(PatchGraph{"one", {m}, {}, {{"out", 0, outputPin}}}, row.score, sizes);
        EXPECT_TRUE(sameBits(run.outputs[0], alone.output()))
            << row.what << ": first difference at " << firstDifference(run.outputs[0], alone.output());
        EXPECT_EQ(run.modules[0].calls, alone.stats.blocksCalled)
            << row.what << ": called when kvx render calls it";
    }
}

TEST(Patch, AChainSleepsWhileNothingMovesAndWakesForTheNextNote) {
    const Score score = twoNotes(0, 20000);
    const std::vector<int32_t> sizes = blockSizes(score.length, 64);
    const PatchRun honoured = runPatch(sleepyChainWithInput(), score, sizes, true);
    const PatchRun everyBlock = runPatch(sleepyChainWithInput(), score, sizes, false);
    const auto blocks = static_cast<int64_t>(sizes.size());
    for (size_t m = 0; m < 3; ++m) {
        EXPECT_EQ(everyBlock.modules[m].calls, blocks);
        // Still from sample 0 with a countdown of one block: asleep after the first block, and
        // through most of the silence.
        EXPECT_LT(honoured.modules[m].calls, blocks / 3) << "module " << m;
        EXPECT_TRUE(honoured.asleep[m][0]) << "module " << m;
        EXPECT_TRUE(honoured.asleep[m].back()) << "module " << m << " sleeps at the end";
    }
    // Awake while the note moves: the first note's attack starts at sample 100 (block 1).
    EXPECT_FALSE(honoured.asleep[2][2]);
    EXPECT_TRUE(sameBits(honoured.outputs[0], everyBlock.outputs[0]));
    // Not silence: the chain carries the notes (0.25 x env x 0.7 x -6 dB).
    float loudest = 0.0f;
    for (float sample : honoured.outputs[0]) loudest = std::max(loudest, sample);
    EXPECT_GT(loudest, 0.25f * 0.7f * 0.45f);
}

// The score's notes played on `patch` (module 0 the envelope) over `sizes`; its first output.
std::vector<float> playNotes(host::Patch& patch, const Score& score, const std::vector<int32_t>& sizes) {
    int64_t position = 0;
    std::vector<float> out;
    for (int32_t n : sizes) {
        std::vector<host::PatchEvent> events;
        for (const Note& note : score.notes) {
            if (note.off >= position && note.off < position + n)
                events.push_back({0, static_cast<int32_t>(note.off - position), EV_PIN_VALUE, adsr::PIN_GATE,
                                  0.0f, EventRank::Note});
            if (note.on >= position && note.on < position + n) {
                events.push_back({0, static_cast<int32_t>(note.on - position), EV_PIN_VALUE,
                                  adsr::PIN_TRIGGER, 1.0f, EventRank::Note});
                events.push_back({0, static_cast<int32_t>(note.on - position), EV_PIN_VALUE, adsr::PIN_GATE,
                                  1.0f, EventRank::Note});
            }
        }
        std::stable_sort(
            events.begin(), events.end(),
            [](const host::PatchEvent& a, const host::PatchEvent& b) { return a.timestamp < b.timestamp; });
        patch.runBlock(n, events);
        out.insert(out.end(), patch.output(0), patch.output(0) + n);
        position += n;
    }
    return out;
}

std::vector<StreamProbeRecord> probeRecords(host::Patch& patch, int32_t probe) {
    std::vector<StreamProbeRecord> received(64);
    received.resize(static_cast<size_t>(patch.plugin(probe)->customCall(
        STREAM_PROBE_READ, static_cast<intptr_t>(received.size()), received.data())));
    return received;
}

// What a probe downstream received, against what the envelope alone reported to kvx render's
// host: each change of state, at its sample (repeats of a state tell an input nothing).
TEST(Patch, AnInputDownstreamIsToldAtTheSampleItsUpstreamChanged) {
    const Score score = twoNotes(0, 5000);
    const render::SessionResult alone = renderAlone(adsrModule("env"), 0, score, {64, false, 1});
    std::vector<StreamProbeRecord> told;
    for (const render::StreamMark& mark : alone.marks)
        if (told.empty() || (told.back().type == EV_STREAM_BEGIN) != mark.streaming)
            told.push_back(
                {mark.sample, mark.streaming ? EV_STREAM_BEGIN : EV_STREAM_END, STREAM_PROBE_INPUT});
    ASSERT_GE(told.size(), 6u) << "graph start, two notes with their sustains and the release's end";

    for (bool delayed : {false, true}) {
        const PatchGraph graph{"probe",
                             {adsrModule("env"), probeModule("probe")},
                             {{0, adsr::PIN_OUTPUT, 1, STREAM_PROBE_INPUT, delayed}},
                             {{"out", 1, STREAM_PROBE_OUTPUT}}};
        host::Patch patch(graph, 48000.0f, PATCH_MAX_BLOCK);
        const std::vector<float> out = playNotes(patch, score, blockSizes(score.length, 0, 5));
        const std::vector<StreamProbeRecord> received = probeRecords(patch, 1);
        std::vector<StreamProbeRecord> expected = told;
        if (delayed) {
            // One sample late; the first sample is the pin's initial value, constant.
            for (StreamProbeRecord& record : expected) ++record.sample;
            expected.insert(expected.begin(), {0, EV_STREAM_END, STREAM_PROBE_INPUT});
        }
        ASSERT_EQ(received.size(), expected.size()) << (delayed ? "delayed" : "undelayed");
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(received[i].sample, expected[i].sample)
                << "record " << i << (delayed ? ", delayed" : "");
            EXPECT_EQ(received[i].type, expected[i].type) << "record " << i << (delayed ? ", delayed" : "");
        }
        // The probe passes its input on: the envelope itself, or one sample late.
        const std::vector<float>& envelope = alone.output();
        for (size_t i = 0; i < envelope.size(); ++i) {
            const float want = delayed ? (i == 0 ? 0.0f : envelope[i - 1]) : envelope[i];
            ASSERT_EQ(out[i], want) << "sample " << i << (delayed ? ", delayed" : "");
        }
    }
}

// The loop's samples computed here from the envelope alone: y[i] = env[i] + vca(y[i-1]), the
// VCA at control 0.5 and 0 dB halving its input in double and flushing what is too small for a
// normal float.
TEST(Patch, ALoopClosedByAOneSampleDelayCarriesTheSampleBefore) {
    const Score score = twoNotes(0);
    const render::SessionResult alone = renderAlone(adsrModule("env"), 0, score, {64, false, 1});
    const PatchRun run = runPatch(feedbackLoop(), score, blockSizes(score.length, 0, 11));
    float previous = 0.0f;  // sum.b's initial value
    bool grew = false;
    for (size_t i = 0; i < alone.output().size(); ++i) {
        const double half = static_cast<double>(previous) * 0.5;
        const float y = alone.output()[i] + (std::fabs(half) < FLT_MIN ? 0.0f : static_cast<float>(half));
        ASSERT_EQ(run.outputs[0][i], y) << "sample " << i;
        grew = grew || y > alone.output()[i] * 1.5f;
        previous = y;
    }
    EXPECT_TRUE(grew) << "the feedback adds up";
    ASSERT_EQ(host::Patch(feedbackLoop(), 48000.0f, 64).stages().size(), 2u);
    const host::PatchStage loop = host::Patch(feedbackLoop(), 48000.0f, 64).stages()[1];
    EXPECT_TRUE(loop.perSample);
    EXPECT_EQ(loop.modules, (std::vector<int32_t>{1, 2})) << "sum feeds the vca without a delay";
}

TEST(Patch, RunsModulesAfterThoseThatFeedThemTiesInSpecOrder) {
    // vca2 <- vca1 <- env listed backwards, and an unconnected probe first.
    const PatchGraph graph{"order",
                         {probeModule("probe"), vcaModule("vca2"), vcaModule("vca1"), adsrModule("env")},
                         {{3, adsr::PIN_OUTPUT, 2, VCA_CONTROL, false}, {2, VCA_OUTPUT, 1, VCA_INPUT, false}},
                         {}};
    std::vector<int32_t> order;
    const host::Patch patch(graph, 48000.0f, 64);
    for (const host::PatchStage& stage : patch.stages()) {
        EXPECT_FALSE(stage.perSample);
        order.insert(order.end(), stage.modules.begin(), stage.modules.end());
    }
    EXPECT_EQ(order, (std::vector<int32_t>{0, 3, 2, 1}));
}

TEST(Patch, RefusesWhatCannotRunWithItsReason) {
    struct Row {
        const char* what;
        void (*change)(PatchGraph&);
        const char* message;
    };
    const Row rows[] = {
        {"loop without a delay",
         [](PatchGraph& s) {
             s.connections.push_back({2, VCA_OUTPUT, 1, VCA_INPUT, false});
         },
         "chain: ambiguous feedback: vca1 -> vca2 -> vca1 is a loop of connections without a one-sample "
         "delay"},
        {"module feeding itself",
         [](PatchGraph& s) {
             s.connections.push_back({2, VCA_OUTPUT, 2, VCA_CONTROL, false});
         },
         "ambiguous feedback: vca2 -> vca2"},
        {"input connected twice",
         [](PatchGraph& s) {
             s.connections.push_back({0, adsr::PIN_OUTPUT, 2, VCA_INPUT, false});
         },
         "connection 2 (env.9 -> vca2.0): input 0 of vca2 is already connected; an input takes one "
         "connection"},
        {"unknown pin", [](PatchGraph& s) { s.connections[0].fromPin = 42; },
         "connection 0 (env.42 -> vca1.1): pin 42 of env is not a pin the patch drives"},
        {"into an output", [](PatchGraph& s) { s.connections[0].toPin = VCA_OUTPUT; },
         "pin 3 of vca1 is an audio output, not an audio input"},
        {"from a control", [](PatchGraph& s) { s.connections[0].fromPin = adsr::PIN_GATE; },
         "pin 1 of env is a bool input, not an audio output"},
        {"unknown module", [](PatchGraph& s) { s.connections[1].toModule = 3; }, "no module 3 in the patch"},
        {"negative module", [](PatchGraph& s) { s.connections[1].fromModule = -1; },
         "no module -1 in the patch"},
        {"output of no pin", [](PatchGraph& s) { s.outputs[0].pin = VCA_INPUT; },
         "output \"out\": pin 0 of vca2 is an audio input, not an audio output"},
        {"pins out of order", [](PatchGraph& s) { std::swap(s.modules[1].pins[0], s.modules[1].pins[1]); },
         "the pins of vca1 are not in ascending id order without repeats (pin 0)"},
        {"no modules",
         [](PatchGraph& s) {
             s = PatchGraph{"chain", {}, {}, {}};
         },
         "chain: the patch has no modules"},
        {"missing library", [](PatchGraph& s) { s.modules[1].libraryPath = "/no/such/VCA.kvx"; },
         "chain: vca1: "},
        {"unknown module id", [](PatchGraph& s) { s.modules[2].id = u"KV NOTHING"; }, "chain: vca2: "},
        {"pin the module refuses",
         [](PatchGraph& s) {
             s.modules[1].pins.push_back({77, host::PatchPinKind::AudioIn, 0.0f});
         },
         "chain: vca1: the module refuses a buffer for pin 77"},
    };
    for (const Row& row : rows) {
        PatchGraph graph = sleepyChain();
        row.change(graph);
        try {
            host::Patch patch(graph, 48000.0f, 64);
            ADD_FAILURE() << row.what << ": accepted";
        } catch (const host::HostError& error) {
            EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos)
                << row.what << ": " << error.what();
        }
    }
    // The same loop with one of its connections delayed runs.
    PatchGraph closed = sleepyChain();
    closed.connections.push_back({2, VCA_OUTPUT, 1, VCA_INPUT, true});
    EXPECT_NO_THROW(host::Patch(closed, 48000.0f, 64));
    EXPECT_THROW(host::Patch(sleepyChain(), 48000.0f, 0), host::HostError);
    EXPECT_THROW(host::Patch(sleepyChain(), 0.0f, 64), host::HostError);
}

TEST(Patch, RefusesABlockItCannotRunBeforeRunningAnything) {
    host::Patch patch(sleepyChain(), 48000.0f, 64);
    auto note = [](int32_t module, int32_t at) {
        return host::PatchEvent{module, at, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f, EventRank::Note};
    };
    const std::vector<host::PatchEvent> outOfOrder = {note(0, 5), note(1, 9), note(0, 4)};
    const std::vector<host::PatchEvent> pastTheEnd = {note(0, 64)};
    const std::vector<host::PatchEvent> beforeTheStart = {note(0, -1)};
    const std::vector<host::PatchEvent> noModule = {note(3, 0)};
    try {
        patch.runBlock(65);
        ADD_FAILURE() << "a block past the largest ran";
    } catch (const host::HostError& error) {
        EXPECT_STREQ(error.what(), "chain: a block of 65 samples, buffers of 64");
    }
    EXPECT_THROW(patch.runBlock(-1), host::HostError);
    EXPECT_THROW(patch.runBlock(64, outOfOrder), host::HostError);
    EXPECT_THROW(patch.runBlock(64, pastTheEnd), host::HostError);
    EXPECT_THROW(patch.runBlock(64, beforeTheStart), host::HostError);
    EXPECT_THROW(patch.runBlock(64, noModule), host::HostError);
    EXPECT_THROW(patch.runBlock(0, std::vector<host::PatchEvent>{note(0, 0)}), host::HostError);
    EXPECT_EQ(patch.stats().calls, 0);
    // Interleaved modules, each in time order, and the largest block: fine.
    const std::vector<host::PatchEvent> interleaved = {note(0, 5), note(1, 2), note(0, 63)};
    EXPECT_NO_THROW(patch.runBlock(64, interleaved));
    EXPECT_EQ(patch.stats().calls, 3);
    EXPECT_NO_THROW(patch.runBlock(0));
    EXPECT_EQ(patch.stats().calls, 3);
    host::Patch few(sleepyChain(), 48000.0f, 64, host::PatchLimits{2});
    EXPECT_THROW(few.runBlock(64, interleaved), host::HostError);
}

// env -> vca.control, osc -> vca.input, vca -> probe: a voice. While the envelope stands at 0
// (before the first note, after the last release) the VCA's output is 0 whatever the oscillator
// does, and the VCA says so at the envelope's own sample and sleeps, while the oscillator runs.
TEST(Patch, AnIdleVoiceCostsItsOscillatorOnly) {
    constexpr int32_t OSC_OUTPUT = 3;
    const PatchGraph graph{
        "voice",
        {adsrModule("env"), oscModule("osc"), vcaModule("vca"), probeModule("probe")},
        {{0, adsr::PIN_OUTPUT, 2, VCA_CONTROL, false},
         {1, OSC_OUTPUT, 2, VCA_INPUT, false},
         {2, VCA_OUTPUT, 3, STREAM_PROBE_INPUT, false}},
        {{"out", 3, STREAM_PROBE_OUTPUT}, {"env", 0, adsr::PIN_OUTPUT}, {"osc", 1, OSC_OUTPUT}}};
    const Score score = twoNotes(0, 20000);
    const std::vector<int32_t> sizes = blockSizes(score.length, 64);
    const PatchRun honoured = runPatch(graph, score, sizes, true);
    const PatchRun everyBlock = runPatch(graph, score, sizes, false);
    for (size_t o = 0; o < 3; ++o)
        EXPECT_TRUE(sameBits(honoured.outputs[o], everyBlock.outputs[o]))
            << "output " << o << ": " << firstDifference(honoured.outputs[o], everyBlock.outputs[o]);
    // Every sample is the oscillator's times the envelope's (in double, flushed below a normal
    // float), asleep or not.
    const std::vector<float>& out = honoured.outputs[0];
    const std::vector<float>& env = honoured.outputs[1];
    const std::vector<float>& osc = honoured.outputs[2];
    for (size_t i = 0; i < out.size(); ++i) {
        double want = static_cast<double>(osc[i]) * static_cast<double>(env[i]);
        if (std::fabs(want) < FLT_MIN) want = 0.0;
        ASSERT_EQ(out[i], static_cast<float>(want)) << "sample " << i;
    }

    const auto blocks = static_cast<int64_t>(sizes.size());
    EXPECT_EQ(honoured.modules[1].calls, blocks) << "the oscillator runs throughout";
    EXPECT_LT(honoured.modules[2].calls, blocks / 4) << "the VCA sleeps while the envelope is still";
    EXPECT_TRUE(honoured.asleep[2][0]);
    EXPECT_FALSE(honoured.asleep[2][2]) << "awake for the first note (samples 100 on)";
    EXPECT_TRUE(honoured.asleep[2].back());
    EXPECT_FALSE(honoured.asleep[1].back());

    // What the probe behind the VCA was told: constant exactly where the envelope declared itself
    // constant at 0, streaming wherever the envelope streams or holds another level (its sustain).
    const render::SessionResult alone = renderAlone(adsrModule("env"), 0, score, {64, false, 1});
    std::vector<StreamProbeRecord> expected;
    for (const render::StreamMark& mark : alone.marks) {
        const bool streams = mark.streaming || alone.output()[static_cast<size_t>(mark.sample)] != 0.0f;
        if (expected.empty() || (expected.back().type == EV_STREAM_BEGIN) != streams)
            expected.push_back({mark.sample, streams ? EV_STREAM_BEGIN : EV_STREAM_END, STREAM_PROBE_INPUT});
    }
    ASSERT_GE(expected.size(), 4u) << "still at the start, two notes, still after the release";
    host::Patch patch(graph, 48000.0f, PATCH_MAX_BLOCK);
    playNotes(patch, score, blockSizes(score.length, 0, 9));
    const std::vector<StreamProbeRecord> received = probeRecords(patch, 3);
    ASSERT_EQ(received.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(received[i].sample, expected[i].sample) << "record " << i;
        EXPECT_EQ(received[i].type, expected[i].type) << "record " << i;
    }
}

}  // namespace
}  // namespace kvx::test
