// SPDX-License-Identifier: MIT
// Patch::runBlock: the stages in order, each module's events merged from its inputs' stream
// changes and the caller's, the host side of the sleep protocol per module, and loops run one
// sample per call. Nothing here allocates.
#include <algorithm>
#include <cstring>
#include <string>

#include "host/host_error.h"
#include "host/patch.h"
#include "host/patch_parts.h"

namespace kvx::host {

namespace {

size_t at(int32_t index) { return static_cast<size_t>(index); }

bool sameBits(float a, float b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }

int32_t streamType(bool streaming) noexcept { return streaming ? EV_STREAM_BEGIN : EV_STREAM_END; }

class BlockRun {
public:
    BlockRun(Patch::Parts& parts, int32_t count, std::span<const PatchEvent> callerEvents, bool honour,
             int32_t minimum, int32_t maxBlockSize, PatchStats& stats) noexcept
        : p(parts),
          n(count),
          events(callerEvents),
          honourSleep(honour),
          minimumCountdown(minimum),
          maxBlock(maxBlockSize),
          counters(stats) {}

    void groupCallerEvents() noexcept;
    void runStage(const PatchStage& stage, int32_t stageIndex) noexcept;
    // Ends the block; returns whether the next may be skipped outright.
    bool finish() noexcept;

private:
    PatchModuleState& module(int32_t index) noexcept { return *p.modules[at(index)]; }
    void runModule(PatchModuleState& m) noexcept;
    void runLoop(const PatchStage& stage, int32_t stageIndex) noexcept;
    // A loop's sample i: whether the module has events there, and their list.
    bool eventsAt(const PatchModuleState& m, int32_t i) const noexcept;
    const HostEvent* stepEvents(PatchModuleState& m, int32_t i) noexcept;
    void addStart(PatchModuleState& m) noexcept;
    void addCaller(PatchModuleState& m, const PatchEvent& event, int32_t base) noexcept;
    void call(PatchModuleState& m, int32_t base, int32_t count, const HostEvent* list) noexcept;
    void holdSkipped(PatchModuleState& m) noexcept;
    void updateLine(DelayLine& line) noexcept;

