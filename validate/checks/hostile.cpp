// SPDX-License-Identifier: MIT
// Hostile host: events out of order or past the block, unknown event types and pin ids, odd
// value sizes, non-finite and huge values, a host without services, countdowns of 0 or less,
// absurd sample rates, negative block sizes, repeated attachment. The module must not crash,
// hang or write outside its output blocks.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

using Tamper = std::function<void(int64_t, int32_t, std::vector<RawEvent>&)>;

std::string strayWrites(const Rendering& r) { return !r.guardHit.empty() ? r.guardHit : r.inputWritten; }

std::string strayOrNonFinite(const Rendering& r) {
    const std::string stray = strayWrites(r);
    return !stray.empty() ? stray : r.nonFinite;
}

// Renders random sessions with the tamper applied to every block and judges each rendering.
Outcome tampered(const Context& context, const Subject& subject,
                 const std::function<Tamper(std::mt19937_64&)>& makeTamper,
                 const std::function<std::string(const Rendering&)>& judge, bool honourSleep = false) {
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        HostPolicy policy;
        policy.honourSleep = honourSleep;
        policy.tamper = makeTamper(random);
        return judge(render(subject.library, context, subject.shape, session,
                            randomPartition(session.length, random, 2048), policy));
    });
}

RawEvent floatValue(int32_t time, int32_t pin, float value) {
    return makeEvent(time, event::PIN_VALUE, pin, 4, &value, 4);
}

int32_t anyInput(const ModuleShape& shape, std::mt19937_64& random) {
    if (shape.inputs.empty()) return 0;
    return shape.inputs[std::uniform_int_distribution<size_t>(0, shape.inputs.size() - 1)(random)];
}

Outcome outOfOrder(const Context& context) {
    Subject subject(context);
    return tampered(
        context, subject,
        [&](std::mt19937_64& random) -> Tamper {
            return [&subject, &random](int64_t, int32_t n, std::vector<RawEvent>& records) {
                records.push_back(floatValue(n - 1, anyInput(subject.shape, random), 1.0f));
                std::reverse(records.begin(), records.end());
            };
        },
        strayOrNonFinite);
}

Outcome pastTheBlock(const Context& context) {
    Subject subject(context);
    return tampered(
        context, subject,
        [&](std::mt19937_64& random) -> Tamper {
            return [&subject, &random](int64_t, int32_t n, std::vector<RawEvent>& records) {
                const int32_t pin = anyInput(subject.shape, random);
                records.insert(records.begin(), floatValue(-1, pin, 1.0f));
                records.insert(records.begin(), floatValue(INT_MIN, pin, 0.0f));
                for (int32_t time : {n, n + 1, n + 1000, INT_MAX})
                    records.push_back(floatValue(time, pin, 1.0f));
                records.push_back(makeEvent(n + 7, event::STREAM_BEGIN, pin));
            };
        },
        strayOrNonFinite);
}

Outcome unknownTypes(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 2048);
        const Rendering plain =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        HostPolicy policy;
        policy.tamper = [&](int64_t, int32_t n, std::vector<RawEvent>& records) {
            for (int32_t type : {0, 99, 105, -1, 1000, INT_MAX, INT_MIN}) {
                const int32_t time = std::uniform_int_distribution<int32_t>(0, n - 1)(random);
                const float one = 1.0f;
                RawEvent odd = makeEvent(time, type, anyInput(subject.shape, random), 4, &one, 4);
                auto place = std::upper_bound(
                    records.begin(), records.end(), time,
                    [](int32_t t, const RawEvent& e) { return t < e.get32(event::TIMESTAMP); });
                records.insert(place, odd);
            }
        };
        const Rendering odd = render(subject.library, context, subject.shape, session, partition, policy);
        const std::string stray = strayWrites(odd);
        if (!stray.empty()) return stray;
        const std::string difference = firstDifference(plain, odd);
        return difference.empty() ? "" : "events of unknown types changed the output: " + difference;
    });
}

Outcome unknownPins(const Context& context) {
    Subject subject(context);
    const int32_t beyond = subject.shape.pins.empty() ? 0 : subject.shape.pins.back() + 1;
    return tampered(
        context, subject,
        [&](std::mt19937_64& random) -> Tamper {
            return [&random, beyond](int64_t, int32_t n, std::vector<RawEvent>& records) {
                const int32_t time = std::uniform_int_distribution<int32_t>(0, n - 1)(random);
                auto place = std::upper_bound(
                    records.begin(), records.end(), time,
                    [](int32_t t, const RawEvent& e) { return t < e.get32(event::TIMESTAMP); });
                std::vector<RawEvent> odd;
                for (int32_t pin : {-1, beyond, beyond + 1000, 1 << 20, INT_MIN, INT_MAX})
                    for (int32_t type :
                         {event::PIN_VALUE, event::STREAM_BEGIN, event::STREAM_END, event::PIN_OTHER}) {
                        const float one = 1.0f;
                        odd.push_back(makeEvent(time, type, pin, 4, &one, 4));
                    }
                records.insert(place, odd.begin(), odd.end());
            };
        },
        strayOrNonFinite);
}

