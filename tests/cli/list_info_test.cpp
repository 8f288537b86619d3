// SPDX-License-Identifier: MIT
// kvx list and kvx info, run as a person runs them: modules found along KVX_PATH from their
// descriptions, entries that cannot be listed named without failing the listing, the first of
// two equal modules winning, and info's pins next to what the library accepts.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

std::string vcaPath() { return testModulePath("VCA"); }

// True when a line of `text` is exactly these blank-separated words.
bool hasRow(const std::string& text, const std::vector<std::string>& words) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream split(line);
        std::vector<std::string> found;
        for (std::string word; split >> word;) found.push_back(word);
        if (found == words) return true;
    }
    return false;
}

// A folder holding copies of modules with their descriptions, and a home without modules.
class ModulePath : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a", "b", "c", "home"}) fs::create_directory(folder.path(name));
        fs::copy_file(vcaPath(), folder.path("a/VCA.kvx"));
        fs::copy_file(vcaPath() + ".json", folder.path("a/VCA.kvx.json"));
    }
    std::vector<std::string> environment(const std::string& path) const {
        return {"KVX_PATH=" + path, "HOME=" + folder.path("home")};
    }
    ScratchFolder folder;
};

TEST_F(ModulePath, ListsTheDescribedModulesAndNamesWhatItSkips) {
    // b: a description that breaks the format; c: a library without one; a missing folder.
    fs::copy_file(vcaPath(), folder.path("b/Broken.kvx"));
    writeFile(folder.path("b/Broken.kvx.json"), R"({"format": 1, "modules": [{"id": "X", "subtype": 0,
        "symbol": "x", "name": "X", "pins": [{"id": -1, "symbol": "in", "name": "In", "datatype": "audio",
        "direction": "in", "role": "signal"}]}]})");
    fs::copy_file(vcaPath(), folder.path("c/Lone.kvx"));
    writeFile(folder.path("c/Orphan.kvx.json"), "{}");
    const std::string path =
        folder.path("a") + ":" + folder.path("b") + ":" + folder.path("c") + ":" + folder.path("missing");
    const ToolRun run = runKvx({"list"}, environment(path));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"KV VCA\"    0        vca"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(folder.path("a/VCA.kvx")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"KV ADSR4\""), std::string::npos) << "the build tree's own modules:\n"
                                                               << run.out;

    EXPECT_NE(run.err.find("skipped " + folder.path("b/Broken.kvx.json") +
                           ": $.modules[0].pins[0].id: expected a whole number from 0 to 2147483647, got -1"),
              std::string::npos)
        << run.err;
    EXPECT_NE(
        run.err.find("skipped " + folder.path("c/Lone.kvx") + ": no description Lone.kvx.json beside it"),
        std::string::npos)
        << run.err;
    EXPECT_NE(
        run.err.find("skipped " + folder.path("c/Orphan.kvx.json") + ": no library Orphan.kvx beside it"),
        std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("skipped " + folder.path("missing") + ": not a folder"), std::string::npos)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 4) << run.err;
}

TEST_F(ModulePath, TheFirstOfTwoEqualModulesWinsAndJsonSaysWhy) {
    fs::copy_file(vcaPath(), folder.path("b/VCA.kvx"));
    fs::copy_file(vcaPath() + ".json", folder.path("b/VCA.kvx.json"));
    const ToolRun run = runKvx(
        {"list", "--json"}, environment(folder.path("a") + ":" + folder.path("b") + ":" + folder.path("a")));
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json listing = nlohmann::json::parse(run.out);
    std::vector<std::string> vcas;
    for (const auto& module : listing["modules"])
        if (module["id"] == "KV VCA") vcas.push_back(module["library"]);
    EXPECT_EQ(vcas, std::vector<std::string>{folder.path("a/VCA.kvx")});
    ASSERT_EQ(listing["skipped"].size(), 1u) << listing.dump(2) << "\n(a folder named twice is listed once)";
    EXPECT_EQ(listing["skipped"][0]["path"], folder.path("b/VCA.kvx.json"));
    EXPECT_EQ(listing["skipped"][0]["reason"], "\"KV VCA\" subtype 0 is already " + folder.path("a/VCA.kvx"));
}

