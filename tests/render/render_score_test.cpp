// SPDX-License-Identifier: MIT
// kvx::render scores: what a well-formed score holds, and messages that point at a mistake: the
// line and column of a syntax error (hand-counted, 1-based, at the offending character) and the
// JSON path of a wrong value.
#include <gtest/gtest.h>

#include <string>

#include "render/envelope_profile.h"
#include "render/error.h"
#include "render/module.h"
#include "render/score.h"

namespace kvx::render {
namespace {

const RenderModule ENVELOPE = renderModule(builtInEnvelopeDescription().modules.front(), "built in");

std::string errorOf(const std::string& text) {
    try {
        parseScore(text, "my.json", ENVELOPE);
    } catch (const RenderError& error) {
        return error.what();
    }
    return "";
}

TEST(RenderScore, KeepsEveryItemAsWrittenWithItsPath) {
    const Score score = parseScore(R"({"length": "1.5s", "rate": 44100,
        "parameters": {"attack": "30ms", "sustain": 0.6},
        "notes": [{"on": 0, "off": "0.6s"}, ["800ms"]],
        "resets": ["4000smp"],
        "automation": {"decay": [["0.1s", "300ms"], {"at": 0.2, "value": 0.4}]}})",
                                   "my.json", ENVELOPE);
    EXPECT_EQ(score.source, "my.json");
    ASSERT_TRUE(score.length && score.rate);
    EXPECT_EQ(score.length->amount, 1.5);
    EXPECT_EQ(*score.rate, 44100.0);

    const size_t attack = ENVELOPE.inputIndex("attack"), sustain = ENVELOPE.inputIndex("sustain");
    ASSERT_TRUE(score.parameters[attack] && score.parameters[sustain]);
    EXPECT_TRUE(score.parameters[attack]->isDuration());
    EXPECT_EQ(score.parameters[attack]->duration.amount, 30.0);
    EXPECT_EQ(score.parameters[attack]->duration.unit, TimeUnit::Milliseconds);
    EXPECT_FALSE(score.parameters[sustain]->isDuration());
    EXPECT_EQ(score.parameters[sustain]->raw, 0.6);
    EXPECT_FALSE(score.parameters[ENVELOPE.inputIndex("release")])
        << "left out: taken from the default later";

    ASSERT_EQ(score.notes.size(), 2u);
    EXPECT_EQ(score.notes[0].on.amount, 0.0);
    ASSERT_TRUE(score.notes[0].off);
    EXPECT_EQ(score.notes[0].off->amount, 0.6);
    EXPECT_FALSE(score.notes[1].off) << "[on] alone keeps the gate on";
    EXPECT_EQ(score.notes[1].field, "notes[1]");

    ASSERT_EQ(score.resets.size(), 1u);
    EXPECT_EQ(score.resets[0].at.unit, TimeUnit::Samples);
    EXPECT_EQ(score.resets[0].at.amount, 4000.0);

    const auto& decay = score.automation[ENVELOPE.inputIndex("decay")];
    ASSERT_EQ(decay.size(), 2u);
    EXPECT_TRUE(decay[0].value.isDuration());
    EXPECT_EQ(decay[1].at.amount, 0.2);
    EXPECT_EQ(decay[1].value.raw, 0.4);
    EXPECT_EQ(decay[1].field, "automation.decay[1]");
}

TEST(RenderScore, SyntaxErrorsGiveLineAndColumn) {
    struct Case {
        const char* text;
        const char* position;
    };
    for (const Case& c : {
             Case{"{\"resets\": [0,]}", "line 1, column 15"},             // ']' after a comma
             Case{"{\n\t\"resets\": [\"1s\",]\n}", "line 2, column 18"},  // a tab is one column
             Case{"{\n  \"length\": \"2s\",\n  \"rate\": 48000,\n  }", "line 4, column 3"},
         }) {
        SCOPED_TRACE(c.text);
        const std::string message = errorOf(c.text);
        EXPECT_EQ(message.rfind("my.json: parse error at " + std::string(c.position), 0), 0u) << message;
        EXPECT_EQ(message.find("json.exception"), std::string::npos) << "the parser's tag is left out";
    }
}

TEST(RenderScore, ValueErrorsNameTheJsonPath) {
    struct Case {
        const char* text;
        const char* start;  // the message must start with this
    };
    for (const Case& c : {
             Case{R"([1, 2])", "my.json: the top level: expected an object"},
             Case{R"({"rate": -44100})", "my.json: rate: expected a positive number"},
             Case{R"({"rate": 0})", "my.json: rate: expected a positive number"},
             Case{R"({"notes": [{"on": 0}, [0.5, "later"]]})", "my.json: notes[1][1]: expected a time"},
             Case{R"({"notes": [{"on": 0, "of": 1}]})", "my.json: notes[0]: unknown field \"of\""},
             Case{R"({"notes": [{"off": 1}]})", "my.json: notes[0]: missing field \"on\""},
             Case{R"({"notes": [[]]})", "my.json: notes[0]: expected [on, off]"},
             Case{R"({"notes": {"on": 0}})", "my.json: notes: expected an array"},
             Case{R"({"resets": [0.5, "1s", true]})", "my.json: resets[2]: expected a time"},
             Case{R"({"resets": ["1s", "2 sec"]})", "my.json: resets[1]: expected a time"},
             Case{R"({"parameters": {"release": true}})", "my.json: parameters.release: expected a number"},
             Case{R"({"automation": {"decay": []}})", "my.json: automation.decay: expected at least one"},
             Case{R"({"automation": {"sustain": [[0.3, 0.6], {"at": 0.7, "value": "low"}]}})",
                  "my.json: automation.sustain[1].value: expected a number"},
             Case{R"({"automation": {"sustain": [[0.3, 0.6], {"at": "0.7", "val": 1}]}})",
                  "my.json: automation.sustain[1]: expected a breakpoint"},
             Case{R"({"automation": {"level": [[0, 1]]}})", "my.json: automation.level: unknown parameter"},
         }) {
        SCOPED_TRACE(c.text);
        const std::string message = errorOf(c.text);
        EXPECT_EQ(message.rfind(c.start, 0), 0u) << message;
    }
}

}  // namespace
}  // namespace kvx::render