Outcome valueSizes(const Context& context) {
    Subject subject(context);
    // A large payload of 1.0f words behind guard bytes; the module may read but not write it.
    constexpr size_t PAYLOAD = 65536;
    std::vector<float> payload(PAYLOAD / 4 + 64, 1.0f);
    const std::vector<float> original = payload;
    const int32_t sizes[] = {0, 1, 2, 3, 5, 8, 4096, static_cast<int32_t>(PAYLOAD), -1, -4096, INT_MIN};
    Outcome outcome = tampered(
        context, subject,
        [&](std::mt19937_64& random) -> Tamper {
            return [&](int64_t, int32_t, std::vector<RawEvent>& records) {
                for (RawEvent& record : records) {
                    if (record.get32(event::TYPE) != event::PIN_VALUE) continue;
                    const int32_t size =
                        sizes[std::uniform_int_distribution<size_t>(0, std::size(sizes) - 1)(random)];
                    record.set32(event::SIZE, size);
                    if (size > 8) record.setPointer(event::DATA, payload.data());
                }
            };
        },
        strayOrNonFinite);
    if (outcome.status == Status::Pass &&
        std::memcmp(payload.data(), original.data(), payload.size() * 4) != 0)
        return fail("the module wrote into an event's value bytes");
    return outcome;
}

// Random sessions whose value events and input signals carry the given values.
Outcome withValues(const Context& context, const std::vector<float>& values, bool requireFinite) {
    Subject subject(context);
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = sessionWithValues(subject.shape, seed, random, values);
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(session.length, random, 2048), HostPolicy{});
        return requireFinite ? strayOrNonFinite(r) : strayWrites(r);
    });
}

Outcome nonFiniteValues(const Context& context) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    return withValues(context, {nan, -nan, inf, -inf, std::numeric_limits<float>::signaling_NaN()}, false);
}

Outcome hugeValues(const Context& context) {
    const float max = std::numeric_limits<float>::max();
    std::vector<float> values{max, -max, 1e30f, -1e30f, 1e10f, -1e10f};
    values.insert(values.end(), tinyValues().begin(), tinyValues().end());
    return withValues(context, values, true);
}

Outcome refusedServices(const Context& context) {
    RawLibrary library(context.path);
    if (!library.hasFactory2()) return skip("no IMpFactory2: the factory attaches the host itself");
    RawHost host;
    host.refuseServices = true;
    void* factory = library.factory();
    void* created = nullptr;
    slot<CreateFn>(factory, slots::FACTORY_CREATE)(factory, context.id.c_str(), context.subtype, &created);
    if (created == nullptr) return fail("creation failed");
    void* second = nullptr;
    rawQuery(created, iid::PLUGIN2, &second);
    rawRelease(created);
    if (second == nullptr) return fail("no IMpPlugin2 view");
    const int32_t attached = slot<AttachFn>(second, slots::PLUGIN2_ATTACH)(second, host.unknown());
    // A host told of the failure must not process; a hostile one does anyway, once.
    static float buffers[32][256];
    for (int32_t pin = 0; pin < 32; ++pin)
        slot<BindFn>(second, slots::PLUGIN2_BIND)(second, pin, buffers[pin]);
    RawEvent graph = makeEvent(0, event::GRAPH_BEGIN, -1);
    const float one = 1.0f;
    RawEvent value = makeEvent(3, event::PIN_VALUE, 0, 4, &one, 4);
    graph.setPointer(event::NEXT, value.bytes);
    slot<ProcessFn>(second, slots::PLUGIN2_PROCESS)(second, 256, graph.bytes);
    rawRelease(second);
    if (attached == 0) return fail("attachHost returned 0 although the host refused IMpHostServices");
    if (host.services.releases != 0) return fail("released host services it never obtained");
    return pass("attachHost returned " + std::to_string(attached));
}

Outcome refusedAux(const Context& context) {
    Subject subject(context);
    RawHost host;
    host.refuseAux = true;
    void* factory = subject.library.factory();
    void* created = nullptr;
    const int32_t result = slot<CreateWithHostFn>(factory, slots::FACTORY_CREATE_WITH_HOST)(
        factory, context.id.c_str(), context.subtype, host.unknown(), &created);
    if (result != 0 || created == nullptr)
        return fail("creation with a host lacking IMpHostAux returned " + std::to_string(result));
    if (host.services.handedOut == 0) {
        rawRelease(created);
        return fail("did not obtain IMpHostServices from a host lacking only IMpHostAux");
    }
    rawRelease(created);
    if (host.services.releases != host.services.handedOut)
        return fail("host services not released exactly once");
    return pass();
}