TEST_F(ModulePath, CommandsTakeAModulesSymbolForItsLibrary) {
    const ToolRun info = runKvx({"info", "vca"}, environment(folder.path("a")));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("library:    " + folder.path("a/VCA.kvx")), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("module:     \"KV VCA\" subtype 0: can be created"), std::string::npos)
        << info.out;

    const ToolRun render =
        runKvx({"render", "vca", "--set", "input=0.5", "--length", "8smp", "--out", folder.path("v.wav")},
               environment(folder.path("a")));
    ASSERT_EQ(render.status, 0) << render.err;
    EXPECT_EQ(readWav(folder.path("v.wav")).samples, std::vector<float>(8, 0.5f));
}

// "kvx info VCA.kvx" in the library's folder names the file there; the loader must not search
// its system paths for a library of that name instead.
TEST_F(ModulePath, ALibraryNamedWithoutAFolderIsTheFileInTheCurrentFolder) {
    const std::string kvx = buildDir() + "/kvx";
    const ToolRun info = runProgram({"sh", "-c", "cd \"$1\" && \"$2\" info VCA.kvx", "sh", folder.path("a"), kvx});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("module:     \"KV VCA\" subtype 0: can be created"), std::string::npos) << info.out;
    const ToolRun validate = runProgram(
        {"sh", "-c", "cd \"$1\" && \"$2\" validate VCA.kvx --seeds 1", "sh", folder.path("a"), kvx});
    EXPECT_EQ(validate.status, 0) << validate.out << validate.err;
}

TEST(Info, ShowsTheDescribedPinsBesideTheIdsTheLibraryAccepts) {
    const ToolRun run = runKvx({"info", vcaPath()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("pins:       6 accepted by bindPinBuffer, 6 described"), std::string::npos)
        << run.out;
    EXPECT_TRUE(hasRow(run.out,
                       {"2", "level", "float", "in", "parameter", "0", "dB", "-60", "..", "12", "dB", "yes"}))
        << run.out;

    // A description that promises a pin the library lacks, and leaves out one it has.
    ScratchFolder folder;
    writeFile(folder.path("wrong.json"), R"({"format": 1, "modules": [{"id": "KV VCA", "subtype": 0,
        "symbol": "vca", "name": "VCA", "pins": [
          {"id": 0, "symbol": "input", "name": "In", "datatype": "audio", "direction": "in", "role": "signal"},
          {"id": 7, "symbol": "extra", "name": "Extra", "datatype": "audio", "direction": "out", "role": "signal"}]}]})");
    const ToolRun wrong = runKvx({"info", vcaPath(), "--describe", folder.path("wrong.json")});
    ASSERT_EQ(wrong.status, 0) << wrong.err;
    EXPECT_TRUE(hasRow(wrong.out, {"7", "extra", "audio", "out", "signal", "NO"})) << wrong.out;
    EXPECT_NE(wrong.out.find("accepted but not described: 1 2 3 4 5"), std::string::npos) << wrong.out;
}

TEST(Info, WithoutAnIdTakesTheDescribedModulesSubtypeToo) {
    // The description names "KV VCA" subtype 3, which the library does not make: info must try
    // subtype 3 (and say it cannot be created), not the library's subtype 0 under that id.
    ScratchFolder folder;
    writeFile(folder.path("subtype3.json"), R"({"format": 1, "modules": [{"id": "KV VCA", "subtype": 3,
        "symbol": "vca", "name": "VCA", "pins": [
          {"id": 0, "symbol": "input", "name": "In", "datatype": "audio", "direction": "in", "role": "signal"}]}]})");
    const ToolRun run = runKvx({"info", vcaPath(), "--describe", folder.path("subtype3.json")});
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.out.find("module:     \"KV VCA\" subtype 3: cannot be created"), std::string::npos)
        << run.out;
}

TEST(Info, WithoutADescriptionListsTheAcceptedIds) {
    ScratchFolder folder;
    fs::copy_file(vcaPath(), folder.path("VCA.kvx"));
    const ToolRun run = runKvx({"info", folder.path("VCA.kvx"), "--id", "KV VCA"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("described:  no (no VCA.kvx.json beside the library)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ids: 0 1 2 3 4 5\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kvx::test
