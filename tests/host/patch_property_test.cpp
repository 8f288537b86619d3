// SPDX-License-Identifier: MIT
// Random patches (graphs, values, notes, ramps, delayed connections and loops) run without
// fault and keep the patch's invariants: every block schedule gives the bits of one sample a
// block, and so does calling every module every block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/host/patch_harness.h"
#include "tests/host/random_patch.h"

namespace kvx::test {
namespace {

constexpr uint32_t PATCHES = 80;

std::string describe(const host::PatchGraph& graph) {
    std::string text;
    for (const host::PatchConnection& c : graph.connections)
        text += graph.modules[static_cast<size_t>(c.fromModule)].name + (c.oneSampleDelay ? " ~> " : " -> ") +
                graph.modules[static_cast<size_t>(c.toModule)].name + "." + std::to_string(c.toPin) + "  ";
    return text;
}

TEST(PatchProperty, RandomPatchesGiveTheSameBitsAtEveryScheduleWithOrWithoutSleep) {
    int32_t loops = 0, slept = 0;
    for (uint32_t seed = 1; seed <= PATCHES; ++seed) {
        std::mt19937 random(seed);
        const RandomPatch patch =
            randomPatch([&random](uint32_t n) { return static_cast<uint32_t>(random() % n); });
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + describe(patch.graph));
        const int64_t length = patch.score.length;
        const PatchRun reference = runPatch(patch.graph, patch.score, blockSizes(length, 1));
        const PatchRun runs[] = {
            runPatch(patch.graph, patch.score, blockSizes(length, 0, seed)),
            runPatch(patch.graph, patch.score, blockSizes(length, 4096)),
            runPatch(patch.graph, patch.score, blockSizes(length, 0, seed + 1000), false)};
        for (const PatchRun& run : runs) {
            EXPECT_EQ(run.stats.mergedReports, 0);
            for (size_t o = 0; o < reference.outputs.size(); ++o)
                ASSERT_EQ(std::memcmp(run.outputs[o].data(), reference.outputs[o].data(),
                                      sizeof(float) * run.outputs[o].size()),
                          0)
                    << "output " << o;
        }
        for (const host::PatchConnection& c : patch.graph.connections) loops += c.oneSampleDelay ? 1 : 0;
        slept += reference.stats.sleepRequests > 0 ? 1 : 0;
    }
    // The generator covers what it is for.
    EXPECT_GT(loops, static_cast<int32_t>(PATCHES) / 2);
    EXPECT_GT(slept, static_cast<int32_t>(PATCHES) / 2);
}

}  // namespace
}  // namespace kvx::test
