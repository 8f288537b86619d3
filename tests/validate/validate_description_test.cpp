// SPDX-License-Identifier: MIT
// kvx validate's description check on the example VCA: its own description agrees; descriptions
// that contradict the library (a wrong direction, a pin it refuses, a pin it has left out, another
// module) fail with the first contradiction as evidence; a malformed one stops kvx validate at once;
// without one the check is skipped and the rest of the report stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

std::string vcaPath() { return testModulePath("VCA"); }

struct Verdict {
    int exitStatus = -1;
    std::string status;  // of description.pins
    std::string detail;
};

Verdict validate(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"validate", vcaPath(), "--json", "--seeds", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = runKvx(args);
    Verdict verdict;
    verdict.exitStatus = run.status;
    const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    if (!report.is_object()) return verdict;
    for (const auto& check : report["checks"])
        if (check["id"] == "description.pins") {
            verdict.status = check["status"];
            verdict.detail = check["detail"];
        }
    return verdict;
}

// The VCA's pins as a description, with pin `changed` replaced (or left out when empty).
std::string description(const std::string& id = "KV VCA", int changed = -1,
                        const std::string& replacement = "") {
    const std::vector<std::string> pins{
        R"({"id": 0, "symbol": "input", "name": "In", "datatype": "audio", "direction": "in", "role": "signal"})",
        R"({"id": 1, "symbol": "control", "name": "C", "datatype": "audio", "direction": "in", "role": "signal"})",
        R"({"id": 2, "symbol": "level", "name": "L", "datatype": "float", "direction": "in", "role": "parameter",
            "unit": "dB", "default": 0, "minimum": -60, "maximum": 12})",
        R"({"id": 3, "symbol": "output", "name": "O", "datatype": "audio", "direction": "out", "role": "signal"})",
        R"({"id": 4, "symbol": "mute", "name": "M", "datatype": "bool", "direction": "in", "role": "parameter",
            "default": false})",
        R"({"id": 5, "symbol": "fade", "name": "F", "datatype": "audio", "direction": "in", "role": "parameter",
            "unit": "dB", "default": 0, "minimum": -60, "maximum": 12})"};
    std::string list;
    for (int i = 0; i < static_cast<int>(pins.size()); ++i) {
        const std::string pin = i == changed ? replacement : pins[static_cast<size_t>(i)];
        if (!pin.empty()) list += (list.empty() ? "" : ", ") + pin;
    }
    return R"({"format": 1, "modules": [{"id": ")" + id + R"(", "subtype": 0, "symbol": "vca", "name": "VCA",
        "pins": [)" +
           list + "]}]}";
}

TEST(ValidateDescription, TheExamplesOwnDescriptionAgrees) {
    const Verdict verdict = validate({});
    EXPECT_EQ(verdict.status, "PASS") << verdict.detail;
    EXPECT_NE(verdict.detail.find("6 pins, 1 audio output"), std::string::npos) << verdict.detail;
    EXPECT_EQ(verdict.exitStatus, 0);
}

TEST(ValidateDescription, TheFirstContradictionIsTheEvidence) {
    struct Case {
        const char* name;
        std::string text;
        const char* evidence;
    };
    const std::vector<Case> cases{
        {"output described as an input",
         description(
             "KV VCA", 3,
             R"({"id": 3, "symbol": "output", "name": "O", "datatype": "audio", "direction": "in", "role": "signal"})"),
         "pin 3 (output): described as an audio input, but the library's pin is an audio output"},
        {"input described as an output",
         description(
             "KV VCA", 1,
             R"({"id": 1, "symbol": "control", "name": "C", "datatype": "audio", "direction": "out", "role": "signal"})"),
         "pin 1 (control): described as an audio output, but the library's pin is an audio input"},
        {"a pin the library refuses",
         description(
             "KV VCA", 2,
             R"({"id": 9, "symbol": "level", "name": "L", "datatype": "float", "direction": "in", "role": "parameter",
                         "unit": "dB", "default": 0, "minimum": -60, "maximum": 12})"),
         "pin 9 (level): described, but bindPinBuffer refuses it"},
        {"a pin left out", description("KV VCA", 2, ""), "pin 2: bindPinBuffer accepts it, but"},
        {"the last pin left out", description("KV VCA", 5, ""), "pin 5: bindPinBuffer accepts it, but"},
        {"another module", description("KV AMP"), "does not describe \"KV VCA\" subtype 0"},
    };
    ScratchFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(folder.path("d.json"), c.text);
        const Verdict verdict = validate({"--id", "KV VCA", "--describe", folder.path("d.json")});
        EXPECT_EQ(verdict.status, "FAIL") << verdict.detail;
        EXPECT_NE(verdict.detail.find(c.evidence), std::string::npos) << verdict.detail;
        EXPECT_EQ(verdict.exitStatus, 1);
    }
}

// A description under which the module does nothing a probe can see (its control input at rest
// at 0 silences the VCA): the pins whose effect never shows are named as unsettled, and the
// check passes on what it could settle.
TEST(ValidateDescription, APinTheProbesCannotSettleIsNamed) {
    ScratchFolder folder;
    std::string text = readFile(vcaPath() + ".json");
    const std::string from = R"("default": 1, "minimum": 0, "maximum": 1)";
    ASSERT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(), R"("default": 0, "minimum": 0, "maximum": 1)");
    writeFile(folder.path("d.json"), text);
    const Verdict verdict = validate({"--describe", folder.path("d.json")});
    EXPECT_EQ(verdict.status, "PASS") << verdict.detail;
    for (const char* unsettled :
         {"pin 0 (input): cannot tell whether it is an audio input: neither its buffer",
          "pin 2 (level): cannot tell whether it is a float input: neither"})
        EXPECT_NE(verdict.detail.find(unsettled), std::string::npos) << verdict.detail;
    EXPECT_EQ(verdict.detail.find("pin 1 (control): cannot tell"), std::string::npos) << verdict.detail;
}

// A malformed description stops kvx validate before any check, with its JSON-path line alone,
// whether or not an id is given (without one kvx would otherwise fall back to the envelope's).
TEST(ValidateDescription, AMalformedOneStopsAtOnceWithItsPath) {
    ScratchFolder folder;
    writeFile(
        folder.path("d.json"),
        R"({"format": 1, "modules": [{"id": "KV VCA", "subtype": "zero", "symbol": "vca", "name": "VCA", "pins": []}]})");
    for (const bool withId : {true, false}) {
        SCOPED_TRACE(withId ? "with --id" : "without --id");
        std::vector<std::string> args{"validate", vcaPath(), "--describe", folder.path("d.json"),
                                      "--seeds",  "1"};
        if (withId) args.insert(args.end(), {"--id", "KV VCA"});
        const ToolRun run = runKvx(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(
                      "kvx: " + folder.path("d.json") + ": $.modules[0].subtype: expected a whole number", 0),
                  0u)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(ValidateDescription, WithoutOneTheCheckIsSkipped) {
    ScratchFolder folder;
    std::filesystem::copy_file(vcaPath(), folder.path("VCA.kvx"));
    const ToolRun run = runKvx({"validate", folder.path("VCA.kvx"), "--id", "KV VCA", "--seeds", "1"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("SKIP  description.pins"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("no description: none beside the library"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kvx::test
