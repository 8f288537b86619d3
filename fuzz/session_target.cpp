// SPDX-License-Identifier: MIT
// The session fuzz target: turns its input bytes into a host session against ADSR.kvx (sample
// rate, attachment, countdown policy, block sizes, input samples, events of every kind, legal or
// not) and aborts when the module breaks an invariant a host relies on: finite output, nothing
// written outside the block or into input buffers, no sleep while the output streams, constant
// output while declared constant, every owed sample written, the host services released exactly
// once. The host is the conformance kit's raw host and block loop.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "conformance/block_loop.h"
#include "conformance/raw_host.h"
#include "fuzz/byte_reader.h"
#include "fuzz/invariant_check.h"
#include "host/event_list.h"
#include "host/plugin_library.h"
#include "interfaces/interface_ids.h"
#include "interfaces/plugin_interfaces.h"
#include "interfaces/result_codes.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::fuzz {
namespace {

using conformance::Block;
using conformance::BlockLoop;
using conformance::HeardCalls;
using conformance::LoopEvidence;
using conformance::RawHost;
using host::EventList;

constexpr int32_t MAX_BLOCK = 4096;
constexpr int32_t MAX_BLOCKS = 400;
constexpr int64_t MAX_SESSION_SAMPLES = 1 << 16;  // keeps one execution to a few milliseconds

const float NAN_F = std::numeric_limits<float>::quiet_NaN();
const float INF_F = std::numeric_limits<float>::infinity();
const float MAX_F = std::numeric_limits<float>::max();
const float DENORMAL_F = std::numeric_limits<float>::denorm_min();

// Values a host might put on an input or in a float event: usual ones and hostile ones.
const float INTERESTING_FLOATS[] = {0.0f,  0.25f,  0.5f,  0.75f,      1.0f,  2.0f,   0.1f,  0.9f,
                                    -1.0f, 10.0f,  1e-6f, DENORMAL_F, -0.0f, NAN_F,  INF_F, -INF_F,
                                    MAX_F, -MAX_F, 50.0f, -50.0f,     1e6f,  0.001f, 0.3f,  1.5f};

// Writes new samples for one input over the block, in one of a few shapes.
void fillInput(ByteReader& reader, float* samples, int32_t count) {
    switch (reader.byte() % 6) {
        case 0:
        case 1:
            break;  // unchanged: most inputs hold still most of the time
        case 2:
        case 3: {
            std::fill(samples, samples + count, reader.pick(INTERESTING_FLOATS));
            break;
        }
        case 4: {
            const float from = reader.pick(INTERESTING_FLOATS);
            const float to = reader.pick(INTERESTING_FLOATS);
            for (int32_t i = 0; i < count; ++i)
                samples[i] = from + (to - from) * (static_cast<float>(i) / static_cast<float>(count));
            break;
        }
        default: {
            // A short raw pattern, repeated.
            float pattern[4];
            for (float& value : pattern) value = reader.rawFloat();
            for (int32_t i = 0; i < count; ++i) samples[i] = pattern[i % 4];
            break;
        }
    }
}

int32_t eventTimestamp(ByteReader& reader, int32_t blockSize) {
    const uint8_t mode = reader.byte();
    const int32_t span = blockSize > 0 ? blockSize : 1;
    if (mode < 200) return static_cast<int32_t>(reader.u16() % static_cast<uint32_t>(span));
    if (mode < 220) return 0;
    if (mode < 235) return blockSize;  // at the block's end: never delivered
    const int32_t odd[] = {-1, blockSize + 1, blockSize + 1000, INT_MAX, INT_MIN, blockSize - 1};
    return reader.pick(odd);
}

// Adds one event of any kind to the list; out-of-line value bytes live in `heap`, sized
// exactly to what the event claims (up to 8 bytes), so that an over-read is caught.
void addEvent(ByteReader& reader, EventList& list, std::vector<std::unique_ptr<unsigned char[]>>& heap,
              int32_t blockSize) {
    static const int32_t types[] = {EV_PIN_VALUE,
                                    EV_PIN_VALUE,
                                    EV_PIN_VALUE,
                                    EV_PIN_VALUE,
                                    EV_PIN_VALUE,
                                    EV_PIN_VALUE,
                                    EV_STREAM_BEGIN,
                                    EV_STREAM_BEGIN,
                                    EV_STREAM_END,
                                    EV_STREAM_END,
                                    EV_PIN_OTHER,
                                    EV_GRAPH_BEGIN,
                                    0,
                                    -1,
                                    99,
                                    105,
                                    INT_MIN,
                                    INT_MAX};
    static const int32_t oddPins[] = {-1, 11, 12, 1000, INT_MIN, INT_MAX};
    static const int32_t sizes[] = {4, 4, 4, 4, 4, 4, 0, 1, 2, 3, 5, 8, -1, INT_MIN, 1000, INT_MAX};

    const int32_t type = reader.pick(types);
    const uint8_t pinChoice = reader.byte();
    const int32_t pin = pinChoice % 16 <= 10 ? pinChoice % 16 : reader.pick(oddPins);
    const int32_t timestamp = eventTimestamp(reader, blockSize);
    const int32_t size = reader.pick(sizes);

    unsigned char value[8] = {};
    switch (reader.byte() % 3) {
        case 0: {
            const float number = reader.pick(INTERESTING_FLOATS);
            std::memcpy(value, &number, sizeof number);
            break;
        }
        case 1: {
            static const int32_t words[] = {0, 1, -1, 2, 256, INT_MIN};
            const int32_t word = reader.pick(words);
            std::memcpy(value, &word, sizeof word);
            break;
        }
        default:
            for (unsigned char& byte : value) byte = reader.byte();
            break;
    }

    if (reader.byte() % 4 == 0) {
        const size_t held = static_cast<size_t>(std::clamp<int32_t>(size, 0, 8));
        heap.emplace_back(new unsigned char[held]);
        std::memcpy(heap.back().get(), value, held);
        list.addData(timestamp, pin, size, heap.back().get());
    } else {
        list.addInline(timestamp, pin, size, value, 8);
    }
    list[list.size() - 1].type = type;
}

}  // namespace

