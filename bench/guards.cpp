// SPDX-License-Identifier: MIT
// The guards: module vs floor bit for bit, every module path vs another path that must give
// the same bits, the peers' envelopes plausible, the instance's layout, and its memory counted.
#include "bench/guards.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include "bench/floor_loop.h"
#include "bench/host_note.h"
#include "bench/in_process_voice.h"
#include "bench/peers.h"
#include "bench/voice_session.h"
#include "conformance/heap_interposer.h"
#include "modules/adsr/adsr_pins.h"
#include "tests/support/adsr_test_access.h"

namespace kvx::bench {

namespace {

void check(bool ok, const std::string& what) {
    std::printf("guard %-58s %s\n", what.c_str(), ok ? "ok" : "FAILED");
    if (!ok) {
        std::fflush(stdout);
        std::exit(1);
    }
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The module's generateEnvelope and the floor loop over the same CHUNK of a long segment.
void guardModuleMatchesFloor() {
    InProcessVoice voice(LONG_SEGMENT, CHUNK);
    std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    linkEvents(on);
    voice.process(0, on.data());  // sets up the attack without running it, at block position 0
    adsr::Adsr& module = voice.module();
    FloorSegment segment = floorSegmentOf(module.runningSegment());
    std::vector<float> floorOut(CHUNK);
    const int32_t written = runFloor(segment, floorOut.data(), CHUNK);
    module.generateEnvelope(CHUNK);
    const std::vector<float> moduleOut(voice.output(), voice.output() + CHUNK);
    const adsr::Adsr::SegmentSnapshot after = module.runningSegment();
    check(written == CHUNK && after.state == adsr::STATE_ATTACK,
          "long segment moves through the whole chunk");
    check(sameBits(floorOut, moduleOut) && after.level == segment.level,
          "module generateEnvelope == floor loop, bit for bit");
}

// The note's attack, sample by sample, against the floor loop from the same plan.
void guardNoteAttackMatchesFloor(const std::vector<float>& note) {
    InProcessVoice voice(SINGLE_NOTE, BLOCK);
    std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    linkEvents(on);
    voice.process(0, on.data());
    FloorSegment segment = floorSegmentOf(voice.module().runningSegment());
    std::vector<float> floorOut(note.size());
    const int32_t written = runFloor(segment, floorOut.data(), static_cast<int32_t>(note.size()));
    const int64_t attack = secondsToSamples(SINGLE_NOTE.attack);
    check(std::abs(written - attack) <= 2,
          "note attack ends after about 100 ms (" + std::to_string(written) + " samples)");
    check(std::equal(floorOut.begin(), floorOut.begin() + written, note.begin()) &&
              note[static_cast<size_t>(written)] == 1.0f,
          "note attack == floor loop, then exactly 1.0");
}

// The module's whole note: peak exactly 1.0 at the end of the attack, sustain exactly 0.5,
// exactly 0.0 after the release.
void guardModuleNote(const std::vector<float>& note) {
    const auto peak = std::max_element(note.begin(), note.end());
    const int64_t peakAt = peak - note.begin();
    check(*peak == 1.0f && peakAt <= secondsToSamples(SINGLE_NOTE.attack) + 2,
          "module note peaks at 1.0 within the attack");
    const size_t sustainMiddle =
        static_cast<size_t>(secondsToSamples(SINGLE_NOTE.attack + SINGLE_NOTE.decay + 2.5));
    check(note[sustainMiddle] == static_cast<float>(SINGLE_NOTE.sustain), "module note sustains at 0.5");
    check(note.back() == 0.0f, "module note is 0.0 after the release");
}

void guardPeer(const char* name, PeerEnvelope& peer) {
    std::vector<float> out(static_cast<size_t>(noteSamples(SINGLE_NOTE)), -1.0f);
    peer.renderNote(out.data());
    const auto peak = std::max_element(out.begin(), out.end());
    const int64_t peakAt = peak - out.begin();
    check(std::fabs(*peak - 1.0f) <= 1e-3f && peakAt <= secondsToSamples(SINGLE_NOTE.attack) + 1,
          std::string(name) + ": peak 1.0 +- 1e-3 within the attack");
    const size_t sustainMiddle =
        static_cast<size_t>(secondsToSamples(SINGLE_NOTE.attack + SINGLE_NOTE.decay + 2.5));
    check(std::fabs(out[sustainMiddle] - static_cast<float>(SINGLE_NOTE.sustain)) <= 1e-3f,
          std::string(name) + ": sustain level reached");
    // Rendering again from idle gives the same note: the timed loop renders one note per call.
    std::vector<float> again(out.size());
    peer.renderNote(again.data());
    check(sameBits(out, again), std::string(name) + ": every rendered note is the same");
}

// Sample accuracy of the event paths: 64-sample blocks give the same bits as 1-sample blocks.
void guardEventPaths() {
    auto render = [](int32_t blockSize, const std::function<std::vector<HostEvent>(int32_t)>& eventsAt) {
        InProcessVoice voice(LONG_SEGMENT, BLOCK);
        std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
        linkEvents(on);
        voice.process(0, on.data());
        std::vector<float> out;
        for (int32_t start = 0; start < 16 * BLOCK; start += blockSize) {
            std::vector<HostEvent> events;
            for (int32_t i = 0; i < blockSize; ++i)
                for (HostEvent event : eventsAt(start + i)) {
                    event.timestamp = i;
                    events.push_back(event);
                }
            linkEvents(events);
            voice.process(blockSize, events.empty() ? nullptr : events.data());
            out.insert(out.end(), voice.output(), voice.output() + blockSize);
        }
        return out;
    };
    auto triggerGate = [](int32_t sample) {
        return sample % BLOCK == BLOCK / 2 ? std::vector<HostEvent>{boolEvent(0, adsr::PIN_TRIGGER, true),
                                                                    boolEvent(0, adsr::PIN_GATE, true)}
                                           : std::vector<HostEvent>{};
    };
    auto eightValues = [](int32_t sample) {
        return sample % 8 == 4 ? std::vector<HostEvent>{boolEvent(0, adsr::PIN_GATE, true)}
                               : std::vector<HostEvent>{};
    };
    check(sameBits(render(BLOCK, triggerGate), render(1, triggerGate)),
          "trigger+gate blocks: 64-sample == 1-sample blocks");
    check(sameBits(render(BLOCK, eightValues), render(1, eightValues)),
          "8 value events: 64-sample == 1-sample blocks");
}

void guardHostNote(const std::vector<float>& inProcess) {
    const struct {
        HostMode mode;
        const char* name;
    } hosts[] = {{HostMode::Pool, "VoicePool honouring sleep"},
                 {HostMode::PoolEveryBlock, "VoicePool calling every block"},
                 {HostMode::SleepingRunner, "SleepingRunner honouring sleep"},
                 {HostMode::LeanSleep, "lean host honouring sleep"}};
    for (const auto& host : hosts) {
        std::vector<float> rendered(inProcess.size());
        HostNote note(host.mode);
        note.render(rendered.data());
        check(sameBits(rendered, inProcess),
              std::string("dlopen'd module, ") + host.name + " == in-process note");
        const BlockCounts counts = note.counts();
        const bool sleeps = counts.called < counts.blocks;
        check(sleeps == (host.mode != HostMode::PoolEveryBlock),
              std::string(host.name) + (sleeps ? ": blocks skipped" : ": no block skipped"));
        note.render(rendered.data());
        check(sameBits(rendered, inProcess), std::string(host.name) + ": a second note is the same");
    }
}

// Voices of the many-voice session, with notes wrapping across the period boundary, over three
// periods: through the pool (honouring sleep or not) every voice gives the same bits as that
// voice alone through the SleepingRunner and the lean host, and a note returns to 0.0.
void guardManyVoices() {
    const std::vector<int64_t> starts = {secondsToSamples(2.5) + 17, 0, 63, secondsToSamples(3.99),
                                         secondsToSamples(1.0) + 64};
    const int64_t periodBlocks = PeriodicVoice::periodBlocks();
    auto renderAlone = [periodBlocks](int64_t start, HostMode mode) {
        PeriodicVoice voice(start, mode);
        std::vector<float> out;
        for (int period = 0; period < 3; ++period)
            for (int64_t block = 0; block < periodBlocks; ++block) {
                if (voice.runBlock(block))
                    out.insert(out.end(), voice.host.output(), voice.host.output() + BLOCK);
                else
                    out.insert(out.end(), BLOCK, voice.host.heldValue());
            }
        return out;
    };
    auto renderPool = [&starts, periodBlocks](bool honourSleep) {
        PoolSession session(starts, honourSleep);
        std::vector<std::vector<float>> out(starts.size());
        for (int period = 0; period < 3; ++period)
            for (int64_t block = 0; block < periodBlocks; ++block) {
                session.runBlock(block);
                for (size_t v = 0; v < starts.size(); ++v) {
                    const float* output = session.pool().output(static_cast<int32_t>(v));
                    out[v].insert(out[v].end(), output, output + BLOCK);
                }
            }
        return out;
    };
    const std::vector<std::vector<float>> pool = renderPool(true);
    const std::vector<std::vector<float>> poolEveryBlock = renderPool(false);
    bool same = true;
    for (size_t v = 0; v < starts.size(); ++v) {
        const std::vector<float> alone = renderAlone(starts[v], HostMode::SleepingRunner);
        same = same && sameBits(pool[v], alone) && sameBits(poolEveryBlock[v], alone) &&
               sameBits(renderAlone(starts[v], HostMode::LeanSleep), alone);
    }
    check(same, "many voices: the same bits through the pool, SleepingRunner and the lean host");
    const std::vector<float>& first = pool[0];
    const auto peak = std::max_element(first.begin(), first.end());
    const size_t sustained = static_cast<size_t>(secondsToSamples(VOICE_PERIOD + 2.5 + 2.0));
    const size_t idle = static_cast<size_t>(secondsToSamples(VOICE_PERIOD + 2.5 + 3.0 + 0.6));
    check(*peak == 1.0f && first[sustained] == static_cast<float>(VOICE_NOTE.sustain) && first[idle] == 0.0f,
          "many voices: peak 1.0, sustain 0.6, back to 0.0");
}

// The cache lines of the instance that `fields` (offsets from its first byte) lie on.
std::set<uintptr_t> linesOf(const adsr::Adsr& module, const std::vector<std::pair<size_t, size_t>>& fields) {
    constexpr uintptr_t LINE = 64;
    const auto start = reinterpret_cast<uintptr_t>(adsr::AdsrTestAccess::start(module));
    std::set<uintptr_t> lines;
    for (const auto& [offset, size] : fields)
        for (uintptr_t byte = start + offset; byte < start + offset + size; ++byte) lines.insert(byte / LINE);
    return lines;
}

// The layout the many-voice figures rest on: the envelope's routine finds the output's buffer
// pointer and the running segment on one line, and with the base's line of routine and block
// position a moving block reads two lines of the instance (block_footprint.py counts the same
// from a memory trace). A field added to the base or the envelope can move them apart.
void guardLayout() {
    InProcessVoice voice(LONG_SEGMENT, CHUNK);
    const adsr::Adsr& module = voice.module();
    const size_t generator = linesOf(module, adsr::AdsrTestAccess::generatorFields(module)).size();
    check(generator == 1,
          "output buffer pointer and running segment on one cache line (" + std::to_string(generator) + ")");
    const size_t block = linesOf(module, adsr::AdsrTestAccess::movingBlockFields(module)).size();
    check(block == 2, "a moving block reads 2 cache lines of the instance (" + std::to_string(block) + ")");
}

void guardMemory(GuardFigures& figures) {
    conformance::startCounting();
    IMpUnknown* created = adsr::createAdsr();
    const conformance::HeapCounts creation = conformance::stopCounting();
    created->release();
    figures.instanceBytes = creation.usableBytes;
    figures.instanceRequestedBytes = creation.requestedBytes;
    figures.instanceAllocations = creation.allocations;
    figures.objectBytes = static_cast<int64_t>(sizeof(adsr::Adsr));
    check(creation.allocations >= 1 && creation.requestedBytes >= figures.objectBytes,
          "instance creation is counted");

    // After creation: attach, bind, events and whole notes allocate nothing.
    InProcessVoice voice(SINGLE_NOTE, BLOCK);
    std::vector<HostEvent> on{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    std::vector<HostEvent> off{boolEvent(5, adsr::PIN_GATE, false)};
    HostEvent graph{};
    graph.type = EV_GRAPH_BEGIN;
    linkEvents(on);
    linkEvents(off);
    HostNote note(HostMode::Pool);
    PoolSession voices(randomStarts(64), true);
    conformance::startCounting();
    voice.process(BLOCK, &graph);
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int64_t block = 0; block < noteSamples(SINGLE_NOTE) / BLOCK; ++block)
            voice.process(BLOCK, block == 0 ? on.data() : (block == 4000 ? off.data() : nullptr));
        note.render(nullptr);
        voices.runPeriod();
    }
    figures.allocationsAfterCreation = conformance::stopCounting().allocations;
    check(figures.allocationsAfterCreation == 0,
          "no allocation after creation (3 notes in process and through the host, 64 voices)");
}

}  // namespace

GuardFigures runGuardsOrExit() {
    GuardFigures figures;
    guardModuleMatchesFloor();
    const std::vector<float> note = renderInProcessNote(SINGLE_NOTE, BLOCK);
    check(sameBits(note, renderInProcessNote(SINGLE_NOTE, 1)), "module note: 64-sample == 1-sample blocks");
    guardNoteAttackMatchesFloor(note);
    guardModuleNote(note);
    guardEventPaths();
    guardHostNote(note);
    guardPeer("JUCE getNextSample", *makeJucePerSample());
    guardPeer("JUCE applyEnvelopeToBuffer", *makeJuceBuffer());
    guardPeer("Faust en.adsre", *makeFaust());
    guardManyVoices();
    guardLayout();
    guardMemory(figures);

    figures.noteMovingSamples = countMovingSamples(note);
    const std::vector<float> voiceNote = renderInProcessNote(VOICE_NOTE, BLOCK);
    figures.voiceMovingSamples = countMovingSamples(voiceNote);
    check(voiceNote.back() == 0.0f, "many-voice note ends at 0.0 within its period");
    std::printf("moving samples: single note %lld of %lld, many-voice note %lld\n",
                static_cast<long long>(figures.noteMovingSamples),
                static_cast<long long>(noteSamples(SINGLE_NOTE)),
                static_cast<long long>(figures.voiceMovingSamples));
    return figures;
}

}  // namespace kvx::bench
