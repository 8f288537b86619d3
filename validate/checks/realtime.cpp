// SPDX-License-Identifier: MIT
// Real-time safety: no heap call and no lock while processing (counted through the conformance kit's
// replacements of operator new, malloc and the pthread locks), no denormal output, and the
// floating-point control state left as found.
#include <pthread.h>
#include <cfenv>

#include <algorithm>
#include <cstdlib>

#include "conformance/heap_interposer.h"
#include "validate/checks/support.h"

namespace kvx::validate {

namespace {

// Where the self-test's allocations escape to, so that the compiler cannot drop them.
void* volatile escaped = nullptr;

// The replacements must be seen to count before a zero count means anything. Sanitizer
// builds count operator new and delete only, and no lock.
std::string hooksWork(bool heap) {
    if (!heap && !mallocHooked()) return "not counted in sanitizer builds (their runtimes own the locks)";
    startCounting();
    escaped = new int(3);
    delete static_cast<int*>(escaped);
    if (mallocHooked()) {
        escaped = std::malloc(24);
        std::free(escaped);
    }
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    const HeapCounts counts = stopCounting();
    const int64_t expected = mallocHooked() ? 2 : 1;
    if (counts.allocations < expected || counts.frees < expected || (!heap && counts.lockCalls < 1))
        return "the heap and lock replacements did not count a known call";
    return "";
}

Outcome countedProperty(const Context& context, bool heap) {
    const std::string broken = hooksWork(heap);
    if (!broken.empty()) return skip(broken);
    Subject subject(context);
    int64_t blocks = 0;
    Outcome outcome = overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        const Session session = randomSessionFor(subject.shape, seed, random);
        HostPolicy policy;
        policy.countHeapAndLocks = true;
        policy.honourSleep = (seed % 2) == 1;
        policy.countdown = randomCountdown(random);
        policy.creation = (seed % 3) == 0 ? Creation::WithHost : Creation::Plain;
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(session.length, random, 4096), policy);
        blocks += r.blocksCalled;
        if (heap && r.heapCalls > 0) return r.heapOrLock;
        if (!heap && r.lockCalls > 0) return r.heapOrLock;
        return "";
    });
    if (outcome.status == Status::Pass) {
        outcome.detail += ", " + std::to_string(blocks) + " process calls";
        if (!mallocHooked()) outcome.detail += "; operator new and delete only (sanitizer build)";
    }
    return outcome;
}

Outcome noHeap(const Context& context) { return countedProperty(context, true); }
Outcome noLocks(const Context& context) { return countedProperty(context, false); }

Outcome noDenormals(const Context& context) {
    Subject subject(context);
    if (subject.shape.outputs.empty()) return skip("no audio output pin found");
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        // Events only in the first tenth, then a long tail in which decaying output could
        // sink into subnormal numbers.
        Session session = randomSessionFor(subject.shape, seed, random);
        const int64_t quiet = session.length / 10;
        std::vector<SessionEvent> kept;
        for (const SessionEvent& e : session.events)
            if (e.time < quiet) kept.push_back(e);
        // Inputs freeze at their value at the quiet point, and a stream end there says so.
        for (auto& [pin, signal] : session.inputs) {
            const float last = signal[static_cast<size_t>(quiet)];
            std::fill(signal.begin() + quiet, signal.end(), last);
            kept.push_back(SessionEvent{quiet, event::STREAM_END, pin});
        }
        session.events = kept;
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(session.length, random, 4096), HostPolicy{});
        if (!r.denormal.empty()) return r.denormal;
        // The tiny-value sessions of hostile.huge_values: a tiny input must not make subnormal
        // output either.
        const Session tiny = sessionWithValues(subject.shape, seed, random, tinyValues());
        const Rendering t = render(subject.library, context, subject.shape, tiny,
                                   randomPartition(tiny.length, random, 2048), HostPolicy{});
        return t.denormal.empty() ? "" : "tiny values: " + t.denormal;
    });
}

Outcome floatingPointState(const Context& context) {
    Subject subject(context);
    return overSessions(context, [&](uint64_t seed, std::mt19937_64& random) -> std::string {
        // From the default state: a module that changed it in an earlier check of this process,
        // and changes it again, would otherwise be found to change nothing.
        std::fesetround(FE_TONEAREST);
#if defined(__x86_64__)
        const uint32_t defaultControl = 0x1F80;
        __asm__ volatile("ldmxcsr %0" : : "m"(defaultControl));
#endif
        const Session session = randomSessionFor(subject.shape, seed, random);
        const Rendering r = render(subject.library, context, subject.shape, session,
                                   randomPartition(session.length, random, 4096), HostPolicy{});
        return r.fpEnvironment;
    });
}

}  // namespace

Group realtimeChecks() {
    return {"realtime",
            {{"no_heap", "no malloc/free/operator new during process", noHeap},
             {"no_locks", "no pthread mutex, rwlock or spin lock during process", noLocks},
             {"no_denormals",
              "no subnormal output samples, also in long decaying tails and after tiny inputs", noDenormals},
             {"fp_state", "process leaves rounding mode and SSE control bits as it found them",
              floatingPointState}}};
}

}  // namespace kvx::validate
