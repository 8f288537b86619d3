// SPDX-License-Identifier: MIT
// Processing: null event lists, empty blocks, every sample rate and block size, and random
// in-contract sessions checked for stray writes, finite output, sleep only while constant,
// constancy while declared constant, every owed sample written, and determinism.
#include <algorithm>

#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

Outcome nullEvents(const Context& context) {
    Subject subject(context);
    Session session;
    session.length = 4096;
    for (int32_t pin : subject.shape.inputs) session.inputs[pin].assign(4096, 0.25f);
    for (bool first : {false, true}) {
        HostPolicy policy;
        policy.throughFirstView = first;
        const Rendering r =
            render(subject.library, context, subject.shape, session, fixedPartition(4096, 64), policy);
        const std::string violation = firstViolation(r);
        if (!violation.empty())
            return fail(std::string(first ? "IMpPlugin" : "IMpPlugin2") + " process: " + violation);
    }
    return pass();
}

Outcome zeroLength(const Context& context) {
    Subject subject(context);
    RawHost host;
    RawInstance instance(subject.library, context, host);
    std::vector<GuardedBuffer> buffers = bindUnwrittenBuffers(instance, subject.shape.pins, 64);
    std::vector<RawEvent> events;
    events.push_back(makeEvent(0, event::GRAPH_BEGIN, -1));
    const float one = 1.0f;
    for (int32_t pin : subject.shape.inputs)
        events.push_back(makeEvent(0, event::PIN_VALUE, pin, 4, &one, 4));
    for (size_t i = 0; i + 1 < events.size(); ++i) events[i].setPointer(event::NEXT, events[i + 1].bytes);
    instance.process(0, nullptr);
    instance.process(0, nullptr, true);
    instance.process(0, events.front().bytes);
    instance.process(0, nullptr);
    for (size_t k = 0; k < buffers.size(); ++k) {
        if (buffers[k].firstGuardHit())
            return fail("pin " + std::to_string(subject.shape.pins[k]) + ": a guard zone was written");
        if (const auto written = buffers[k].firstWrittenFrom(0))
            return fail("a 0-sample block wrote sample " + std::to_string(*written) + " of pin " +
                        std::to_string(subject.shape.pins[k]));
    }
    return pass();
}

// Graph start alone, at sample 17 of a fresh instance's first block: every output reports its
// streaming state to the host at that sample.
Outcome graphStart(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    RawHost host;
    RawInstance instance(subject.library, context, host);
    const std::vector<GuardedBuffer> buffers = bindUnwrittenBuffers(instance, subject.shape.pins, 64);
    const RawEvent graph = makeEvent(17, event::GRAPH_BEGIN, -1);
    host.beginBlock();
    instance.process(64, graph.bytes);
    for (int32_t pin : subject.shape.outputs) {
        bool reported = false;
        for (size_t c = 0; c < host.callCount; ++c)
            reported |= host.calls[c].kind == ModuleCall::Streaming && host.calls[c].pin == pin &&
                        host.calls[c].timestamp == 17;
        if (!reported)
            return fail("output pin " + std::to_string(pin) + " reported no state at the graph start");
    }
    return pass();
}

Outcome sampleRates(const Context& context) {
    Subject subject(context);
    std::string rates;
    for (float rate : sweptSampleRates()) {
        std::mt19937_64 random(context.seed + static_cast<uint64_t>(rate));
        const Session session = randomSession(subject.shape, context.seed, rate, 12000);
        HostPolicy policy;
        policy.honourSleep = true;
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(12000, random, 2048), policy);
        const std::string violation = firstViolation(r);
        if (!violation.empty())
            return fail("at " + std::to_string(rate) + " Hz: " + violation + reproduce(context.seed));
    }
    return pass(std::to_string(sweptSampleRates().size()) + " rates");
}

Outcome blockSizes(const Context& context) {
    Subject subject(context);
    const int32_t sizes[] = {1, 2, 7, 63, 333, 4096, 0};  // 0: random sizes
    for (int32_t size : sizes) {
        const int64_t length = size == 1 ? 6000 : 24000;
        std::mt19937_64 random(context.seed + static_cast<uint64_t>(size));
        const Session session =
            randomSession(subject.shape, context.seed + static_cast<uint64_t>(size), 48000.0f, length);
        HostPolicy policy;
        policy.honourSleep = true;
        const auto partition =
            size == 0 ? randomPartition(length, random, 4096) : fixedPartition(length, size);
        const Rendering r = render(subject.library, context, subject.shape, session, partition, policy);
        const std::string violation = firstViolation(r);
        if (!violation.empty())
            return fail("block size " + (size == 0 ? std::string("random") : std::to_string(size)) + ": " +
                        violation);
    }
    return pass("1, 2, 7, 63, 333, 4096 and random");
}

