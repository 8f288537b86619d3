// SPDX-License-Identifier: MIT
// Sample accuracy and lossless sleep: the output of a session must not depend on how the host
// cuts it into blocks, nor on whether the host skips calls while the module sleeps (holding
// its last value) or calls every block, for any countdown of at least one sample.
#include <algorithm>
#include <cstring>

#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

Outcome blockPartitions(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        Session session = randomSessionFor(subject.shape, seed, random);
        const Rendering whole = render(subject.library, context, subject.shape, session,
                                       fixedPartition(session.length, 4096), HostPolicy{});
        const Rendering cut = render(subject.library, context, subject.shape, session,
                                     randomPartition(session.length, random, 4096), HostPolicy{});
        std::string difference = firstDifference(whole, cut);
        if (!difference.empty()) return "blocks of 4096 vs random blocks: " + difference;
        const int64_t shortLength = std::min<int64_t>(session.length, 5000);
        const Rendering single = render(subject.library, context, subject.shape, session,
                                        fixedPartition(shortLength, 1), HostPolicy{});
        difference = firstDifference(whole, single, shortLength);
        if (!difference.empty()) return "blocks of 4096 vs blocks of 1: " + difference;
        return "";
    });
}

Outcome eventEdges(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const std::vector<int32_t> partition = eventEdgePartition(session);
        const Rendering whole = render(subject.library, context, subject.shape, session,
                                       fixedPartition(session.length, 4096), HostPolicy{});
        const Rendering edged =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        return firstDifference(whole, edged);
    });
}

Outcome losslessSleep(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    int64_t skipped = 0;
    Outcome outcome = overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 1024);
        const Rendering everyBlock =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        HostPolicy sleeping;
        sleeping.honourSleep = true;
        const Rendering skipping =
            render(subject.library, context, subject.shape, session, partition, sleeping);
        skipped += skipping.blocksSkipped;
        const std::string difference = firstDifference(everyBlock, skipping);
        return difference.empty() ? "" : "calling every block vs skipping while asleep: " + difference;
    });
    if (outcome.status == Status::Pass)
        outcome.detail += ", " + std::to_string(skipped) + " blocks slept through";
    return outcome;
}

Outcome countdowns(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 1024);
        const Rendering reference =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        for (int32_t countdown : {1, 2, 17, 1000, 1 << 20}) {
            for (bool honour : {false, true}) {
                HostPolicy policy;
                policy.countdown = countdown;
                policy.honourSleep = honour;
                const std::string difference = firstDifference(
                    reference, render(subject.library, context, subject.shape, session, partition, policy));
                if (!difference.empty())
                    return "countdown " + std::to_string(countdown) +
                           (honour ? ", skipping while asleep" : ", every block") + ": " + difference;
            }
        }
        return "";
    });
}

Outcome causality(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty() || subject.shape.inputs.empty())
        return skip("needs an input and an audio output pin");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        Session extra;
        extra.seed = seed;
        const int64_t at = std::uniform_int_distribution<int64_t>(1, session.length - 1)(random);
        const int32_t pin =
            subject.shape
                .inputs[std::uniform_int_distribution<size_t>(0, subject.shape.inputs.size() - 1)(random)];
        SessionEvent added{at, event::PIN_VALUE, pin};
        added.size = 4;
        const float one = 1.0f;
        std::memcpy(added.inlineValue, &one, 4);
        extra.sampleRate = session.sampleRate;
        extra.length = session.length;
        extra.events = session.events;
        extra.inputs = session.inputs;
        auto place = std::upper_bound(extra.events.begin(), extra.events.end(), at,
                                      [](int64_t time, const SessionEvent& e) { return time < e.time; });
        extra.events.insert(place, added);
        const auto partition = randomPartition(session.length, random, 4096);
        const Rendering without =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        const Rendering with =
            render(subject.library, context, subject.shape, extra, partition, HostPolicy{});
        const std::string difference = firstDifference(without, with, at);
        return difference.empty() ? ""
                                  : "an event at sample " + std::to_string(at) + " for pin " +
                                        std::to_string(pin) + " changed earlier output: " + difference;
    });
}

}  // namespace

Group accuracyChecks() {
    return {
        "accuracy",
        {{"block_partitions", "blocks of 4096, random sizes and single samples: bit-identical output",
          blockPartitions},
         {"event_edges", "events on the first and last sample of blocks: bit-identical output", eventEdges},
         {"causality", "an added event changes nothing before its sample", causality},
         {"lossless_sleep", "skipping calls while asleep = calling every block, bit for bit", losslessSleep},
         {"countdowns", "countdowns 1, 2, 17, 1000, 2^20, asleep or not: bit-identical output", countdowns}}};
}

}  // namespace kvx::validate
