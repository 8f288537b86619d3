// SPDX-License-Identifier: MIT
// host::VoicePool against the host protocol it must keep: every voice's output, block by block,
// bit-identical to that voice rendered alone through host::SleepingRunner, sleep honoured (a
// sleeping voice is not called) or not, over random notes, resets and block sizes; and the
// errors it reports before running anything.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "host/host_error.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "host/voice_pool.h"
#include "interfaces/host_event.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

constexpr int32_t VOICES = 12;
constexpr int32_t BLOCKS = 400;
constexpr int32_t MAX_BLOCK = 96;

host::VoiceLayout adsrLayout() {
    host::VoiceLayout layout;
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        layout.inputPins.push_back(pin);
    layout.outputPin = adsr::PIN_OUTPUT;
    layout.maxBlock = MAX_BLOCK;
    return layout;
}

// Short segments (1 ms .. 6 ms), so that notes reach their sustain and idle and voices sleep.
std::vector<float> voiceSettings(std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> settings;
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        settings.push_back(pin == adsr::PIN_SUSTAIN_LEVEL ? 0.2f + 0.6f * unit(random) : 0.2f * unit(random));
    return settings;
}

// One voice rendered alone the way the pool must render it.
struct LoneVoice {
    LoneVoice(const host::PluginLibrary& library, const std::vector<float>& settings, bool honourSleep)
        : instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE), runner(instance, adsr::PIN_OUTPUT) {
        instance.host().recordTrace = false;
        for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
            instance.bindBuffer(pin, MAX_BLOCK);
            std::fill_n(instance.buffer(pin), MAX_BLOCK,
                        settings[static_cast<size_t>(pin - adsr::PIN_ATTACK_TIME)]);
        }
        instance.bindBuffer(adsr::PIN_OUTPUT, MAX_BLOCK);
        runner.honourSleep = honourSleep;
    }
    host::PluginInstance instance;
    host::SleepingRunner runner;
};

// Block sizes up to the pool's largest, mostly 64, with 0, 1, odd sizes and a negative count.
int32_t blockSize(std::mt19937& random) {
    const int32_t sizes[] = {64, 64, 64, 64, 1, 17, 0, MAX_BLOCK, 33, -3};
    return sizes[random() % std::size(sizes)];
}

// Now and then a note on, a gate off or a reset at a random sample of the block; the first
// block starts the graph.
host::EventList voiceEvents(std::mt19937& random, int32_t block, int32_t sampleCount) {
    host::EventList events;
    if (block == 0) events.add(0, EV_GRAPH_BEGIN);
    if (sampleCount <= 0 || random() % 12 != 0) return events;
    const int32_t at = static_cast<int32_t>(random() % static_cast<uint32_t>(sampleCount));
    switch (random() % 4) {
        case 0:
        case 1:
            events.addBool(at, adsr::PIN_GATE, true);
            events.addBool(at, adsr::PIN_TRIGGER, true);
            break;
        case 2:
            events.addBool(at, adsr::PIN_GATE, false);
            break;
        default:
            events.addFloat(at, adsr::PIN_RESET, 1.0f);
            break;
    }
    return events;
}

struct PoolCase {
    const char* module;  // a library in the build: ADSR, or a test module
    bool honourSleep;
};

void PrintTo(const PoolCase& c, std::ostream* out) {
    *out << c.module << (c.honourSleep ? ", honouring sleep" : ", calling every block");
}

std::string libraryPath(const char* module) {
    return std::string(module) == "ADSR" ? adsrLibraryPath() : testModulePath(module);
}

class VoicePoolSessions : public ::testing::TestWithParam<PoolCase> {};

TEST_P(VoicePoolSessions, EveryVoiceMatchesItsLoneRenderingBitForBit) {
    const PoolCase c = GetParam();
    host::PluginLibrary library(libraryPath(c.module));
    host::VoicePool pool(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE, VOICES, adsrLayout());
    pool.honourSleep = c.honourSleep;
    std::mt19937 random(20261208);
    std::vector<std::unique_ptr<LoneVoice>> lone;
    for (int32_t v = 0; v < VOICES; ++v) {
        const std::vector<float> settings = voiceSettings(random);
        lone.push_back(std::make_unique<LoneVoice>(library, settings, c.honourSleep));
        for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
            std::fill_n(pool.input(v, pin), MAX_BLOCK,
                        settings[static_cast<size_t>(pin - adsr::PIN_ATTACK_TIME)]);
    }

    int64_t loneCalls = 0, sleepingVoiceBlocks = 0;
    for (int32_t block = 0; block < BLOCKS; ++block) {
        const int32_t n = blockSize(random);
        std::vector<host::EventList> lists;
        for (int32_t v = 0; v < VOICES; ++v) lists.push_back(voiceEvents(random, block, n));
        std::vector<host::VoiceEvents> events;
        for (int32_t v = 0; v < VOICES; ++v) {
            host::EventList& list = lists[static_cast<size_t>(v)];
            if (!list.empty()) events.push_back({v, list.head()});
            loneCalls += lone[static_cast<size_t>(v)]->runner.runBlock(n, list.head()) ? 1 : 0;
        }
        pool.runBlock(n, events);
        for (int32_t v = 0; v < VOICES; ++v) {
            LoneVoice& alone = *lone[static_cast<size_t>(v)];
            const float* expected = alone.instance.buffer(adsr::PIN_OUTPUT);
            ASSERT_EQ(
                std::memcmp(pool.output(v), expected, sizeof(float) * static_cast<size_t>(std::max(n, 0))), 0)
                << "voice " << v << ", block " << block << " of " << n << " samples";
            ASSERT_EQ(pool.asleep(v), alone.runner.asleep()) << "voice " << v << ", block " << block;
            sleepingVoiceBlocks += pool.asleep(v) ? 1 : 0;
        }
    }
    EXPECT_EQ(pool.stats().calls, loneCalls) << "the pool calls a voice exactly when SleepingRunner does";
    EXPECT_EQ(pool.stats().blocks, BLOCKS);
    if (c.honourSleep) {
        EXPECT_GT(sleepingVoiceBlocks, VOICES * BLOCKS / 4) << "the session lets voices sleep";
        EXPECT_LT(pool.stats().calls, int64_t{VOICES} * BLOCKS);
    } else {
        EXPECT_EQ(pool.stats().calls, int64_t{VOICES} * BLOCKS);
    }
}