// The random session of `seed`, in random blocks with a random sleep countdown.
Rendering renderRandomSession(const Subject& subject, const Context& context, uint64_t seed,
                              std::mt19937_64& random, bool honourSleep) {
    const Session session = randomSessionFor(subject.shape, seed, random);
    HostPolicy policy;
    policy.honourSleep = honourSleep;
    policy.countdown = randomCountdown(random);
    return render(subject.library, context, subject.shape, session,
                  randomPartition(session.length, random, 4096), policy);
}

// One property over random sessions, with the host honouring sleep or not.
Outcome sessionProperty(const Context& context, std::string Rendering::*property, bool needsOutput) {
    Subject subject(context);
    if (needsOutput && subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        return renderRandomSession(subject, context, seed, random, seed % 2 == 0).*property;
    });
}

Outcome guardZones(const Context& context) {
    Subject subject(context);
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Rendering r = renderRandomSession(subject, context, seed, random, seed % 2 == 1);
        return !r.guardHit.empty() ? r.guardHit : r.inputWritten;
    });
}

Outcome finiteOutput(const Context& context) { return sessionProperty(context, &Rendering::nonFinite, true); }
Outcome noSleepWhileStreaming(const Context& context) {
    return sessionProperty(context, &Rendering::sleptWhileStreaming, true);
}
Outcome constantWhileDeclared(const Context& context) {
    return sessionProperty(context, &Rendering::notConstant, true);
}

// Random sessions, plain and wild, under every countdown policy, asleep or called every block.
Outcome owedSamplesWritten(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    Outcome outcome = overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        for (bool wild : {false, true}) {
            const Session session = randomSessionFor(subject.shape, seed, random, wild);
            HostPolicy policy;
            policy.honourSleep = (seed % 2) == (wild ? 1 : 0);
            policy.countdown = randomCountdown(random);
            const Rendering r = render(subject.library, context, subject.shape, session,
                                       randomPartition(session.length, random, 4096), policy);
            if (!r.unwrittenOwed.empty()) return (wild ? "wild session: " : "") + r.unwrittenOwed;
        }
        return "";
    });
    if (outcome.status == Status::Pass)
        outcome.detail += "; audio input pin ids: " + describeIds(subject.shape.audioInputs);
    return outcome;
}

Outcome determinism(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 4096);
        const Rendering a = render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        const Rendering b = render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        return firstDifference(a, b);
    });
}

Outcome viewsAgree(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        const auto partition = randomPartition(session.length, random, 4096);
        const Rendering reference =
            render(subject.library, context, subject.shape, session, partition, HostPolicy{});
        HostPolicy first;
        first.throughFirstView = true;
        std::string difference = firstDifference(
            reference, render(subject.library, context, subject.shape, session, partition, first));
        if (!difference.empty()) return "IMpPlugin process differs from IMpPlugin2 process: " + difference;
        HostPolicy withHost;
        withHost.creation = Creation::WithHost;
        difference = firstDifference(
            reference, render(subject.library, context, subject.shape, session, partition, withHost));
        if (!difference.empty()) return "created with host differs from attached by host: " + difference;
        return "";
    });
}

}  // namespace

Group processingChecks() {
    return {
        "processing",
        {{"null_events", "process with a null event list, through both views", nullEvents},
         {"zero_length", "0-sample blocks write nothing, with or without events", zeroLength},
         {"graph_start", "at graph start every output reports its streaming state, at that sample",
          graphStart},
         {"sample_rates", "8000..768000 Hz and 1234.5678 Hz: in-contract behaviour", sampleRates},
         {"block_sizes", "blocks of 1, odd, 4096 and random samples: in-contract behaviour", blockSizes},
         {"guard_zones", "random sessions: no write outside the block or into inputs", guardZones},
         {"finite_output", "random sessions: every written sample is finite", finiteOutput},
         {"no_sleep_while_streaming", "never asks to sleep while an output is declared streaming",
          noSleepWhileStreaming},
         {"constant_while_declared", "written samples stay constant while declared constant",
          constantWhileDeclared},
         {"owed_samples_written",
          "every sample the module owes is written, in every session any check renders", owedSamplesWritten},
         {"determinism", "two instances, same session: bit-identical output", determinism},
         {"views_agree", "both process views and both attach paths give the same output", viewsAgree}}};
}

}  // namespace kvx::validate
