// SPDX-License-Identifier: MIT
// run() is real-time safe: over sessions with notes, gate edges, control changes, sleep, and
// blocks longer than the bridge's slices, the heap and lock interposer counts no allocation and
// no lock inside any lilv_instance_run; for a module's bundle, for a patch's and for a patch's
// instrument.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "conformance/heap_interposer.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/test_paths.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {
namespace {

struct Counted {
    conformance::HeapCounts total;
    int64_t runs = 0;
};

void countRuns(LilvPluginHost& host, Counted& counted) {
    host.onRunStart = [] { conformance::startCounting(); };
    host.onRunEnd = [&counted] {
        const conformance::HeapCounts counts = conformance::stopCounting();
        counted.total.allocations += counts.allocations;
        counted.total.frees += counts.frees;
        counted.total.lockCalls += counts.lockCalls;
        ++counted.runs;
    };
}

void expectNothingCounted(const Counted& counted) {
    EXPECT_GT(counted.runs, 50);
    EXPECT_EQ(counted.total.allocations, 0);
    EXPECT_EQ(counted.total.frees, 0);
    if (conformance::mallocHooked()) {
        EXPECT_EQ(counted.total.lockCalls, 0);
    }
}

TEST(Lv2Realtime, MidiRunsAllocateAndLockNothing) {
    const Lv2World world({buildDir() + "/ADSR.lv2"});
    for (const char* flavour : {"midi", "amp"}) {
        SCOPED_TRACE(flavour);
        // Slices of 256: blocks up to 4096 are split inside run.
        LilvPluginHost host(world, std::string(ADSR_URI_BASE) + flavour, {.maxBlock = 256});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        std::vector<MidiAt> midi;
        for (int64_t on = 100; on < 200000; on += 9000) {
            midi.push_back(MidiAt{on, 0x90, 60, 100});
            midi.push_back(MidiAt{on + 3000, 0x80, 60, 0});
        }
        for (int i = 0; i < 300; ++i) midi.push_back(MidiAt{150000, 0x90, static_cast<uint8_t>(i % 128), 1});
        midi.push_back(MidiAt{150001, 0xB0, 123, 0});
        Counted counted;
        countRuns(host, counted);
        host.run(210000, randomBlocks(9), midi, {}, [&](int64_t start) {
            host.setControl("sustain", start % 2 == 0 ? 0.4f : 0.6f);
            host.setControl("attack", start > 100000 ? 0.02f : 0.01f);
        });
        expectNothingCounted(counted);
    }
}

TEST(Lv2Realtime, GateRunsAllocateAndLockNothing) {
    const Lv2World world({buildDir() + "/ADSR.lv2"});
    LilvPluginHost host(world, std::string(ADSR_URI_BASE) + "gate", {});
    ASSERT_NE(host.instance(), nullptr) << host.messages();
    std::vector<float> gate(100000, 0.0f);
    for (size_t i = 0; i < gate.size(); ++i) gate[i] = (i / 700) % 3 == 0 ? 1.0f : 0.0f;
    for (size_t i = 60000; i < 61000; ++i) gate[i] = i % 2 == 0 ? 1.0f : 0.0f;  // edges at every frame
    Counted counted;
    countRuns(host, counted);
    host.run(100000, randomBlocks(4, 2048), {}, {{"gate", gate}});
    expectNothingCounted(counted);
}

TEST(Lv2Realtime, PatchRunsAllocateAndLockNothing) {
    // The example patch (every audio pin a note sets streaming a frame, the controls changing
    // between runs) and the effect plug-in of a patch with a free input.
    ScratchFolder folder;
    const std::string modules = std::filesystem::path(testModulePath("VCA")).parent_path().string();
    const std::string source = KVX_SOURCE_DIR;
    const std::vector<std::pair<std::string, std::string>> patches{
        {source + "/examples/patches/envelope-vca-osc.kvxpatch.json", "envelope-vca-osc/midi"},
        {source + "/tests/lv2/patches/envelope-on-input.kvxpatch.json", "envelope-on-input/effect"},
        {source + "/tests/lv2/patches/poly-vca-osc.kvxpatch.json", "poly-vca-osc/instrument"}};
    std::vector<std::string> bundles;
    for (const auto& [patch, uri] : patches) {
        bundles.push_back(folder.path(uri.substr(0, uri.find('/')) + ".lv2"));
        const ToolRun run = runKvx({"lv2", patch, "--out", bundles.back(), "--quiet"},
                                   {"KVX_PATH=" + modules + ":" + buildDir()});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const Lv2World world(bundles);
    std::vector<float> input(120000);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
    for (const auto& [patch, uri] : patches) {
        SCOPED_TRACE(uri);
        LilvPluginHost host(world, "https://kvx.example.org/modules/patches/" + uri, {.maxBlock = 256});
        ASSERT_NE(host.instance(), nullptr) << host.messages();
        std::vector<MidiAt> midi;
        for (int64_t on = 100; on < 100000; on += 7000) {
            midi.push_back(MidiAt{on, 0x90, static_cast<uint8_t>(40 + on % 50), 100});
            midi.push_back(MidiAt{on + 10, 0xE0, 0x00, static_cast<uint8_t>(on % 128)});
            midi.push_back(MidiAt{on + 3000, 0x80, static_cast<uint8_t>(40 + on % 50), 0});
        }
        // More messages at one frame than a block's event list holds; the pedal across the steals.
        for (int i = 0; i < 700; ++i) midi.push_back(MidiAt{80000, 0x90, static_cast<uint8_t>(i % 128), 1});
        midi.push_back(MidiAt{79000, 0xB0, 64, 127});
        midi.push_back(MidiAt{80001, 0xB0, 123, 0});
        midi.push_back(MidiAt{80002, 0xB0, 64, 0});
        std::stable_sort(midi.begin(), midi.end(),
                         [](const MidiAt& a, const MidiAt& b) { return a.frame < b.frame; });
        Counted counted;
        countRuns(host, counted);
        host.run(120000, randomBlocks(9), midi, {{"vca_input", input}}, [&](int64_t start) {
            host.setControl("release", start % 2 == 0 ? 0.2f : 0.3f);
            host.setControl("level", start > 60000 ? -12.0f : -6.0f);
        });
        expectNothingCounted(counted);
        // activate after deactivate is the host's reset of an instrument: real-time too.
        lilv_instance_deactivate(host.instance());
        lilv_instance_activate(host.instance());
        host.run(20000, randomBlocks(5), {{10, 0x90, 60, 100}});
        expectNothingCounted(counted);
    }
}

}  // namespace
}  // namespace kvx::test
