// SPDX-License-Identifier: MIT
// Helpers shared by the check groups.
#include "validate/checks/support.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>

namespace kvx::validate {

const std::vector<float>& sweptSampleRates() {
    static const std::vector<float> rates{8000.0f,  11025.0f,  22050.0f,  44100.0f,  48000.0f,  88200.0f,
                                          96000.0f, 176400.0f, 192000.0f, 384000.0f, 768000.0f, 1234.5678f};
    return rates;
}

std::string firstViolation(const Rendering& r) {
    for (const std::string* evidence :
         {&r.guardHit, &r.inputWritten, &r.nonFinite, &r.sleptWhileStreaming, &r.notConstant})
        if (!evidence->empty()) return *evidence;
    return "";
}

Outcome overSessions(const Context& context,
                     const std::function<std::string(uint64_t, std::mt19937_64&)>& property,
                     const std::string& unit) {
    for (int32_t k = 0; k < context.seeds; ++k) {
        const uint64_t seed = context.seed + static_cast<uint64_t>(k);
        std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + 17);
        const std::string evidence = property(seed, random);
        if (!evidence.empty())
            return fail("seed " + std::to_string(seed) + ": " + evidence + reproduce(seed));
    }
    return pass(std::to_string(context.seeds) + " " + unit);
}

int32_t randomCountdown(std::mt19937_64& random) {
    static constexpr int32_t policies[] = {-1, 1, 2, 17, 1000};
    return policies[std::uniform_int_distribution<size_t>(0, std::size(policies) - 1)(random)];
}

Session randomSessionFor(const ModuleShape& shape, uint64_t seed, std::mt19937_64& random, bool wild) {
    const auto& rates = sweptSampleRates();
    const float rate = rates[std::uniform_int_distribution<size_t>(0, rates.size() - 1)(random)];
    const int64_t length = std::uniform_int_distribution<int64_t>(4000, 40000)(random);
    return randomSession(shape, seed, rate, length, wild);
}

std::vector<int32_t> eventEdgePartition(const Session& session) {
    std::set<int64_t> cuts{0, session.length};
    for (const SessionEvent& e : session.events) {
        if (e.time > 0 && e.time < session.length) cuts.insert(e.time);
        if (e.time + 1 < session.length) cuts.insert(e.time + 1);
    }
    std::vector<int32_t> partition;
    for (auto it = cuts.begin(); std::next(it) != cuts.end(); ++it) {
        int64_t size = *std::next(it) - *it;
        while (size > 0) {
            partition.push_back(static_cast<int32_t>(std::min<int64_t>(size, 4096)));
            size -= partition.back();
        }
    }
    return partition;
}

std::string reproduce(uint64_t seed) {
    return "; reproduce with --seed " + std::to_string(seed) + " --seeds 1";
}

Session sessionWithValues(const ModuleShape& shape, uint64_t seed, std::mt19937_64& random,
                          const std::vector<float>& values) {
    Session session = randomSessionFor(shape, seed, random);
    auto pick = [&] { return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(random)]; };
    for (SessionEvent& e : session.events)
        if (e.type == event::PIN_VALUE && std::uniform_int_distribution<int>(0, 2)(random) == 0) {
            const float value = pick();
            std::memcpy(e.inlineValue, &value, 4);
        }
    for (auto& [pin, signal] : session.inputs) {
        const int64_t from = std::uniform_int_distribution<int64_t>(0, session.length - 2)(random);
        const int64_t to = std::min<int64_t>(
            session.length, from + 1 + std::uniform_int_distribution<int64_t>(0, 3000)(random));
        for (int64_t t = from; t < to; ++t) signal[static_cast<size_t>(t)] = pick();
        session.events.push_back(SessionEvent{from, event::STREAM_BEGIN, pin});
        if (to < session.length) session.events.push_back(SessionEvent{to, event::STREAM_END, pin});
    }
    std::stable_sort(session.events.begin(), session.events.end(),
                     [](const SessionEvent& a, const SessionEvent& b) { return a.time < b.time; });
    return session;
}

const std::vector<float>& tinyValues() {
    static const std::vector<float> values{1e-40f, -1e-40f, 1e-36f, -1e-36f, -0.0f};
    return values;
}

std::string describeIds(const std::vector<int32_t>& ids) {
    std::string text;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!text.empty()) text += ",";
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
        text += std::to_string(ids[i]);
        if (j > i) text += "-" + std::to_string(ids[j]);
        i = j;
    }
    return text.empty() ? "none" : text;
}

}  // namespace kvx::validate
