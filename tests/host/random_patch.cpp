// SPDX-License-Identifier: MIT
// The random patch generator.
#include "tests/host/random_patch.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "modules/adsr/adsr_pins.h"

namespace kvx::test {

namespace {

template <typename T, size_t N>
T pick(const std::function<uint32_t(uint32_t)>& choose, const T (&table)[N]) {
    return table[choose(static_cast<uint32_t>(N))];
}

}  // namespace

RandomPatch randomPatch(const std::function<uint32_t(uint32_t)>& choose) {
    RandomPatch patch;
    host::PatchGraph& graph = patch.graph;
    graph.source = "random";
    const uint32_t count = 2 + choose(5);
    const float times[] = {0.0f, 0.05f, 0.1f, 0.2f, 0.3f};
    const float levels[] = {0.0f, 0.3f, 0.5f, 1.0f};
    const float curves[] = {-1.0f, -0.2f, 0.0f, 0.5f, 1.0f};
    const float signals[] = {0.0f, 0.25f, 1.0f, -0.5f, 2.0f};
    for (uint32_t m = 0; m < count; ++m) {
        const std::string name = "m" + std::to_string(m);
        switch (m == 0 ? 0 : choose(4)) {
            case 0: {
                host::PatchModule env = adsrModule(name, pick(choose, levels));
                for (host::PatchPin& pin : env.pins) {
                    if (pin.id == adsr::PIN_ATTACK_TIME || pin.id == adsr::PIN_DECAY_TIME ||
                        pin.id == adsr::PIN_RELEASE_TIME)
                        pin.initial = pick(choose, times);
                    if (pin.id >= adsr::PIN_ATTACK_CURVE && pin.id <= adsr::PIN_RELEASE_CURVE)
                        pin.initial = pick(choose, curves);
                }
                graph.modules.push_back(env);
                break;
            }
            case 1: {
                const float decibels[] = {-6.0f, 0.0f, 6.0f};
                graph.modules.push_back(vcaModule(name, pick(choose, signals), pick(choose, decibels)));
                graph.modules.back().pins[0].initial = pick(choose, signals);
                break;
            }
            case 2:
                graph.modules.push_back(sumModule(name));
                break;
            default:
                graph.modules.push_back(probeModule(name));
                break;
        }
    }
    // A random run order; undelayed connections only go forward in it.
    std::vector<uint32_t> rank(count);
    std::iota(rank.begin(), rank.end(), 0u);
    for (uint32_t i = count - 1; i > 0; --i) std::swap(rank[i], rank[choose(i + 1)]);
    auto outputPin = [&graph](uint32_t m) {
        for (const host::PatchPin& pin : graph.modules[m].pins)
            if (pin.kind == host::PatchPinKind::AudioOut) return pin.id;
        return -1;
    };
    const int64_t length = 1500 + choose(2000);
    patch.score.length = length;
    for (uint32_t m = 0; m < count; ++m) {
        for (host::PatchPin& pin : graph.modules[m].pins) {
            if (pin.kind != host::PatchPinKind::AudioIn) continue;
            const uint32_t how = choose(4);
            std::vector<uint32_t> earlier;
            for (uint32_t from = 0; from < count; ++from)
                if (rank[from] < rank[m]) earlier.push_back(from);
            if ((how == 1 || how == 2) && !earlier.empty()) {
                const uint32_t from = earlier[choose(static_cast<uint32_t>(earlier.size()))];
                graph.connections.push_back(
                    {static_cast<int32_t>(from), outputPin(from), static_cast<int32_t>(m), pin.id, false});
            } else if (how == 3) {
                const uint32_t from = choose(count);
                graph.connections.push_back(
                    {static_cast<int32_t>(from), outputPin(from), static_cast<int32_t>(m), pin.id, true});
            } else if (choose(3) == 0) {
                const int64_t begin = choose(static_cast<uint32_t>(length));
                patch.score.ramps.push_back(Ramp{static_cast<int32_t>(m), pin.id, begin,
                                                 begin + 1 + choose(800), pick(choose, signals),
                                                 pick(choose, signals)});
            }
        }
        if (graph.modules[m].id == adsr::MODULE_ID)
            for (uint32_t n = choose(4); n > 0; --n) {
                const int64_t on = choose(static_cast<uint32_t>(length));
                patch.score.notes.push_back(
                    Note{static_cast<int32_t>(m), on, on + 1 + choose(static_cast<uint32_t>(length / 2))});
            }
        graph.outputs.push_back({"out" + std::to_string(m), static_cast<int32_t>(m), outputPin(m)});
    }
    return patch;
}

}  // namespace kvx::test
