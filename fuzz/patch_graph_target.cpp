// SPDX-License-Identifier: MIT
// The patch graph fuzz target: turns its input bytes into a patch of envelopes and VCAs (any
// graph: connections forward in a random order, delayed ones anywhere, a module feeding itself,
// and now and then a connection that makes the patch one to refuse), values of every kind, notes,
// resets, level changes, inputs the caller streams, and a block schedule. A refused patch must
// be refused with a HostError; one that runs must give the same bits at one sample a block, at
// the schedule from the bytes, and with every module called every block. The modules are the
// build's ADSR.kvx and VCA.kvx (KVX_ADSR_PATH, KVX_VCA_PATH override them).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "fuzz/byte_reader.h"
#include "fuzz/invariant_check.h"
#include "host/host_error.h"
#include "host/patch.h"
#include "modules/adsr/adsr_pins.h"

namespace kvx::fuzz {
namespace {

using host::EventRank;
using host::PatchPinKind;

constexpr int32_t MAX_BLOCK = 512;
constexpr int32_t MAX_MODULES = 6;
constexpr int64_t MAX_LENGTH = 3000;
constexpr int32_t VCA_OUTPUT = 3;

const float VALUES[] = {0.0f,
                        0.05f,
                        0.1f,
                        0.3f,
                        0.5f,
                        1.0f,
                        2.0f,
                        -0.5f,
                        -1.0f,
                        1e-30f,
                        100.0f,
                        -60.0f,
                        12.0f,
                        std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::denorm_min()};

std::string libraryPath(const char* variable, const char* built) {
    const char* path = std::getenv(variable);
    return path != nullptr ? path : built;
}

float value(ByteReader& reader) {
    const uint8_t choice = reader.byte();
    return choice < 240 ? VALUES[choice % std::size(VALUES)] : reader.rawFloat();
}

host::PatchModule envelope(ByteReader& reader, const std::string& name) {
    host::PatchModule m{name, libraryPath("KVX_ADSR_PATH", KVX_ADSR_DEFAULT_PATH), adsr::MODULE_ID, 0, {}};
    m.pins = {{adsr::PIN_TRIGGER, PatchPinKind::BoolIn, 0.0f}, {adsr::PIN_GATE, PatchPinKind::BoolIn, 0.0f}};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        m.pins.push_back({pin, PatchPinKind::AudioIn, value(reader)});
    m.pins.push_back({adsr::PIN_OUTPUT, PatchPinKind::AudioOut, 0.0f});
    m.pins.push_back({adsr::PIN_RESET, PatchPinKind::FloatIn, 0.0f});
    return m;
}

host::PatchModule vca(ByteReader& reader, const std::string& name) {
    return host::PatchModule{name,
                             libraryPath("KVX_VCA_PATH", KVX_VCA_DEFAULT_PATH),
                             u"KV VCA",
                             0,
                             {{0, PatchPinKind::AudioIn, value(reader)},
                              {1, PatchPinKind::AudioIn, value(reader)},
                              {2, PatchPinKind::FloatIn, value(reader)},
                              {VCA_OUTPUT, PatchPinKind::AudioOut, 0.0f}}};
}

int32_t outputPin(const host::PatchModule& m) {
    return m.id == adsr::MODULE_ID ? adsr::PIN_OUTPUT : VCA_OUTPUT;
}

// An input the caller drives: its samples for the whole session, changing only inside the spans
// it is declared streaming in (a caller that lies about streaming gets what it asked for).
struct Driven {
    int32_t module;
    int32_t pin;
    std::vector<float> samples;
};

struct Timed {
    int64_t sample;
    host::PatchEvent event;
};

struct Session {
    host::PatchGraph graph;
    std::vector<Driven> driven;
    std::vector<Timed> events;
    std::vector<int32_t> sizes;
    int64_t length = 0;
};

Session readSession(ByteReader& reader) {
    Session s;
    s.graph.source = "fuzz";
    s.length = 1 + reader.u16() % MAX_LENGTH;
    const int32_t count = 1 + reader.byte() % MAX_MODULES;
    for (int32_t m = 0; m < count; ++m) {
        const std::string name = "m" + std::to_string(m);
        s.graph.modules.push_back(reader.byte() % 2 == 0 ? envelope(reader, name) : vca(reader, name));
    }
    std::vector<int32_t> rank(static_cast<size_t>(count));
    std::iota(rank.begin(), rank.end(), 0);
    for (int32_t i = count - 1; i > 0; --i)
        std::swap(rank[static_cast<size_t>(i)], rank[reader.byte() % (i + 1)]);
    for (int32_t m = 0; m < count; ++m) {
        const host::PatchModule& module = s.graph.modules[static_cast<size_t>(m)];
        for (const host::PatchPin& pin : module.pins) {
            if (pin.kind != PatchPinKind::AudioIn) continue;
            const int32_t from = reader.byte() % count;
            const host::PatchModule& source = s.graph.modules[static_cast<size_t>(from)];
            switch (reader.byte() % 5) {
                case 1:
                case 2:
                    if (rank[static_cast<size_t>(from)] < rank[static_cast<size_t>(m)])
                        s.graph.connections.push_back({from, outputPin(source), m, pin.id, false});
                    break;
                case 3:
                    s.graph.connections.push_back({from, outputPin(source), m, pin.id, true});
                    break;
                case 4: {
                    Driven driven{m, pin.id, {}};
                    std::vector<int64_t> toggles;
                    for (int32_t t = reader.byte() % 6; t > 0; --t)
                        toggles.push_back(reader.u16() % s.length);
                    std::sort(toggles.begin(), toggles.end());
                    float now = pin.initial;
                    bool streaming = false;
                    size_t next = 0;
                    for (int64_t k = 0; k < s.length; ++k) {
                        for (; next < toggles.size() && toggles[next] == k; ++next) {
                            streaming = !streaming;
                            s.events.push_back({k,
                                                {m, 0, streaming ? EV_STREAM_BEGIN : EV_STREAM_END, pin.id,
                                                 0.0f, EventRank::Stream}});
                        }
                        if (streaming) now = std::sin(0.01f * static_cast<float>(k)) * pin.initial;
                        driven.samples.push_back(now);
                    }
                    s.driven.push_back(std::move(driven));
                    break;
                }
                default:
                    break;
            }
        }
        s.graph.outputs.push_back({"out" + std::to_string(m), m, outputPin(module)});
    }
    // Now and then a connection anywhere: a loop without a delay, an input fed twice, a pin of no
    // module, to be refused.
    if (reader.byte() % 8 == 7) {
        const int32_t from = reader.byte() % (count + 1);
        const int32_t fromPin = reader.byte() % 4 != 0 && from < count
                                    ? outputPin(s.graph.modules[static_cast<size_t>(from)])
                                    : reader.byte() % 12;
        const int32_t to = reader.byte() % (count + 1);
        int32_t toPin = reader.byte() % 12;
        if (to < count && toPin < 10)  // mostly an audio input
            toPin = s.graph.modules[static_cast<size_t>(to)].id == adsr::MODULE_ID
                        ? adsr::PIN_ATTACK_TIME + toPin % 7
                        : toPin % 2;
        s.graph.connections.push_back({from, fromPin, to, toPin, reader.byte() % 2 == 0});
    }

    for (int32_t n = reader.byte() % 48; n > 0; --n) {
        const int32_t m = reader.byte() % count;
        const int64_t at = reader.u16() % s.length;
        const bool isEnvelope = s.graph.modules[static_cast<size_t>(m)].id == adsr::MODULE_ID;
        switch (reader.byte() % 5) {
            case 0:
                s.events.push_back({at, {m, 0, EV_PIN_VALUE, adsr::PIN_TRIGGER, 1.0f, EventRank::Note}});
                s.events.push_back({at, {m, 0, EV_PIN_VALUE, adsr::PIN_GATE, 1.0f, EventRank::Note}});
                break;
            case 1:
                s.events.push_back({at, {m, 0, EV_PIN_VALUE, adsr::PIN_GATE, 0.0f, EventRank::Note}});
                break;
            case 2:
                s.events.push_back({at,
                                    {m, 0, EV_PIN_VALUE, isEnvelope ? adsr::PIN_RESET : 2, value(reader),
                                     isEnvelope ? EventRank::Reset : EventRank::Change}});
                break;
            case 3:  // a pin or type nobody answers
                s.events.push_back({at,
                                    {m, 0, reader.byte() % 2 == 0 ? EV_PIN_OTHER : 105,
                                     reader.byte() % 16 - 2, value(reader), EventRank::Change}});
                break;
            default:
                break;
        }
    }
    std::stable_sort(s.events.begin(), s.events.end(), [](const Timed& a, const Timed& b) {
        return host::deliveredBefore(a.sample, a.event.rank, b.sample, b.event.rank);
    });
    for (int64_t done = 0; done < s.length;) {
        const uint8_t choice = reader.byte();
        int32_t n = choice < 200 ? 1 + choice % 64 : 1 + reader.u16() % MAX_BLOCK;
        n = static_cast<int32_t>(std::min<int64_t>(n, s.length - done));
        s.sizes.push_back(n);
        done += n;
    }
    return s;
}

// Every module's output over the session.
std::vector<std::vector<float>> run(const Session& s, const std::vector<int32_t>& sizes, bool honourSleep) {
    host::Patch patch(s.graph, 48000.0f, MAX_BLOCK);
    patch.honourSleep = honourSleep;
    std::vector<std::vector<float>> outputs(s.graph.outputs.size());
    std::vector<host::PatchEvent> events;
    size_t next = 0;
    int64_t position = 0;
    for (int32_t n : sizes) {
        events.clear();
        for (; next < s.events.size() && s.events[next].sample < position + n; ++next) {
            host::PatchEvent event = s.events[next].event;
            event.timestamp = static_cast<int32_t>(s.events[next].sample - position);
            events.push_back(event);
        }
        for (const Driven& driven : s.driven)
            if (float* input =
                    patch.input(driven.module, driven.pin))  // not when a connection feeds it after all
                std::copy_n(driven.samples.begin() + position, n, input);
        patch.runBlock(n, events);
        for (size_t o = 0; o < outputs.size(); ++o)
            outputs[o].insert(outputs[o].end(), patch.output(o), patch.output(o) + n);
        position += n;
    }
    return outputs;
}

bool sameBits(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b) {
    for (size_t o = 0; o < a.size(); ++o)
        if (std::memcmp(a[o].data(), b[o].data(), a[o].size() * sizeof(float)) != 0) return false;
    return true;
}

}  // namespace
}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kvx::fuzz;
    ByteReader reader(data, size);
    const Session session = readSession(reader);
    try {
        kvx::host::Patch(session.graph, 48000.0f, MAX_BLOCK);
    } catch (const kvx::host::HostError& error) {
        if (std::getenv("KVX_FUZZ_VERBOSE")) std::fprintf(stderr, "refused: %s\n", error.what());
        return 0;  // a patch refused with its reason
    }
    if (std::getenv("KVX_FUZZ_VERBOSE") != nullptr) {
        size_t delayed = 0;
        for (const kvx::host::PatchConnection& c : session.graph.connections)
            delayed += c.oneSampleDelay ? 1 : 0;
        std::fprintf(stderr, "runs: %zu modules, %zu connections (%zu delayed), %zu events, %zu blocks\n",
                     session.graph.modules.size(), session.graph.connections.size(), delayed,
                     session.events.size(), session.sizes.size());
    }
    const std::vector<int32_t> ones(static_cast<size_t>(session.length), 1);
    const auto reference = run(session, ones, true);
    FUZZ_CHECK(sameBits(run(session, session.sizes, true), reference), "%zu blocks", session.sizes.size());
    FUZZ_CHECK(sameBits(run(session, session.sizes, false), reference), "every module called every block");
    return 0;
}
