// Session generation and block-by-block rendering with guarded buffers.
#include "tools/validate/session/session.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <sstream>

#include "tools/validate/heap_hooks.h"

namespace kvx::validate {

namespace {

SessionEvent valueEvent(int64_t time, int32_t pin, float value) {
    SessionEvent event{time, event::PIN_VALUE, pin};
    event.size = 4;
    std::memcpy(event.inlineValue, &value, 4);
    return event;
}

std::string where(int64_t block, int64_t start, int32_t sampleCount) {
    return "block " + std::to_string(block) + " (samples " + std::to_string(start) + ".." +
           std::to_string(start + sampleCount - 1) + ", " + std::to_string(sampleCount) + " long)";
}

// The floating-point control state a module must leave as it found it: rounding mode, and on
// x86-64 the SSE control bits (flush-to-zero, denormals-are-zero, exception masks) without
// the sticky exception flags.
uint32_t floatingPointControl() {
    uint32_t state = static_cast<uint32_t>(fegetround());
#if defined(__x86_64__)
    uint32_t csr;
    __asm__ volatile("stmxcsr %0" : "=m"(csr));
    state ^= (csr & ~0x3Fu) << 8;
#endif
    return state;
}

std::string floatText(float value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

}  // namespace

Session randomSession(const ModuleShape& shape, uint64_t seed, float sampleRate, int64_t length) {
    Session session;
    session.seed = seed;
    session.sampleRate = sampleRate;
    session.length = length;
    std::mt19937_64 random(seed);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    auto below = [&](int64_t bound) { return std::uniform_int_distribution<int64_t>(0, bound - 1)(random); };

    session.events.push_back(SessionEvent{0, event::GRAPH_BEGIN, -1});
    if (shape.inputs.empty()) return session;

    // Value events in groups: one to three pins at the same time, often all set to 1.0.
    const int64_t meanGap = std::max<int64_t>(1, length / 40);
    for (int64_t time = below(meanGap); time < length; time += 1 + below(2 * meanGap)) {
        const int64_t pins = 1 + below(3);
        const bool chord = below(2) == 0;
        for (int64_t k = 0; k < pins; ++k) {
            const int32_t pin =
                shape.inputs[static_cast<size_t>(below(static_cast<int64_t>(shape.inputs.size())))];
            const int64_t pick = below(10);
            const float value = chord || pick < 5 ? 1.0f
                                : pick < 8        ? 0.0f
                                                  : static_cast<float>(uniform(0.0, 1.0));
            session.events.push_back(valueEvent(time, pin, value));
        }
    }

    // Input signals: constant stretches joined by jumps and ramps, each announced by a stream
    // begin at its first changing sample and a stream end at the first constant sample.
    for (int32_t pin : shape.inputs) {
        std::vector<float>& signal = session.inputs[pin];
        signal.resize(static_cast<size_t>(length));
        float value = static_cast<float>(uniform(-0.1, 0.6));
        int64_t time = 0;
        while (time < length) {
            const int64_t change =
                std::min<int64_t>(length, time + 500 + below(std::max<int64_t>(1, length / 3)));
            std::fill(signal.begin() + time, signal.begin() + change, value);
            if (change >= length) break;
            const float next = static_cast<float>(uniform(-0.1, 0.6));
            const int64_t ramp = below(2) == 0 ? 1 : 16 + below(2000);
            const int64_t end = std::min<int64_t>(length, change + ramp);
            session.events.push_back(SessionEvent{change, event::STREAM_BEGIN, pin});
            for (int64_t t = change; t < end; ++t) {
                const double share =
                    ramp == 1 ? 1.0 : static_cast<double>(t - change) / static_cast<double>(ramp);
                signal[static_cast<size_t>(t)] = static_cast<float>(value + (next - value) * share);
            }
            if (end < length) session.events.push_back(SessionEvent{end, event::STREAM_END, pin});
            value = next;
            time = end;
        }
    }
    std::stable_sort(session.events.begin(), session.events.end(),
                     [](const SessionEvent& a, const SessionEvent& b) { return a.time < b.time; });
    return session;
}

std::vector<int32_t> fixedPartition(int64_t length, int32_t blockSize) {
    std::vector<int32_t> blocks;
    for (int64_t done = 0; done < length; done += blockSize)
        blocks.push_back(static_cast<int32_t>(std::min<int64_t>(blockSize, length - done)));
    return blocks;
}

std::vector<int32_t> randomPartition(int64_t length, std::mt19937_64& random, int32_t maxBlock) {
    std::vector<int32_t> blocks;
    for (int64_t done = 0; done < length;) {
        // Mostly moderate blocks, some single samples, some long ones.
        const int kind = std::uniform_int_distribution<int>(0, 9)(random);
        int32_t size = kind == 0  ? 1
                       : kind < 8 ? std::uniform_int_distribution<int32_t>(1, std::min(maxBlock, 512))(random)
                                  : std::uniform_int_distribution<int32_t>(1, maxBlock)(random);
        size = static_cast<int32_t>(std::min<int64_t>(size, length - done));
        blocks.push_back(size);
        done += size;
    }
    return blocks;
}

Rendering render(const RawLibrary& library, const Context& context, const ModuleShape& shape,
                 const Session& session, const std::vector<int32_t>& partition, const HostPolicy& policy) {
    Rendering result;
    RawHost host;
    host.sampleRate = policy.useOverride ? policy.sampleRateOverride : session.sampleRate;
    RawInstance instance(library, context, host, policy.creation);

    int32_t capacity = 1;
    for (int32_t size : partition) capacity = std::max(capacity, size);
    std::map<int32_t, GuardedBuffer> buffers;
    for (int32_t pin : shape.pins) {
        buffers.emplace(pin, GuardedBuffer(static_cast<size_t>(capacity)));
        instance.bind(pin, buffers.at(pin).data());
    }
    for (int32_t pin : shape.outputs) result.outputs[pin].reserve(static_cast<size_t>(session.length));

    struct OutputTrack {
        int8_t state = -1;  // declared state carried across blocks: -1 unknown, 0 constant, 1 streaming
        float held = 0.0f;  // the last value, held by the host while the module does not write
        bool haveConstant = false;
        float constant = 0.0f;
        int64_t constantFrom = 0;
        bool restartNext = false;  // a constant declaration at or past the end of the last block
    };
    std::map<int32_t, OutputTrack> tracks;
    std::vector<int8_t> stateAt(static_cast<size_t>(capacity));
    std::vector<bool> restartAt(static_cast<size_t>(capacity));
    std::vector<RawEvent> records;
    records.reserve(session.events.size() + 64);

    bool asleep = false;
    size_t nextEvent = 0;
    int64_t start = 0;
    for (size_t block = 0; block < partition.size(); ++block) {
        const int32_t n = partition[block];
        const int64_t b = static_cast<int64_t>(block);
        records.clear();
        while (nextEvent < session.events.size() && session.events[nextEvent].time < start + n) {
            const SessionEvent& e = session.events[nextEvent++];
            RawEvent record =
                makeEvent(static_cast<int32_t>(e.time - start), e.type, e.pin, e.size, e.inlineValue, 8);
            if (e.data != nullptr) record.setPointer(event::DATA, e.data);
            records.push_back(record);
        }
        if (policy.tamper) policy.tamper(b, n, records);
        for (size_t i = 0; i + 1 < records.size(); ++i)
            records[i].setPointer(event::NEXT, records[i + 1].bytes);
        if (!records.empty()) records.back().setPointer(event::NEXT, nullptr);

        for (int32_t pin : shape.inputs) {
            float* data = buffers.at(pin).data();
            auto signal = session.inputs.find(pin);
            for (int32_t i = 0; i < capacity; ++i)
                data[i] = i < n && signal != session.inputs.end()
                              ? signal->second[static_cast<size_t>(start + i)]
                              : 0.0f;
        }
        for (int32_t pin : shape.outputs)
            std::fill(buffers.at(pin).data(), buffers.at(pin).data() + capacity, unwrittenSample());

        if (policy.honourSleep && asleep && records.empty()) {
            for (int32_t pin : shape.outputs)
                result.outputs[pin].insert(result.outputs[pin].end(), static_cast<size_t>(n),
                                           tracks[pin].held);
            ++result.blocksSkipped;
            start += n;
            continue;
        }

        host.beginBlock();
        host.countdown = policy.countdown < 0 ? n : policy.countdown;
        const bool counting = policy.countHeapAndLocks && hooksAvailable();
        HeapLockCounts counted;
        const uint32_t controlBefore = floatingPointControl();
        if (counting) startCounting();
        instance.process(n, records.empty() ? nullptr : records.front().bytes, policy.throughFirstView);
        if (counting) counted = stopCounting();
        if (floatingPointControl() != controlBefore && result.fpEnvironment.empty())
            result.fpEnvironment = "the floating-point control state changed in " + where(b, start, n);
        if (counting) {
            const HeapLockCounts counts = counted;
            result.heapCalls += counts.heapCalls;
            result.lockCalls += counts.lockCalls;
            if ((counts.heapCalls > 0 || counts.lockCalls > 0) && result.heapOrLock.empty())
                result.heapOrLock = std::to_string(counts.heapCalls) + " heap and " +
                                    std::to_string(counts.lockCalls) + " lock calls in " + where(b, start, n);
        }
        ++result.blocksCalled;
        result.sleepRequests += host.sleepRequestsThisBlock;
        asleep = policy.honourSleep && host.sleepRequestsThisBlock > 0;
        if (host.sleptWhileStreaming && result.sleptWhileStreaming.empty())
            result.sleptWhileStreaming = "requestSleep while output pin " +
                                         std::to_string(host.streamingPinAtSleep) +
                                         " was declared streaming, in " + where(b, start, n);

        // Buffers: guards, the unused tail of the outputs, and every input sample must be intact.
        for (auto& [pin, buffer] : buffers) {
            const int64_t hit = buffer.firstGuardHit();
            if (hit != 0 && result.guardHit.empty())
                result.guardHit = "pin " + std::to_string(pin) + " buffer written at index " +
                                  std::to_string(hit) + " (guard zone) in " + where(b, start, n);
            if (hit != 0) buffer.armGuards();
        }
        for (int32_t pin : shape.outputs) {
            const float* data = buffers.at(pin).data();
            for (int32_t i = n; i < capacity && result.guardHit.empty(); ++i)
                if (!sameBits(data[i], unwrittenSample()))
                    result.guardHit = "output pin " + std::to_string(pin) + " written at index " +
                                      std::to_string(i) + ", past the block end, in " + where(b, start, n);
        }
        for (int32_t pin : shape.inputs) {
            const float* data = buffers.at(pin).data();
            auto signal = session.inputs.find(pin);
            for (int32_t i = 0; i < capacity && result.inputWritten.empty(); ++i) {
                const float expected = i < n && signal != session.inputs.end()
                                           ? signal->second[static_cast<size_t>(start + i)]
                                           : 0.0f;
                if (!sameBits(data[i], expected))
                    result.inputWritten = "input pin " + std::to_string(pin) + " buffer changed at index " +
                                          std::to_string(i) + " in " + where(b, start, n);
            }
        }

        // Outputs: declared state per sample, then the host's view of each sample.
        for (int32_t pin : shape.outputs) {
            OutputTrack& track = tracks[pin];
            std::fill(stateAt.begin(), stateAt.begin() + n, track.state);
            std::fill(restartAt.begin(), restartAt.begin() + n, false);
            if (track.restartNext && n > 0) restartAt[0] = true;
            track.restartNext = false;
            for (size_t r = 0; r < host.reportCount; ++r) {
                const StreamingReport& report = host.reports[r];
                if (report.pin != pin) continue;
                const int32_t from = std::clamp(report.timestamp, 0, n);
                std::fill(stateAt.begin() + from, stateAt.begin() + n,
                          static_cast<int8_t>(report.streaming != 0 ? 1 : 0));
                track.state = report.streaming != 0 ? 1 : 0;
                // Every constant declaration starts a new constant stretch at its sample.
                if (report.streaming == 0) {
                    if (from < n)
                        restartAt[static_cast<size_t>(from)] = true;
                    else
                        track.restartNext = true;
                }
            }
            float* data = buffers.at(pin).data();
            for (int32_t i = 0; i < n; ++i) {
                const int64_t at = start + i;
                const bool written = !sameBits(data[i], unwrittenSample());
                if (!written) {
                    data[i] = track.held;
                } else {
                    if (!std::isfinite(data[i]) && result.nonFinite.empty())
                        result.nonFinite = "output pin " + std::to_string(pin) + " sample " +
                                           std::to_string(at) + " is " + floatText(data[i]) + " (" +
                                           where(b, start, n) + ")";
                    if (std::fpclassify(data[i]) == FP_SUBNORMAL && result.denormal.empty())
                        result.denormal = "output pin " + std::to_string(pin) + " sample " +
                                          std::to_string(at) + " is subnormal (" + floatText(data[i]) + ")";
                }
                if (stateAt[static_cast<size_t>(i)] == 0) {
                    if (!track.haveConstant || restartAt[static_cast<size_t>(i)]) {
                        track.haveConstant = true;
                        track.constant = data[i];
                        track.constantFrom = at;
                    } else if (written && !sameBits(data[i], track.constant) && result.notConstant.empty()) {
                        result.notConstant =
                            "output pin " + std::to_string(pin) + " declared constant from sample " +
                            std::to_string(track.constantFrom) + " at " + floatText(track.constant) +
                            ", but sample " + std::to_string(at) + " is " + floatText(data[i]) + " (" +
                            where(b, start, n) + ")";
                    }
                } else {
                    track.haveConstant = false;
                }
                track.held = data[i];
            }
            result.outputs[pin].insert(result.outputs[pin].end(), data, data + n);
        }
        start += n;
    }
    return result;
}

std::string firstDifference(const Rendering& a, const Rendering& b, int64_t limit) {
    for (const auto& [pin, samples] : a.outputs) {
        auto other = b.outputs.find(pin);
        if (other == b.outputs.end()) return "output pin " + std::to_string(pin) + " missing";
        const size_t count =
            limit < 0 ? std::min(samples.size(), other->second.size())
                      : std::min({samples.size(), other->second.size(), static_cast<size_t>(limit)});
        for (size_t i = 0; i < count; ++i)
            if (!sameBits(samples[i], other->second[i]))
                return "output pin " + std::to_string(pin) + " sample " + std::to_string(i) + ": " +
                       floatText(samples[i]) + " vs " + floatText(other->second[i]);
    }
    return "";
}

std::string reproduce(uint64_t seed) {
    return "; reproduce with --seed " + std::to_string(seed) + " --seeds 1";
}

}  // namespace kvx::validate