INSTANTIATE_TEST_SUITE_P(Host, VoicePoolSessions,
                         ::testing::Values(PoolCase{"ADSR", true}, PoolCase{"ADSR", false},
                                           PoolCase{"SleepsWhenConstant", true},
                                           PoolCase{"SleepsWhenConstant", false}),
                         [](const ::testing::TestParamInfo<PoolCase>& info) {
                             return std::string(info.param.module) +
                                    (info.param.honourSleep ? "_HonouringSleep" : "_CallingEveryBlock");
                         });

TEST(VoicePool, RefusesWhatItCannotRunBeforeRunningAnything) {
    host::PluginLibrary library(adsrLibraryPath());
    host::VoicePool pool(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 3, adsrLayout());
    host::EventList on;
    on.addBool(0, adsr::PIN_GATE, true);
    EXPECT_THROW(pool.runBlock(MAX_BLOCK + 1), host::HostError);
    const host::VoiceEvents backwards[] = {{2, on.head()}, {1, on.head()}};
    EXPECT_THROW(pool.runBlock(64, backwards), host::HostError);
    const host::VoiceEvents twice[] = {{1, on.head()}, {1, on.head()}};
    EXPECT_THROW(pool.runBlock(64, twice), host::HostError);
    const host::VoiceEvents noVoice[] = {{3, on.head()}};
    EXPECT_THROW(pool.runBlock(64, noVoice), host::HostError);
    EXPECT_EQ(pool.stats().blocks, 0);
    EXPECT_EQ(pool.stats().calls, 0);
}

// A layout naming a pin the module refuses: the voices created so far are released again (the
// sanitizer and valgrind runs see a leak otherwise).
TEST(VoicePool, AModuleRefusingABufferFailsTheConstruction) {
    host::PluginLibrary library(adsrLibraryPath());
    host::VoiceLayout layout = adsrLayout();
    layout.inputPins.push_back(adsr::PIN_COUNT);
    EXPECT_THROW(host::VoicePool(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 4, layout), host::HostError);
    EXPECT_THROW(host::VoicePool(library, u"NO SUCH", 0, 4, adsrLayout()), host::HostError);
}

// A layout that leaves out the envelope's audio inputs (a description calling them controls
// gives one): the pool binds a buffer of its own, holding 0.0 like the layout's, to every pin the
// module accepts, so the voices play exactly as with every input named and at 0.0, instead of
// reading through a null pointer.
TEST(VoicePool, PinsTheLayoutLeavesOutStillGetBuffers) {
    host::PluginLibrary library(adsrLibraryPath());
    host::VoiceLayout bare = adsrLayout();
    bare.inputPins.clear();
    host::VoicePool named(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 2, adsrLayout());
    host::VoicePool unnamed(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 2, bare);
    host::EventList note;
    note.add(0, EV_GRAPH_BEGIN);
    note.addBool(0, adsr::PIN_GATE, true);
    note.addBool(0, adsr::PIN_TRIGGER, true);
    note.addBool(40, adsr::PIN_GATE, false);
    for (int32_t block = 0; block < 8; ++block) {
        const host::VoiceEvents first[] = {{1, note.head()}};
        const std::span<const host::VoiceEvents> events =
            block == 0 ? first : std::span<const host::VoiceEvents>{};
        named.runBlock(MAX_BLOCK, events);
        unnamed.runBlock(MAX_BLOCK, events);
        if (block == 0) {
            EXPECT_GT(named.output(1)[20], 0.1f);  // the note plays
        }
        for (int32_t voice = 0; voice < 2; ++voice)
            EXPECT_EQ(std::memcmp(named.output(voice), unnamed.output(voice), MAX_BLOCK * sizeof(float)), 0)
                << "block " << block << ", voice " << voice;
    }
    EXPECT_GT(named.stats().calls, 1);
}

}  // namespace
}  // namespace kvx::test