// The library under test, loaded once per process: KVX_ADSR_PATH, else the build's ADSR.kvx.
const host::PluginLibrary& adsrLibrary() {
    static const host::PluginLibrary library([] {
        const char* path = std::getenv("KVX_ADSR_PATH");
        return std::string(path != nullptr ? path : KVX_ADSR_DEFAULT_PATH);
    }());
    return library;
}

namespace {

// The inputs, pins 2..8, all audio inputs: their stream ends raise the module's countdown.
std::vector<int32_t> inputPins() {
    std::vector<int32_t> pins;
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) pins.push_back(pin);
    return pins;
}

void runSession(const uint8_t* bytes, size_t size) {
    ByteReader reader(bytes, size);
    const host::PluginLibrary& library = adsrLibrary();

    // --- The host ---
    static const float rates[] = {48000.0f, 44100.0f, 96000.0f,  8000.0f, 768000.0f, 1234.5678f, 22050.0f,
                                  1.0f,     0.0f,     -48000.0f, NAN_F,   INF_F,     MAX_F,      DENORMAL_F};
    RawHost host;
    const uint8_t rateChoice = reader.byte();
    host.sampleRate =
        rateChoice < 250 ? rates[rateChoice % (sizeof rates / sizeof rates[0])] : reader.rawFloat();
    const uint8_t flags = reader.byte();
    host.refuseServices = (flags & 0x07) == 0;  // one session in eight: a host without services
    host.refuseAux = (flags & 0x08) != 0;
    const bool honourSleep = (flags & 0x10) == 0;
    const bool keepFuzzOrder = (flags & 0xE0) == 0xE0;  // rarely: events as generated, out of order
    const bool throughFirstView = (reader.byte() & 0x03) == 0;
    static const int32_t countdowns[] = {64, 1, 0, -1, INT_MIN, INT_MAX, 4096, 2};
    const uint8_t countdownChoice = reader.byte();
    const bool countdownFollowsBlock = countdownChoice % 10 == 8;
    const bool countdownPerBlock = countdownChoice % 10 == 9;
    int32_t countdown = countdowns[countdownChoice % 8];
    int32_t capacity = reader.u16() % (MAX_BLOCK + 1);
    if (capacity == 0) capacity = 64;

    // --- Creation and attachment ---
    // The raw host is a table of function pointers laid out as the contract says, so the
    // library's C++ view of IMpUnknown reaches it.
    auto* hostUnknown = static_cast<IMpUnknown*>(host.unknown());
    const uint8_t attachChoice = reader.byte() % 3;
    void* created = nullptr;
    int32_t result;
    if (attachChoice == 0)
        result = library.factory()->createInstanceWithHost(adsr::MODULE_ID, adsr::MODULE_SUBTYPE, hostUnknown,
                                                           &created);
    else
        result = library.factory2()->createInstance(adsr::MODULE_ID, adsr::MODULE_SUBTYPE, &created);
    FUZZ_CHECK(result == RESULT_OK && created != nullptr, "creation returned %d", result);
    auto* unknown = static_cast<IMpUnknown*>(created);
    void* view = nullptr;
    FUZZ_CHECK(unknown->queryInterface(&IID_MP_PLUGIN2, &view) == RESULT_OK && view != nullptr,
               "no IMpPlugin2");
    auto* plugin = static_cast<IMpPlugin2*>(view);
    void* firstView = nullptr;
    FUZZ_CHECK(unknown->queryInterface(&IID_MP_PLUGIN, &firstView) == RESULT_OK, "no IMpPlugin");
    auto* plugin1 = static_cast<IMpPlugin*>(firstView);
    unknown->release();
    if (attachChoice == 1) {
        const int32_t attached = plugin->attachHost(hostUnknown);
        FUZZ_CHECK(attached == (host.refuseServices ? RESULT_UNSUPPORTED : RESULT_OK), "attachHost gave %d",
                   attached);
    } else if (attachChoice == 2) {
        void* legacy = nullptr;
        FUZZ_CHECK(plugin->queryInterface(&IID_MP_LEGACY_INITIALIZATION, &legacy) == RESULT_OK,
                   "no legacy view");
        static_cast<IMpLegacyInitialization*>(legacy)->attachHost(hostUnknown);
        static_cast<IMpLegacyInitialization*>(legacy)->release();
    }

    const std::vector<int32_t> inputs = inputPins();
    BlockLoop loop({adsr::PIN_OUTPUT}, inputs, inputs, capacity);
    loop.honourSleep = honourSleep;
    FUZZ_CHECK(plugin->bindPinBuffer(adsr::PIN_OUTPUT, loop.buffer(adsr::PIN_OUTPUT).data()) == RESULT_OK,
               "output not bound");
    for (int32_t pin : inputs) {
        // Start from usable settings: a short envelope.
        std::fill_n(loop.buffer(pin).data(), capacity, 0.25f);
        FUZZ_CHECK(plugin->bindPinBuffer(pin, loop.buffer(pin).data()) == RESULT_OK, "input %d not bound",
                   pin);
    }
    plugin->openModule();

    // --- Blocks ---
    EventList events;
    std::vector<std::unique_ptr<unsigned char[]>> heap;
    // Calls the module through the chosen view and tells what the host heard. Without host
    // services the module reports nothing, and a host that dropped calls cannot tell what was
    // declared: the samples owed are not judged then.
    const BlockLoop::Process process = [&](const Block&, int32_t sampleCount, const void* head) {
        host.beginBlock();
        if (throughFirstView)
            plugin1->processV1(sampleCount, static_cast<const HostEvent*>(head));
        else
            plugin->process(sampleCount, static_cast<const HostEvent*>(head));
        return HeardCalls{host.calls.data(), host.callCount, !host.refuseServices && host.callsDropped == 0,
                          host.sleepRequestsThisBlock};
    };
    const LoopEvidence& evidence = loop.evidence();
    for (int32_t block = 0; block < MAX_BLOCKS && !reader.empty() && loop.position() < MAX_SESSION_SAMPLES;
         ++block) {
        static const int32_t blockSizes[] = {64,  64,  1,   2,   3,   7,    16,   31, 32,
                                             100, 127, 128, 256, 512, 1000, 4096, 0};
        const uint8_t sizeChoice = reader.byte();
        int32_t blockSize;
        if (sizeChoice < 200)
            blockSize = blockSizes[sizeChoice % (sizeof blockSizes / sizeof blockSizes[0])];
        else if (sizeChoice < 250)
            blockSize = static_cast<int32_t>(reader.u16() % static_cast<uint32_t>(capacity + 1));
        else
            blockSize = sizeChoice < 253 ? -1 : INT_MIN;  // negative counts process nothing
        blockSize = std::min(blockSize, capacity);
        const int32_t count = std::max(blockSize, 0);

        for (int32_t pin : inputs) fillInput(reader, loop.buffer(pin).data(), count);

        events.clear();
        heap.clear();
        const uint8_t eventChoice = reader.byte();
        const int32_t eventCount = eventChoice < 200 ? eventChoice % 6 : (eventChoice - 200) * 4;
        if (block == 0 && (flags & 0x03) != 0) events.add(0, EV_GRAPH_BEGIN);
        for (int32_t i = 0; i < eventCount; ++i) addEvent(reader, events, heap, count);
        if (!keepFuzzOrder) events.sortByTime();

        if (countdownPerBlock) countdown = countdowns[reader.byte() % 8];
        host.countdown = countdownFollowsBlock ? std::max(count, 1) : countdown;

        const HostEvent* head = events.empty() && (eventChoice & 1) ? nullptr : events.head();
        if (!loop.runBlock(blockSize, host.countdown, head, process)) continue;  // asleep: not called

        // Nothing outside the block, nothing in the inputs; the output as a strict host hears it.
        FUZZ_CHECK(evidence.outsideWrite.empty(), "%s", evidence.outsideWrite.c_str());
        FUZZ_CHECK(evidence.inputWritten.empty(), "%s", evidence.inputWritten.c_str());
        FUZZ_CHECK(evidence.nonFinite.empty(), "%s", evidence.nonFinite.c_str());
        if (!host.refuseServices && host.callsDropped == 0) {
            FUZZ_CHECK(evidence.sleptWhileStreaming.empty(), "%s", evidence.sleptWhileStreaming.c_str());
            FUZZ_CHECK(evidence.notConstant.empty(), "%s", evidence.notConstant.c_str());
            FUZZ_CHECK(evidence.unwrittenOwed.empty(), "%s", evidence.unwrittenOwed.c_str());
        }
    }

    // --- Release: every reference accounted for, the services released exactly once ---
    FUZZ_CHECK(plugin1->release() == 1, "views share one count");
    FUZZ_CHECK(plugin->release() == 0, "the instance outlived its last reference");
    FUZZ_CHECK(host.services.releases == host.services.handedOut, "services handed out %d, released %d",
               host.services.handedOut, host.services.releases);
}

}  // namespace
}  // namespace kvx::fuzz

// Loads the library before the first input, so that the fuzzer counts its coverage from the start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvx::fuzz::adsrLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx::fuzz::runSession(data, size);
    return 0;
}
