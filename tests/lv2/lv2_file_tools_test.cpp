// SPDX-License-Identifier: MIT
// The gate flavour driven from a WAV file by the file tools of Debian's LV2 ecosystem, lv2apply
// (lilv-utils) and lv2file: the envelope they write is bit for bit the one `kvx render` writes for
// the same gate times and pin values. And `kvx lv2` as a person runs it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* GATE_URI = "https://kvx.example.org/modules/adsr/gate";
constexpr int RATE = 48000;
constexpr int64_t LENGTH = 40000;

void writeGate(const std::string& path) {
    std::vector<float> gate(LENGTH, 0.0f);
    std::fill(gate.begin() + 1234, gate.begin() + 20000, 1.0f);
    std::fill(gate.begin() + 25000, gate.begin() + 30001, 0.75f);
    ASSERT_TRUE(writeWav(path, gate, RATE)) << path;
}

// What the gate file says, as kvx render notes, with the same pin values: 10 ms (0.25) attack,
// 100 ms (0.5) decay and release, sustain 0.3.
std::vector<float> renderExpected(const ScratchFolder& folder) {
    const ToolRun run = runKvx({"render",    adsrLibraryPath(),
                                "--attack",  "0.25",
                                "--decay",   "0.5",
                                "--sustain", "0.3",
                                "--release", "0.5",
                                "--note",    "1234smp:20000smp",
                                "--note",    "25000smp:30001smp",
                                "--length",  std::to_string(LENGTH) + "smp",
                                "--format",  "float",
                                "--out",     folder.path("render.wav")});
    EXPECT_EQ(run.status, 0) << run.err;
    return readWav(folder.path("render.wav")).samples;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class FileTools : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(KVX_SANITIZED_BUILD)
        // The tools are not built with the sanitizers and cannot load a plug-in that is.
        GTEST_SKIP() << "lv2apply and lv2file cannot load a sanitizer build of the bridge";
#endif
        fs::create_directories(folder.path("path"));
        fs::copy(buildDir() + "/ADSR.lv2", folder.path("path/ADSR.lv2"), fs::copy_options::recursive);
        writeGate(folder.path("gate.wav"));
        expected = renderExpected(folder);
        ASSERT_EQ(expected.size(), static_cast<size_t>(LENGTH));
    }
    std::vector<std::string> environment() const { return {"LV2_PATH=" + folder.path("path")}; }

    ScratchFolder folder;
    std::vector<float> expected;
};

TEST_F(FileTools, Lv2applyWritesTheRendersEnvelope) {
    const ToolRun run =
        runProgram({"lv2apply", "-i", folder.path("gate.wav"), "-o", folder.path("out.wav"), "-c", "attack",
                    "0.01", "-c", "decay", "0.1", "-c", "sustain", "0.3", "-c", "release", "0.1", GATE_URI},
                   environment());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(sameBits(readWav(folder.path("out.wav")).samples, expected));
}

TEST_F(FileTools, Lv2fileWritesTheRendersEnvelopeInAnyChunkSize) {
    for (const char* chunk : {"512", "17"}) {
        SCOPED_TRACE(chunk);
        const ToolRun run = runProgram(
            {"lv2file", "-i", folder.path("gate.wav"), "-o", folder.path("out.wav"), "-b", chunk, "-p",
             "attack:0.01", "-p", "decay:0.1", "-p", "sustain:0.3", "-p", "release:0.1", GATE_URI},
            environment());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(sameBits(readWav(folder.path("out.wav")).samples, expected));
        fs::remove(folder.path("out.wav"));
    }
}

TEST(KvxLv2, AModuleWithoutAGateBecomesAudioAndCvPlugins) {
    ScratchFolder folder;
    const ToolRun run = runKvx({"lv2", testModulePath("VCA"), "--out", folder.path("VCA.lv2")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("https://kvx.example.org/modules/vca/audio"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("https://kvx.example.org/modules/vca/cv"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("/midi"), std::string::npos) << run.out;
    for (const char* file :
         {"manifest.ttl", "VCA.ttl", "VCA.kvx", "VCA.kvx.json", "kvx-lv2.json", "kvx-lv2-bridge.so"})
        EXPECT_TRUE(fs::exists(folder.path(std::string("VCA.lv2/") + file))) << file;
    // Written again over itself: the bundle is replaced, not refused.
    EXPECT_EQ(runKvx({"lv2", testModulePath("VCA"), "--out", folder.path("VCA.lv2"), "--quiet"}).status, 0);
}

// A flavour without a port for some pin says so as it is written: the envelope's reset has a port
// in the cv flavour only, the oscillator's sync likewise; the VCA's flavours play every pin.
TEST(KvxLv2, EachPluginNamesThePinsItLeavesOut) {
    ScratchFolder folder;
    struct Row {
        std::string library;
        std::vector<std::string> lines;
    };
    const std::string base = "  https://kvx.example.org/modules/";
    for (const Row& row :
         {Row{adsrLibraryPath(),
              {base + "adsr/midi  ADSR envelope (midi); leaves out reset\n",
               base + "adsr/amp  ADSR envelope (amp); leaves out reset\n",
               base + "adsr/gate  ADSR envelope (gate); leaves out reset\n",
               base + "adsr/cv  ADSR envelope (cv)\n"}},
          Row{testModulePath("OSC"),
              {base + "osc/audio  Oscillator (audio); leaves out sync\n",
               base + "osc/cv  Oscillator (cv)\n"}},
          Row{testModulePath("VCA"), {base + "vca/audio  VCA (audio)\n", base + "vca/cv  VCA (cv)\n"}}}) {
        SCOPED_TRACE(row.library);
        const ToolRun run = runKvx({"lv2", row.library, "--out", folder.path("b.lv2")});
        ASSERT_EQ(run.status, 0) << run.err;
        for (const std::string& line : row.lines) EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
        fs::remove_all(folder.path("b.lv2"));
    }
}

TEST(KvxLv2, RefusesWhatCannotPlayOrWhereItWouldOverwriteSomethingElse) {
    ScratchFolder folder;
    // A library whose module is not the one its (built-in) description names.
    ToolRun run = runKvx({"lv2", KVX_RENDER_OTHER_MODULE, "--out", folder.path("Other.lv2")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create module \"KV ADSR4\""), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(folder.path("Other.lv2")));
    // A folder with other things in it.
    fs::create_directories(folder.path("notes"));
    writeFile(folder.path("notes/todo.txt"), "");
    run = runKvx({"lv2", adsrLibraryPath(), "--out", folder.path("notes")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("neither empty nor a bundle"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(folder.path("notes/todo.txt")), "");
}

}  // namespace
}  // namespace kvx::test
