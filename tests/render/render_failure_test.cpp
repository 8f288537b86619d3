// SPDX-License-Identifier: MIT
// Wrong input to kvx render: one clear line on standard error, a non-zero exit, and none of the
// requested output files (nor any temporary) left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

struct FailureCase {
    std::string name;
    std::vector<std::string> args;  // "@" is replaced by the scratch folder
    std::string scoreText;          // written to @/score.json when not empty
    std::string message;            // the error line must contain this; '*' stands for any text
    bool oneLine = true;            // the argument parser adds a hint line of its own
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

// True when the pieces of `pattern` between '*'s occur in `text` in that order.
bool containsPattern(const std::string& text, const std::string& pattern) {
    size_t from = 0, start = 0;
    while (start <= pattern.size()) {
        size_t star = pattern.find('*', start);
        if (star == std::string::npos) star = pattern.size();
        const std::string piece = pattern.substr(start, star - start);
        const size_t found = text.find(piece, from);
        if (found == std::string::npos) return false;
        from = found + piece.size();
        start = star + 1;
    }
    return true;
}

class RenderFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RenderFailure, ExplainsAndLeavesNothingBehind) {
    const FailureCase& c = GetParam();
    ScratchFolder folder;
    std::vector<std::string> args{"render"};
    // Every output is asked for, each in the scratch folder unless the case names it itself.
    for (const auto& [flag, name] : {std::pair{"--out", "a.wav"}, {"--csv", "a.csv"}, {"--plot", "a.png"}})
        if (std::find(c.args.begin(), c.args.end(), flag) == c.args.end()) {
            args.push_back(flag);
            args.push_back(folder.path(name));
        }
    for (std::string arg : c.args) {
        if (arg.find('@') != std::string::npos) arg.replace(arg.find('@'), 1, folder.path(""));
        args.push_back(arg);
    }
    std::vector<std::string> inputs;
    if (!c.scoreText.empty()) {
        writeFile(folder.path("score.json"), c.scoreText);
        inputs.push_back("score.json");
    }
    const ToolRun run = runKvx(args);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.status, -1) << "the tool must exit, not crash";
    EXPECT_TRUE(containsPattern(run.err, c.message)) << run.err << "\nexpected: " << c.message;
    if (c.oneLine) {
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("kvx render: ", 0), 0u) << run.err;
    }
    EXPECT_EQ(folder.files(), inputs);
}

