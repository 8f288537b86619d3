// SPDX-License-Identifier: MIT
// Wrong command lines, as a person types them: each gets exit status 2, one line saying what is
// wrong (with the nearest command or option when one is close), and where to look; a real
// command's --help still succeeds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

struct UsageCase {
    std::vector<std::string> args;
    std::string line;  // what stderr says first; the hint follows
    std::string hint;
};

const std::string COMMANDS = "Run 'kvx --help' for the commands.";

TEST(UsageErrors, SayWhatIsWrongInOneLineAndExitTwo) {
    const std::vector<UsageCase> cases = {
        {{"rendr"}, "kvx: unknown command 'rendr'; did you mean 'render'?", COMMANDS},
        {{"vaildate", "--json"}, "kvx: unknown command 'vaildate'; did you mean 'validate'?", COMMANDS},
        {{"val"}, "kvx: unknown command 'val'; did you mean 'validate'?", COMMANDS},
        {{"studoi"}, "kvx: unknown command 'studoi'; did you mean 'studio'?", COMMANDS},
        {{"x"}, "kvx: unknown command 'x'", COMMANDS},
        {{"nosuch", "--help"}, "kvx: unknown command 'nosuch'", COMMANDS},
        {{}, "kvx: a command is needed (list, info, render, validate, lv2 or studio)", COMMANDS},
        {{"--verison"}, "kvx: unknown option '--verison'; did you mean '--version'?", COMMANDS},
        {{"render", "--atack", "5ms"},
         "kvx render: unknown option '--atack'; did you mean '--attack'?",
         "Run 'kvx render --help' for the options."},
        {{"render", "--sustian=0.5"},
         "kvx render: unknown option '--sustian'; did you mean '--sustain'?",
         "Run 'kvx render --help' for the options."},
        {{"render", "--loudness", "3"},
         "kvx render: unknown option '--loudness'",
         "Run 'kvx render --help' for the options."},
        {{"render", "--attack"},
         "kvx render: option '--attack' needs a value",
         "Run 'kvx render --help' for the options."},
        {{"validate", "--seeds", "many"},
         "kvx validate: option '--seeds': expected a whole number, got 'many'",
         "Run 'kvx validate --help' for the options."},
        {{"info", "--subtype", "1.5"},
         "kvx info: option '--subtype': expected a whole number, got '1.5'",
         "Run 'kvx info --help' for the options."},
        {{"list", "extra"},
         "kvx list: unexpected argument 'extra'",
         "Run 'kvx list --help' for the options."},
        {{"lv2", "a.kvx", "b.kvx"},
         "kvx lv2: unexpected argument 'b.kvx'",
         "Run 'kvx lv2 --help' for the options."},
    };
    for (const UsageCase& c : cases) {
        std::string command = "kvx";
        for (const std::string& arg : c.args) command += " " + arg;
        SCOPED_TRACE(command);
        const ToolRun run = runKvx(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, c.line + "\n" + c.hint + "\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(UsageErrors, ARealCommandsHelpSucceeds) {
    const ToolRun run = runKvx({"render", "--help"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("--attack"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace kvx::test