Outcome hostileCountdowns(const Context& context) {
    Subject subject(context);
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 2048);
        for (int32_t countdown : {0, -1, INT_MIN}) {
            for (bool honour : {false, true}) {
                HostPolicy policy;
                policy.countdown = countdown;
                policy.honourSleep = honour;
                const Rendering r =
                    render(subject.library, context, subject.shape, session, partition, policy);
                std::string problem = strayOrNonFinite(r);
                if (problem.empty()) problem = r.sleptWhileStreaming;
                if (!problem.empty()) return "countdown " + std::to_string(countdown) + ": " + problem;
            }
        }
        return "";
    });
}

Outcome hostileSampleRates(const Context& context) {
    Subject subject(context);
    const float rates[] = {0.0f,
                           1e-3f,
                           1.0f,
                           1e9f,
                           -48000.0f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
    for (float rate : rates) {
        std::mt19937_64 random(context.seed);
        const Session session = randomSession(subject.shape, context.seed, 48000.0f, 12000);
        HostPolicy policy;
        policy.useOverride = true;
        policy.sampleRateOverride = rate;
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(12000, random, 2048), policy);
        const bool sane = std::isfinite(rate) && rate >= 0.0f;
        const std::string problem = sane ? strayOrNonFinite(r) : strayWrites(r);
        if (!problem.empty()) return fail("sample rate " + std::to_string(rate) + ": " + problem);
    }
    return pass("0, 0.001, 1, 1e9, -48000, NaN, inf");
}

Outcome negativeBlocks(const Context& context) {
    Subject subject(context);
    RawHost host;
    RawInstance instance(subject.library, context, host);
    std::vector<GuardedBuffer> buffers = bindUnwrittenBuffers(instance, subject.shape.pins, 256);
    const float one = 1.0f;
    RawEvent graph = makeEvent(0, event::GRAPH_BEGIN, -1);
    RawEvent value = makeEvent(0, event::PIN_VALUE,
                               subject.shape.inputs.empty() ? 0 : subject.shape.inputs.front(), 4, &one, 4);
    graph.setPointer(event::NEXT, value.bytes);
    for (int32_t count : {-1, -256, INT_MIN}) {
        instance.process(count, nullptr);
        instance.process(count, graph.bytes);
        instance.process(count, nullptr, true);
    }
    for (size_t k = 0; k < buffers.size(); ++k) {
        if (buffers[k].firstGuardHit())
            return fail("pin " + std::to_string(subject.shape.pins[k]) + ": guard zone written");
        if (const auto written = buffers[k].firstWrittenFrom(0))
            return fail("a negative sample count wrote sample " + std::to_string(*written) + " of pin " +
                        std::to_string(subject.shape.pins[k]));
    }
    return pass("-1, -256, INT_MIN");
}

Outcome repeatedAttach(const Context& context) {
    RawLibrary library(context.path);
    RawHost first;
    RawHost second;
    {
        RawInstance instance(library, context, first);
        const int32_t again =
            slot<AttachFn>(instance.plugin2(), slots::PLUGIN2_ATTACH)(instance.plugin2(), second.unknown());
        if (again != 0) return fail("a second attachHost returned " + std::to_string(again));
    }
    for (RawHost* host : {&first, &second})
        if (host->services.releases > host->services.handedOut || host->aux.releases > host->aux.handedOut)
            return fail(std::string(host == &first ? "first" : "second") +
                        " host: released more references than it handed out");
    if (second.services.releases != second.services.handedOut)
        return fail("the host attached last was not released at destruction");
    return pass();
}

}  // namespace

Group hostileChecks() {
    return {"hostile",
            {{"out_of_order", "events in decreasing time order", outOfOrder},
             {"past_the_block", "event times past the block, INT_MAX, negative", pastTheBlock},
             {"unknown_types", "unknown event types split nothing audible and reach nothing", unknownTypes},
             {"unknown_pins", "events for pin ids the module does not have", unknownPins},
             {"value_sizes", "value sizes 0, odd, 8, 64 KiB, negative; value bytes left intact", valueSizes},
             {"non_finite_values", "NaN and infinite values and input samples", nonFiniteValues},
             {"huge_values", "huge and tiny finite values keep the output finite", hugeValues},
             {"refused_services", "a host refusing IMpHostServices: attachHost reports it", refusedServices},
             {"refused_aux", "a host without IMpHostAux still serves the module", refusedAux},
             {"countdowns", "countdowns of 0, -1 and INT_MIN", hostileCountdowns},
             {"sample_rates", "sample rates 0, 1e-3, 1, 1e9, negative, NaN, inf", hostileSampleRates},
             {"negative_blocks", "negative sample counts write nothing", negativeBlocks},
             {"repeated_attach", "attachHost twice: no reference released twice, the last host released",
              repeatedAttach}}};
}

}  // namespace kvx::validate