// The second comma, line 3 column 14, is the mistake.
const std::string SYNTAX_ERROR = "{\n  \"notes\": [\n    {\"on\": 0,, \"off\": 1}\n  ]\n}\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderFailure,
    ::testing::Values(
        FailureCase{"unknown_flag", {"--atack", "0.5"}, "", "--atack", false},
        FailureCase{"bad_unit", {"--attack", "100xs"}, "", "--attack: expected a time *'100xs'"},
        FailureCase{"unit_on_a_level", {"--sustain", "50ms"}, "", "--sustain: expected a plain number"},
        FailureCase{"zero_duration", {"--release", "0ms"}, "", "--release: a duration must be positive"},
        FailureCase{"negative_length", {"--length", "-1"}, "", "--length: must be positive"},
        FailureCase{"note_without_colon", {"--note", "0.5"}, "", "--note 0.5: expected ON:OFF"},
        FailureCase{"note_ends_before_it_starts",
                    {"--note", "1:0.5"},
                    "",
                    "--note 1:0.5: the note must end after it starts"},
        FailureCase{"negative_note", {"--note", "-1:0.5"}, "", "must not be negative"},
        FailureCase{"note_key_on_a_module",
                    {"--note", "0:0.5:60"},
                    "",
                    "--note 0:0.5:60: a key and a velocity are a patch's"},
        FailureCase{"fractional_samples", {"--note", "0:10.5smp"}, "", "whole number"},
        FailureCase{"bad_block", {"--block", "0"}, "", "--block *expected a whole number"},
        FailureCase{"bad_rate", {"--rate", "44.1k"}, "", "--rate: expected a whole number"},
        FailureCase{"bad_format", {"--format", "pcm8"}, "", "--format: expected float, pcm16 or pcm24"},
        FailureCase{"bad_plot_name",
                    {"--plot", "@figure.jpg"},
                    "",
                    "--plot: expected a file name ending in .png or .svg"},
        FailureCase{
            "output_folder_missing", {"--csv", "@missing/a.csv"}, "", "cannot write '*missing/a.csv'"},
        FailureCase{"missing_plugin", {"@nothing.kvx"}, "", "cannot load '*nothing.kvx'"},
        FailureCase{"not_a_module_library", {"libm.so.6"}, "", "'libm.so.6' is not a module library"},
        FailureCase{
            "library_without_the_module", {KVX_RENDER_OTHER_MODULE}, "", "cannot create module \"KV ADSR4\""},
        FailureCase{"missing_score", {"--score", "@none.json"}, "", "cannot read score '*none.json'"},
        FailureCase{"score_syntax",
                    {"--score", "@score.json"},
                    SYNTAX_ERROR,
                    "score.json: parse error at line 3, column 14"},
        FailureCase{"score_wrong_type",
                    {"--score", "@score.json"},
                    R"({"notes": [{"on": "soon"}]})",
                    "score.json: notes[0].on: expected a time *'soon'"},
        FailureCase{"score_unknown_field",
                    {"--score", "@score.json"},
                    R"({"lenght": 2})",
                    "score.json: unknown field \"lenght\""},
        FailureCase{"score_unknown_parameter",
                    {"--score", "@score.json"},
                    R"({"parameters": {"atack": 0.5}})",
                    "score.json: parameters.atack: unknown parameter"},
        FailureCase{"score_breakpoints_out_of_order",
                    {"--score", "@score.json"},
                    R"({"automation": {"decay": [[0.5, 0.6], [0.2, 0.4]]}})",
                    "score.json: automation.decay[1]: breakpoints must be in time order"},
        FailureCase{"score_duration_for_a_curve",
                    {"--score", "@score.json"},
                    R"({"parameters": {"decay-curve": "10ms"}})",
                    "score.json: parameters.decay-curve: expected a number"},
        FailureCase{"score_unknown_unit",
                    {"--score", "@score.json"},
                    R"({"length": "3h"})",
                    "score.json: length: expected a time"},
        FailureCase{"too_long", {"--length", "2000s"}, "", "--length: at most 50000000 samples"},
        // Numbers at and just past their limits (the limits themselves render: RenderLimits).
        FailureCase{
            "rate_zero", {"--rate", "0"}, "", "--rate: expected a whole number from 1 to 768000, got '0'"},
        FailureCase{
            "rate_negative", {"--rate", "-48000"}, "", "--rate: expected a whole number from 1 to 768000"},
        FailureCase{"rate_past_the_most",
                    {"--rate", "768001"},
                    "",
                    "--rate: expected a whole number from 1 to 768000"},
        FailureCase{"score_rate_fraction",
                    {"--score", "@score.json"},
                    R"({"rate": 44100.5})",
                    "score.json: rate: expected a whole number from 1 to 768000, got '44100.5'"},
        FailureCase{"score_rate_past_the_most",
                    {"--score", "@score.json"},
                    R"({"rate": 768001})",
                    "score.json: rate: expected a whole number from 1 to 768000"},
        FailureCase{"block_past_the_most", {"--block", "65537"}, "", "--block *from 1 to 65536, got '65537'"},
        FailureCase{"seed_past_the_most",
                    {"--block", "random", "--seed", "4294967296"},
                    "",
                    "--seed: expected a whole number from 0 to 4294967295"},
        FailureCase{"length_past_the_most", {"--length", "50000001smp"}, "", "got 50000001 samples"},
        FailureCase{"length_zero_samples", {"--length", "0smp"}, "", "--length: must be positive, got 0smp"},
        FailureCase{"length_under_a_sample", {"--length", "0.01ms"}, "", "--length: shorter than one sample"},
        FailureCase{
            "length_beyond_any_count", {"--length", "1e30"}, "", "samples (1041 s at 48000 Hz), got 1e+30s"},
        FailureCase{"note_of_no_length", {"--note", "5smp:5smp"}, "", "the note must end after it starts"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kvx::test
