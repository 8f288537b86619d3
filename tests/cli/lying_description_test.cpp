// SPDX-License-Identifier: MIT
// Every description of the envelope and of the VCA that differs from the true one (as built) in
// one pin's datatype or direction, as written (mostly malformed: a bool with a unit) and with the
// pin's other fields made to fit (a consistent lie, which only running the module can find out):
// kvx validate fails it, and kvx render and kvx lv2 refuse it with exit status 1 and the same one
// line (the JSON path, or the pin with both answers), never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

struct Mutation {
    std::string library;  // NAME.kvx in the build tree, its description beside it
    size_t pin;           // index into the module's pins
    std::string field;    // "datatype" or "direction"
    std::string value;
    bool consistent;   // the other fields made to fit the lie, so that the reader takes it
    std::string name;  // for the test's name
};
// GoogleTest would print the struct's bytes, padding included.
void PrintTo(const Mutation& mutation, std::ostream* out) { *out << mutation.name; }

// Makes the pin's other fields fit its (changed) datatype and direction as the format wants
// them, so that only the lie itself is left to find.
void fitTheLie(nlohmann::json& pin) {
    const bool toBool = pin["datatype"] == "bool";
    if (toBool) {
        for (const char* field : {"unit", "minimum", "maximum", "mapping", "scale"}) pin.erase(field);
        if (pin.contains("default")) pin["default"] = pin["default"] != 0 && pin["default"] != false;
        if (pin["role"] == "signal" || pin["role"] == "parameter") pin["role"] = "reset";
    } else {
        if (pin.contains("default") && pin["default"].is_boolean()) pin["default"] = pin["default"] ? 1 : 0;
        const bool noteRole = pin["role"] == "trigger" || pin["role"] == "gate" || pin["role"] == "reset";
        if (pin["datatype"] == "audio" && noteRole) pin["role"] = "parameter";
        if (pin["datatype"] == "float" && pin["role"] == "signal") pin["role"] = "parameter";
    }
    if (pin["direction"] == "out") {
        pin.erase("default");
        if (pin["datatype"] == "audio") pin["role"] = "signal";
    }
}

nlohmann::json descriptionOf(const std::string& library) {
    std::ifstream file(library + ".json");
    return nlohmann::json::parse(file);
}

std::vector<Mutation> allMutations() {
    std::vector<Mutation> all;
    for (const std::string& library : {adsrLibraryPath(), testModulePath("VCA")}) {
        const nlohmann::json pins = descriptionOf(library)["modules"][0]["pins"];
        const std::string stem = fs::path(library).stem().string();
        for (size_t i = 0; i < pins.size(); ++i) {
            const std::string symbol = pins[i]["symbol"];
            const std::string flipped = pins[i]["direction"] == "in" ? "out" : "in";
            for (const bool consistent : {false, true}) {
                const std::string kind = consistent ? "_consistently" : "";
                for (const char* datatype : {"bool", "audio", "float"})
                    if (pins[i]["datatype"] != datatype)
                        all.push_back({library, i, "datatype", datatype, consistent,
                                       stem + "_" + symbol + "_as_" + datatype + kind});
                all.push_back({library, i, "direction", flipped, consistent,
                               stem + "_" + symbol + "_as_" + flipped + "put" + kind});
            }
        }
    }
    return all;
}

// The message of a one-line refusal "PREFIX: MESSAGE\n", or "" when the output is not one line.
std::string oneLine(const std::string& err, const std::string& prefix) {
    if (std::count(err.begin(), err.end(), '\n') != 1 || err.back() != '\n' || err.rfind(prefix, 0) != 0)
        return "";
    return err.substr(prefix.size(), err.size() - prefix.size() - 1);
}

class LyingDescription : public testing::TestWithParam<Mutation> {};

TEST_P(LyingDescription, IsRefusedByEveryToolWithoutACrash) {
    const Mutation& m = GetParam();
    nlohmann::json description = descriptionOf(m.library);
    description["modules"][0]["pins"][m.pin][m.field] = m.value;
    if (m.consistent) fitTheLie(description["modules"][0]["pins"][m.pin]);
    ScratchFolder folder;
    const std::string library = folder.path(fs::path(m.library).filename().string());
    fs::copy_file(m.library, library);
    std::ofstream(library + ".json") << description.dump(2);

    const ToolRun validate = runKvx({"validate", library, "--seeds", "1", "--json"});
    ASSERT_EQ(validate.status, 1) << validate.out << validate.err;
    std::string validateLine = oneLine(validate.err, "kvx: ");  // a malformed description stops at once
    if (validateLine.empty()) {
        const nlohmann::json report = nlohmann::json::parse(validate.out);
        for (const auto& check : report["checks"])
            if (check["id"] == "description.pins" && check["status"] == "FAIL")
                validateLine = check["detail"];
    }
    EXPECT_NE(validateLine, "") << validate.out << validate.err;

    const ToolRun render = runKvx({"render", library, "--out", folder.path("out.wav")});
    EXPECT_EQ(render.status, 1) << render.err;
    EXPECT_EQ(oneLine(render.err, "kvx render: "), validateLine) << render.err;
    EXPECT_FALSE(fs::exists(folder.path("out.wav")));

    const ToolRun lv2 = runKvx({"lv2", library, "--out", folder.path("bundle.lv2")});
    EXPECT_EQ(lv2.status, 1) << lv2.err;
    EXPECT_EQ(oneLine(lv2.err, "kvx lv2: "), validateLine) << lv2.err;
}

INSTANTIATE_TEST_SUITE_P(OnePinChanged, LyingDescription, testing::ValuesIn(allMutations()),
                         [](const testing::TestParamInfo<Mutation>& info) { return info.param.name; });

}  // namespace
}  // namespace kvx::test