    Patch::Parts& p;
    int32_t n;
    std::span<const PatchEvent> events;
    bool honourSleep;
    int32_t minimumCountdown;
    int32_t maxBlock;
    PatchStats& counters;
};

void BlockRun::groupCallerEvents() noexcept {
    for (auto& m : p.modules) m->callerCount = 0;
    for (const PatchEvent& event : events) ++module(event.module).callerCount;
    int32_t first = 0;
    for (auto& m : p.modules) {
        m->callerFirst = m->callerCursor = first;
        first += m->callerCount;
    }
    for (size_t i = 0; i < events.size(); ++i) {
        PatchModuleState& m = module(events[i].module);
        p.callerOrder[at(m.callerCursor++)] = static_cast<int32_t>(i);
    }
    for (auto& m : p.modules) m->callerCursor = m->callerFirst;
}

void BlockRun::addStart(PatchModuleState& m) noexcept {
    p.merge.add(0, EV_GRAPH_BEGIN, -1, EventRank::Graph);
    for (const ControlValue& control : m.controls)
        p.merge.addValue(0, control.pin, control.value, control.isBool, EventRank::Initial);
    for (size_t i = 0; i < m.startConstant.size(); ++i) {
        const int32_t pin = m.startConstant[i];
        bool startsStreaming = false;  // the caller starts this input moving right away
        if (m.startFromHost[i])
            for (int32_t k = m.callerFirst; k < m.callerFirst + m.callerCount; ++k) {
                const PatchEvent& event = events[at(p.callerOrder[at(k)])];
                if (event.timestamp == 0 && event.pin == pin && event.type == EV_STREAM_BEGIN)
                    startsStreaming = true;
            }
        if (!startsStreaming) p.merge.add(0, EV_STREAM_END, pin, EventRank::Initial);
    }
}

void BlockRun::addCaller(PatchModuleState& m, const PatchEvent& event, int32_t base) noexcept {
    const int32_t time = event.timestamp - base;
    if (event.type != EV_PIN_VALUE) {
        p.merge.add(time, event.type, event.pin, event.rank);
        return;
    }
    const bool isBool = std::find(m.boolPins.begin(), m.boolPins.end(), event.pin) != m.boolPins.end();
    p.merge.addValue(time, event.pin, event.value, isBool, event.rank);
}

void BlockRun::call(PatchModuleState& m, int32_t base, int32_t count, const HostEvent* list) noexcept {
    PatchModuleHost& host = m.host;
    host.countdown = std::max(minimumCountdown, count);
    host.sleepRequested = false;
    m.plugin->process(count, list);
    ++counters.calls;
    ++m.stats.calls;
    if (m.lastBlockCalled != p.blockIndex) {
        m.lastBlockCalled = p.blockIndex;
        ++m.stats.blocksCalled;
    }
    const bool graphStart = !m.started;
    m.started = true;
    for (ModuleOutput& output : m.outputs) {
        output.heldSpan = 0;
        if (output.reportCount == 0 && !graphStart) {
            if (host.sleepRequested && output.state == StreamState::Constant)
                std::fill(output.cell, output.cell + count, output.held);
            continue;
        }
        // What the reports tell the connected inputs: a new state, or a new constant value (read
        // now that the module has written it). Repeats tell nothing and go no further, so a
        // module that declares its output constant at every event does not keep a loop awake.
        int32_t constantFrom = -1;
        for (int32_t r = 0; r < output.reportCount; ++r) {
            const StreamReport& report = output.reports[r];
            const int32_t t = std::clamp(report.timestamp, 0, count - 1);
            if (report.streaming) {
                output.state = StreamState::Streaming;
                constantFrom = -1;
                if (output.told != StreamState::Streaming) {
                    output.addChange(base + t, true);
                    output.told = StreamState::Streaming;
                }
                continue;
            }
            const float value = output.cell[t];
            output.state = StreamState::Constant;
            output.held = value;
            constantFrom = t;
            if (output.told != StreamState::Constant || !sameBits(value, output.toldValue)) {
                output.addChange(base + t, false);
                output.told = StreamState::Constant;
                output.toldValue = value;
            }
        }
        // An output that says nothing at graph start is taken to be moving.
        if (graphStart && output.told == StreamState::Unknown) {
            output.addChange(base, true);
            output.told = StreamState::Streaming;
        }
        output.reportCount = 0;
        if (output.merged != 0) {
            counters.mergedReports += output.merged;
            output.merged = 0;
        }
        // Samples after a sleep request were not written: the held value holds there.
        if (host.sleepRequested && output.state == StreamState::Constant)
            std::fill(output.cell + std::max(constantFrom, 0), output.cell + count, output.held);
    }
    if (host.sleepRequested) {
        ++counters.sleepRequests;
        ++m.stats.sleepRequests;
    }
    m.asleep = host.sleepRequested && honourSleep;
}

void BlockRun::holdSkipped(PatchModuleState& m) noexcept {
    for (ModuleOutput& output : m.outputs) {
        if (output.heldSpan >= n) continue;
        // Once over the whole buffer: later blocks of any size find the value there.
        if (output.state == StreamState::Constant)
            std::fill(output.block, output.block + maxBlock, output.held);
        output.heldSpan = maxBlock;
    }
}

void BlockRun::updateLine(DelayLine& line) noexcept {
    const ModuleOutput& from = *line.from;
    const bool holding =
        module(line.fromModule).asleep && from.heldSpan >= maxBlock && from.state == StreamState::Constant;
    if (line.settled && holding) return;
    const float previous = line.last;
    line.buffer[0] = previous;
    std::copy(from.block, from.block + n - 1, line.buffer + 1);
    line.last = from.block[n - 1];
    line.settled = holding && sameBits(previous, from.held);
    if (line.settled) std::fill(line.buffer + n, line.buffer + maxBlock, from.held);
}

void BlockRun::runModule(PatchModuleState& m) noexcept {
    p.merge.clear();
    if (!m.started) addStart(m);
    for (FedInput& input : m.fed) {
        if (input.line != nullptr) updateLine(*input.line);
        const ModuleOutput& from = *input.from;
        const int32_t delay = input.delayed ? 1 : 0;
        for (int32_t c = 0; c < from.changeCount; ++c) {
            const int32_t time = from.changes[c].time + delay;
            if (time < n)
                p.merge.add(time, streamType(from.changes[c].streaming), input.pin, EventRank::Stream);
        }
        if (input.delayed)
            for (int32_t c = 0; c < from.carriedCount; ++c)
                p.merge.add(0, streamType(from.carried[c].streaming), input.pin, EventRank::Stream);
    }
    for (int32_t k = m.callerFirst; k < m.callerFirst + m.callerCount; ++k)
        addCaller(m, events[at(p.callerOrder[at(k)])], 0);
    const HostEvent* list = p.merge.link();
    if (!honourSleep || !m.asleep || list != nullptr)
        call(m, 0, n, list);
    else
        holdSkipped(m);
}

bool BlockRun::eventsAt(const PatchModuleState& m, int32_t i) const noexcept {
    if (!m.started && i == 0) return true;
    if (m.callerCursor < m.callerFirst + m.callerCount &&
        events[at(p.callerOrder[at(m.callerCursor)])].timestamp <= i)
        return true;
    for (const FedInput& input : m.fed) {
        const ModuleOutput& from = *input.from;
        if (input.delayed && i == 0 && from.carriedCount > 0) return true;
        if (input.cursor < from.changeCount && from.changes[input.cursor].time + (input.delayed ? 1 : 0) <= i)
            return true;
    }
    return false;
}

const HostEvent* BlockRun::stepEvents(PatchModuleState& m, int32_t i) noexcept {
    p.merge.clear();
    if (!m.started && i == 0) addStart(m);
    for (FedInput& input : m.fed) {
        const ModuleOutput& from = *input.from;
        const int32_t delay = input.delayed ? 1 : 0;
        if (input.delayed && i == 0)
            for (int32_t c = 0; c < from.carriedCount; ++c)
                p.merge.add(0, streamType(from.carried[c].streaming), input.pin, EventRank::Stream);
        for (; input.cursor < from.changeCount && from.changes[input.cursor].time + delay <= i;
             ++input.cursor)
            p.merge.add(0, streamType(from.changes[input.cursor].streaming), input.pin, EventRank::Stream);
    }
    const int32_t end = m.callerFirst + m.callerCount;
    for (; m.callerCursor < end && events[at(p.callerOrder[at(m.callerCursor)])].timestamp <= i;
         ++m.callerCursor)
        addCaller(m, events[at(p.callerOrder[at(m.callerCursor)])], i);
    return p.merge.link();
}

void BlockRun::runLoop(const PatchStage& stage, int32_t stageIndex) noexcept {
    bool active = !honourSleep;
    for (int32_t index : stage.modules) {
        PatchModuleState& m = module(index);
        active = active || !m.started || !m.asleep || m.callerCount > 0;
        for (FedInput& input : m.fed) {
            if (input.line != nullptr) updateLine(*input.line);
            active = active || input.from->changeCount > 0 || (input.delayed && input.from->carriedCount > 0);
            input.cursor = 0;
        }
    }
    if (!active) {
        for (int32_t index : stage.modules) holdSkipped(module(index));
        return;
    }
    const std::vector<PatchModuleState*>& modules = p.stageModules[at(stageIndex)];
    for (int32_t i = 0; i < n; ++i) {
        for (PatchModuleState* each : modules) {
            PatchModuleState& m = *each;
            const HostEvent* list = eventsAt(m, i) ? stepEvents(m, i) : nullptr;
            if (honourSleep && m.asleep && list == nullptr) continue;  // its cells hold its value
            for (HostInput& input : m.hostInputs) input.cell[0] = input.block[i];
            for (FedInput& input : m.fed)
                if (!input.sameLoop) input.cell[0] = input.source[i];
            call(m, i, 1, list);
        }
        // The sample every module of the loop leaves behind: the delayed inputs' next one, and
        // this sample of the block buffers the rest of the patch reads.
        for (PatchModuleState* each : modules) {
            PatchModuleState& m = *each;
            for (FedInput& input : m.fed)
                if (input.sameLoop && input.delayed) input.cell[0] = input.from->cell[0];
            for (ModuleOutput& output : m.outputs) output.block[i] = output.cell[0];
        }
    }
    for (int32_t index : stage.modules)
        for (ModuleOutput& output : module(index).outputs) output.heldSpan = 0;
}

void BlockRun::runStage(const PatchStage& stage, int32_t stageIndex) noexcept {
    if (stage.perSample)
        runLoop(stage, stageIndex);
    else
        runModule(module(stage.modules.front()));
}

bool BlockRun::finish() noexcept {
    bool quiet = honourSleep;
    for (auto& m : p.modules) {
        quiet = quiet && m->asleep;
        for (ModuleOutput& output : m->outputs) {
            output.carriedCount = 0;
            if (output.feedsDelayed)
                for (int32_t c = 0; c < output.changeCount; ++c) {
                    if (output.changes[c].time != n - 1) continue;
                    const StreamChange carried{0, output.changes[c].streaming};
                    if (output.carriedCount == ModuleOutput::CARRY_CAPACITY) {
                        output.carried[output.carriedCount - 1] = carried;
                        ++counters.mergedReports;
                    } else {
                        output.carried[output.carriedCount++] = carried;
                    }
                }
            quiet = quiet && output.carriedCount == 0 && output.heldSpan >= maxBlock;
        }
    }
    for (auto& line : p.lines) quiet = quiet && line->settled;
    ++p.blockIndex;
    return quiet;
}

}  // namespace

void Patch::runAll(int32_t sampleCount, std::span<const PatchEvent> events) {
    Parts& p = *parts;
    const std::string& prefix = p.prefix;
    if (sampleCount < 0 || sampleCount > maxBlock)
        throw HostError(prefix + "a block of " + std::to_string(sampleCount) + " samples, buffers of " +
                        std::to_string(maxBlock));
    if (events.size() > at(p.eventsPerBlock))
        throw HostError(prefix + std::to_string(events.size()) + " events in one block, room for " +
                        std::to_string(p.eventsPerBlock));
    for (auto& m : p.modules) m->callerCursor = -1;  // the latest timestamp seen, while checking
    for (const PatchEvent& event : events) {
        if (event.module < 0 || event.module >= moduleCount() || event.timestamp < 0 ||
            event.timestamp >= sampleCount)
            throw HostError(prefix + "an event for module " + std::to_string(event.module) + " at sample " +
                            std::to_string(event.timestamp) + " of a block of " +
                            std::to_string(sampleCount) + ": no such module or sample");
        int32_t& latest = p.modules[at(event.module)]->callerCursor;
        if (event.timestamp < latest)
            throw HostError(prefix + "the events for module " + std::to_string(event.module) +
                            " are not in time order");
        latest = event.timestamp;
    }
    ++counters.blocks;
    if (sampleCount == 0) return;
    // The last block's changes stay readable (streamChanges) until this one starts.
    for (auto& m : p.modules)
        for (ModuleOutput& output : m->outputs) output.changeCount = 0;
    BlockRun run(p, sampleCount, events, honourSleep, minimumCountdown, maxBlock, counters);
    run.groupCallerEvents();
    for (size_t s = 0; s < p.stages.size(); ++s) run.runStage(p.stages[s], static_cast<int32_t>(s));
    quiet = run.finish();
    changesOfBlock = counters.blocks;
}

}  // namespace kvx::host
