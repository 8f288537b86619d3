// SPDX-License-Identifier: MIT
// The host library at its edges: the event list built, sorted and read again, its records
// linked and terminated every time; and a scripted module's output declared constant at the
// last sample of a block, at sample 0, twice in one block, with the sleep asked for in that very
// block, through SleepingRunner and VoicePool (1 voice, and 6 with events for the first and the
// last only), every sample of every block checked against what the script says the output is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "host/voice_pool.h"
#include "tests/host/scripted_output.h"
#include "tests/support/test_paths.h"

namespace kvx::test {
namespace {

// The list as a module reads it: (timestamp, type, pin) from head() along `next`, at most
// `limit` records (a list that does not end there is reported by its length).
std::vector<std::tuple<int32_t, int32_t, int32_t>> walk(host::EventList& list, size_t limit) {
    std::vector<std::tuple<int32_t, int32_t, int32_t>> seen;
    for (const HostEvent* e = list.head(); e != nullptr && seen.size() <= limit; e = e->next)
        seen.emplace_back(e->timestamp, e->type, e->pinId);
    return seen;
}

TEST(EventList, IsSortedStablyAndLinkedAndTerminatedAfterEveryChange) {
    host::EventList list;
    EXPECT_EQ(list.head(), nullptr);

    const char blob[16] = "out of line";
    list.addFloat(5, 1, 0.5f);
    list.add(0, EV_GRAPH_BEGIN);
    list.addBool(5, 2, true);
    list.addFloat(0, 3, -2.0f);
    list.addData(2, 4, 16, blob);
    list.sortByTime();
    using Seen = std::vector<std::tuple<int32_t, int32_t, int32_t>>;
    EXPECT_EQ(walk(list, 5), (Seen{{0, EV_GRAPH_BEGIN, -1},
                                   {0, EV_PIN_VALUE, 3},
                                   {2, EV_PIN_VALUE, 4},
                                   {5, EV_PIN_VALUE, 1},
                                   {5, EV_PIN_VALUE, 2}}));
    const HostEvent* head = list.head();
    float value = 0.0f;
    std::memcpy(&value, head->next->inlineValue, 4);
    EXPECT_EQ(value, -2.0f);
    EXPECT_EQ(head->next->size, 4);
    EXPECT_EQ(head->next->next->data, blob);
    EXPECT_EQ(head->next->next->size, 16);
    int32_t word = 0;
    std::memcpy(&word, head->next->next->next->next->inlineValue, 4);
    EXPECT_EQ(word, 1);

    // Many more, added in falling time: the records move, and the list is linked again over
    // them; one timestamp keeps the order of addition.
    for (int32_t i = 99; i >= 0; --i) list.addFloat(i / 2, 10 + i % 2, 0.0f);
    list.sortByTime();
    const Seen all = walk(list, list.size());
    ASSERT_EQ(all.size(), 105u);
    EXPECT_EQ(
        Seen(all.begin(), all.begin() + 4),
        (Seen{{0, EV_GRAPH_BEGIN, -1}, {0, EV_PIN_VALUE, 3}, {0, EV_PIN_VALUE, 11}, {0, EV_PIN_VALUE, 10}}));
    for (size_t i = 1; i < all.size(); ++i) {
        ASSERT_LE(std::get<0>(all[i - 1]), std::get<0>(all[i])) << i;
        if (std::get<0>(all[i - 1]) == std::get<0>(all[i]) && std::get<2>(all[i]) >= 10 &&
            std::get<2>(all[i - 1]) >= 10) {
            EXPECT_EQ(std::get<2>(all[i - 1]), 11) << "odd i was added first at its timestamp, " << i;
        }
    }

    // Cleared and built shorter, then longer: the last record ends the list each time.
    list.clear();
    EXPECT_EQ(list.head(), nullptr);
    list.add(3, EV_STREAM_END, 7);
    EXPECT_EQ(walk(list, 1), (Seen{{3, EV_STREAM_END, 7}}));
    list.add(1, EV_STREAM_BEGIN, 7);
    list.add(2, EV_STREAM_BEGIN, 8);
    EXPECT_EQ(walk(list, 3), (Seen{{3, EV_STREAM_END, 7}, {1, EV_STREAM_BEGIN, 7}, {2, EV_STREAM_BEGIN, 8}}))
        << "head() links in the current order; it does not sort";
    // The sort moves the record linked first to the end, its old link with it.
    list.sortByTime();
    EXPECT_EQ(walk(list, 3), (Seen{{1, EV_STREAM_BEGIN, 7}, {2, EV_STREAM_BEGIN, 8}, {3, EV_STREAM_END, 7}}));
}

// --- The scripted module through the runner and the pool ---

struct Script {
    int32_t at;
    int32_t pin;
    float value = 0.0f;
};
Script stream(int32_t at, float from) { return {at, SCRIPT_STREAM, from}; }
Script hold(int32_t at, float value) { return {at, SCRIPT_HOLD, value}; }
Script sleep(int32_t at) { return {at, SCRIPT_SLEEP}; }

struct Block {
    int32_t samples;
    std::vector<Script> script;
};

struct FillCase {
    const char* name;
    std::vector<Block> blocks;
};

constexpr int32_t MAX_BLOCK = 64;

// What the script says the output is, block by block, and how many blocks a host honouring
// sleep calls the module in (a sleeping module is called again only for events).
struct Expected {
    std::vector<std::vector<float>> outputs;
    int64_t calls = 0;
};

Expected expectedFor(const FillCase& row) {
    Expected expected;
    bool streaming = true, asleep = false;
    float next = SCRIPTED_FIRST_VALUE, held = 0.0f;
    for (const Block& block : row.blocks) {
        std::vector<float> out;
        const bool called = !asleep || !block.script.empty();
        expected.calls += called ? 1 : 0;
        if (called) asleep = false;
        for (int32_t i = 0; i < block.samples; ++i) {
            for (const Script& s : block.script) {
                if (s.at != i) continue;
                if (s.pin == SCRIPT_STREAM) streaming = true, next = s.value;
                if (s.pin == SCRIPT_HOLD) streaming = false, held = s.value;
                if (s.pin == SCRIPT_SLEEP) asleep = true;
            }
            out.push_back(streaming ? next++ : held);
        }
        expected.outputs.push_back(out);
    }
    return expected;
}

host::EventList eventsOf(const Block& block) {
    host::EventList list;
    for (const Script& s : block.script) list.addFloat(s.at, s.pin, s.value);
    return list;
}

std::string compare(const float* got, const std::vector<float>& expected, size_t block) {
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::memcmp(&got[i], &expected[i], sizeof(float)) != 0)
            return "block " + std::to_string(block) + ", sample " + std::to_string(i) + ": " +
                   std::to_string(got[i]) + ", expected " + std::to_string(expected[i]);
    return "";
}

const std::vector<FillCase>& fillCases() {
    static const std::vector<FillCase> cases{
        {"constant from a block's last sample, asleep in that block",
         {{64, {}},
          {64, {hold(63, 0.5f), sleep(63)}},
          {64, {}},
          {16, {}},
          {64, {}},
          {64, {stream(20, 7.0f)}},
          {64, {}}}},
        {"constant from sample 0, asleep in that block",
         {{64, {}},
          {64, {hold(0, 0.25f), sleep(0)}},
          {64, {}},
          {1, {}},
          {64, {}},
          {64, {stream(0, 3.0f)}},
          {64, {}}}},
        {"constant twice in one block, asleep in it",
         {{64, {hold(10, 0.5f), hold(40, 0.25f), sleep(40)}}, {64, {}}, {33, {}}, {64, {stream(5, 9.0f)}}}},
        {"constant at sample 0 and again at the last, asleep in that block",
         {{64, {hold(0, 0.75f), hold(63, -0.5f), sleep(63)}}, {64, {}}, {64, {}}}},
        {"constant, streaming again, constant at the last sample, asleep in the next block",
         {{64, {hold(10, 0.5f), stream(30, 50.0f)}},
          {64, {hold(63, 2.0f)}},
          {64, {sleep(0)}},
          {64, {}},
          {64, {}},
          {64, {stream(63, 1.0f)}},
          {64, {}}}},
        {"asleep, woken by a new constant value, asleep again later",
         {{64, {hold(20, 0.5f), sleep(20)}},
          {64, {}},
          {64, {hold(30, 0.125f)}},
          {64, {}},
          {64, {sleep(10)}},
          {64, {}},
          {17, {}}}},
        {"blocks of one sample",
         {{1, {}},
          {1, {}},
          {1, {hold(0, 0.5f), sleep(0)}},
          {1, {}},
          {1, {}},
          {1, {stream(0, 4.0f)}},
          {1, {}},
          {1, {hold(0, -1.0f), sleep(0)}},
          {1, {}}}},
        {"blocks of other sizes while asleep, 0 among them",
         {{64, {}},
          {7, {hold(6, 0.5f), sleep(6)}},
          {64, {}},
          {1, {}},
          {48, {}},
          {0, {}},
          {64, {}},
          {5, {stream(4, 2.0f)}},
          {64, {}}}},
    };
    return cases;
}

class ScriptedFills : public ::testing::TestWithParam<size_t> {
protected:
    host::PluginLibrary library{testModulePath("ScriptedOutput")};
};

TEST_P(ScriptedFills, SleepingRunnerHoldsTheDeclaredValueInEverySample) {
    const FillCase& row = fillCases()[GetParam()];
    SCOPED_TRACE(row.name);
    const Expected expected = expectedFor(row);
    for (const auto& [honour, refill] : {std::pair{true, false}, {true, true}, {false, false}}) {
        SCOPED_TRACE(std::string(honour ? "honouring sleep" : "calling every block") +
                     (refill ? ", output overwritten between blocks" : ""));
        host::PluginInstance instance(library, SCRIPTED_OUTPUT_ID, 0);
        instance.bindBuffer(SCRIPTED_OUTPUT_PIN, MAX_BLOCK);
        host::SleepingRunner runner(instance, SCRIPTED_OUTPUT_PIN);
        runner.honourSleep = honour;
        runner.refillSleptBlocks = refill;
        float* out = instance.buffer(SCRIPTED_OUTPUT_PIN);
        for (size_t b = 0; b < row.blocks.size(); ++b) {
            host::EventList events = eventsOf(row.blocks[b]);
            runner.runBlock(row.blocks[b].samples, events.head());
            ASSERT_EQ(compare(out, expected.outputs[b], b), "");
            // Something else (a mixer, an effect in place) writes into the buffer between blocks.
            if (refill) std::fill(out, out + MAX_BLOCK, std::numeric_limits<float>::quiet_NaN());
        }
        const int64_t blocks = static_cast<int64_t>(row.blocks.size());
        EXPECT_EQ(runner.stats().blocksCalled, honour ? expected.calls : blocks);
    }
}

TEST_P(ScriptedFills, VoicePoolHoldsTheDeclaredValueInEverySampleOfTheVoicesWithEvents) {
    const FillCase& row = fillCases()[GetParam()];
    SCOPED_TRACE(row.name);
    const Expected expected = expectedFor(row);
    host::VoiceLayout layout;
    layout.outputPin = SCRIPTED_OUTPUT_PIN;
    layout.maxBlock = MAX_BLOCK;
    for (const int32_t voices : {1, 6})
        for (const bool honour : {true, false}) {
            SCOPED_TRACE(std::to_string(voices) + " voices, " +
                         (honour ? "honouring sleep" : "calling every block"));
            host::VoicePool pool(library, SCRIPTED_OUTPUT_ID, 0, voices, layout);
            pool.honourSleep = honour;
            const int32_t last = voices - 1;
            int64_t position = 0;
            for (size_t b = 0; b < row.blocks.size(); ++b) {
                host::EventList first = eventsOf(row.blocks[b]), lastList = eventsOf(row.blocks[b]);
                std::vector<host::VoiceEvents> events;
                if (!first.empty()) events.push_back({0, first.head()});
                if (last > 0 && !lastList.empty()) events.push_back({last, lastList.head()});
                pool.runBlock(row.blocks[b].samples, events);
                ASSERT_EQ(compare(pool.output(0), expected.outputs[b], b), "") << "voice 0";
                ASSERT_EQ(compare(pool.output(last), expected.outputs[b], b), "") << "voice " << last;
                // The voices between never get an event: they stream on, sample for sample.
                std::vector<float> streaming;
                for (int32_t i = 0; i < row.blocks[b].samples; ++i)
                    streaming.push_back(SCRIPTED_FIRST_VALUE + static_cast<float>(position + i));
                for (int32_t v = 1; v < last; ++v)
                    ASSERT_EQ(compare(pool.output(v), streaming, b), "") << "voice " << v;
                position += row.blocks[b].samples;
            }
            const int64_t blocks = static_cast<int64_t>(row.blocks.size());
            const int64_t edgeVoices = voices == 1 ? 1 : 2;
            EXPECT_EQ(pool.stats().calls,
                      (honour ? expected.calls : blocks) * edgeVoices + (voices - edgeVoices) * blocks);
        }
}

INSTANTIATE_TEST_SUITE_P(Rows, ScriptedFills, ::testing::Range<size_t>(0, fillCases().size()));

}  // namespace
}  // namespace kvx::test
