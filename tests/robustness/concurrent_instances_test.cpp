// SPDX-License-Identifier: MIT
// Many instances of one loaded ADSR.kvx, created and run on several threads at once, each
// instance on one thread, sharing only the factory: every instance's output must be bit-identical
// to a single-threaded rendering of the same session. Built with ThreadSanitizer (`make
// test-tsan`), a data race between instances fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <latch>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/test_paths.h"

namespace {

using kvx::host::EventList;
using kvx::host::PluginInstance;
using kvx::host::SleepingRunner;
namespace adsr = kvx::adsr;

constexpr int INSTANCES = 64;
constexpr int THREADS = 8;
constexpr int BLOCKS = 160;
constexpr int32_t MAX_BLOCK = 256;

struct TimedEvent {
    int32_t block;
    int32_t timestamp;
    int32_t pin;
    float value;  // bool pins: nonzero is true
};

// A session of its own for every instance: sample rate, block sizes, settings, note events.
struct Session {
    float sampleRate;
    std::vector<int32_t> blockSizes;
    float settings[7];  // pins 2..8
    std::vector<TimedEvent> events;
};

Session makeSession(int index) {
    std::mt19937 random(static_cast<uint32_t>(index) * 7919u + 17u);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float rates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f};
    Session session;
    session.sampleRate = rates[index % 4];
    for (int block = 0; block < BLOCKS; ++block)
        session.blockSizes.push_back(1 + static_cast<int32_t>(random() % MAX_BLOCK));
    for (int i = 0; i < 7; ++i)
        session.settings[i] = 0.05f + 0.15f * unit(random);  // 1.6 ms .. 6 ms segments
    session.settings[adsr::PIN_SUSTAIN_LEVEL - adsr::PIN_ATTACK_TIME] = 0.3f + 0.5f * unit(random);
    for (int i = 3; i < 7; ++i) session.settings[i] = 2.0f * unit(random) - 1.0f;  // curves
    session.settings[adsr::PIN_RELEASE_TIME - adsr::PIN_ATTACK_TIME] = 0.2f + 0.1f * unit(random);
    // Notes: gate on + trigger, later gate off; now and then a reset.
    for (int block = 0; block < BLOCKS; block += 20 + static_cast<int>(random() % 12)) {
        const int32_t at =
            static_cast<int32_t>(random() % static_cast<uint32_t>(session.blockSizes[size_t(block)]));
        session.events.push_back({block, at, adsr::PIN_GATE, 1.0f});
        session.events.push_back({block, at, adsr::PIN_TRIGGER, 1.0f});
        const int off = block + 8 + static_cast<int>(random() % 8);
        if (off < BLOCKS) session.events.push_back({off, 0, adsr::PIN_GATE, 0.0f});
        if (random() % 5 == 0 && off + 2 < BLOCKS)
            session.events.push_back({off + 2, 0, adsr::PIN_RESET, 1.0f});
    }
    return session;
}

// One instance running one session, a block at a time (so that a thread can interleave several).
class Rendering {
public:
    Rendering(const kvx::host::PluginLibrary& library, const Session& plan)
        : session(plan),
          instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE),
          runner(instance, adsr::PIN_OUTPUT) {
        instance.host().sampleRate = session.sampleRate;
        instance.host().recordTrace = false;
        for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
            instance.bindBuffer(pin, MAX_BLOCK);
            std::fill_n(instance.buffer(pin), MAX_BLOCK, session.settings[pin - adsr::PIN_ATTACK_TIME]);
        }
        instance.bindBuffer(adsr::PIN_OUTPUT, MAX_BLOCK);
        instance.plugin()->openModule();
    }

    bool done() const { return block == BLOCKS; }

    void runBlock() {
        EventList events;
        if (block == 0) events.add(0, kvx::EV_GRAPH_BEGIN);
        for (const TimedEvent& event : session.events) {
            if (event.block != block) continue;
            if (event.pin == adsr::PIN_RESET)
                events.addFloat(event.timestamp, event.pin, event.value);
            else
                events.addBool(event.timestamp, event.pin, event.value != 0.0f);
        }
        events.sortByTime();
        const int32_t size = session.blockSizes[size_t(block)];
        runner.runBlock(size, events.empty() ? nullptr : events.head());
        const float* out = instance.buffer(adsr::PIN_OUTPUT);
        output.insert(output.end(), out, out + size);
        ++block;
    }

    std::vector<float> output;

private:
    const Session& session;
    PluginInstance instance;
    SleepingRunner runner;
    int block = 0;
};

TEST(ConcurrentInstances, ManyThreadsMatchTheSingleThreadedRendering) {
    kvx::host::PluginLibrary library(kvx::test::adsrLibraryPath());
    std::vector<Session> sessions;
    for (int i = 0; i < INSTANCES; ++i) sessions.push_back(makeSession(i));

    std::vector<std::vector<float>> expected;
    for (const Session& session : sessions) {
        Rendering rendering(library, session);
        while (!rendering.done()) rendering.runBlock();
        // A session that never moves would make the comparison vacuous.
        ASSERT_GT(*std::max_element(rendering.output.begin(), rendering.output.end()), 0.1f);
        expected.push_back(std::move(rendering.output));
    }

    // Each thread creates its instances (through the shared factory) and runs them interleaved,
    // block by block; all threads start together.
    std::vector<std::vector<float>> actual(INSTANCES);
    std::latch start(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            std::vector<std::unique_ptr<Rendering>> mine;
            for (int i = t; i < INSTANCES; i += THREADS)
                mine.push_back(std::make_unique<Rendering>(library, sessions[size_t(i)]));
            while (!mine.front()->done())
                for (auto& rendering : mine) rendering->runBlock();
            for (size_t k = 0; k < mine.size(); ++k)
                actual[size_t(t) + k * THREADS] = std::move(mine[k]->output);
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < INSTANCES; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(actual[size_t(i)].size(), expected[size_t(i)].size());
        EXPECT_EQ(std::memcmp(actual[size_t(i)].data(), expected[size_t(i)].data(),
                              expected[size_t(i)].size() * sizeof(float)),
                  0);
    }
}

}  // namespace
