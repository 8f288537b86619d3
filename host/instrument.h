// SPDX-License-Identifier: MIT
// Instrument: a patch played polyphonically. Each voice is one host::Patch of the patch's
// modules; notes reach their voices at their own sample, and the instrument's outputs are the
// sum of the voices' outputs, voice 0 first and then in ascending voice order at every sample,
// so that the same notes give the same bits at any block size. A voice is free once its note
// has ended and every output of the voice has been declared constant at 0 since; a free voice is
// not called, and an instrument without notes costs a check per block.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "host/instrument_notes.h"
#include "host/note_event.h"
#include "host/patch.h"
#include "host/patch_graph.h"
#include "host/voice_allocation.h"

namespace kvx::host {

struct InstrumentLimits {
    int32_t eventsPerBlock = 512;  // note events one runBlock accepts
};

struct InstrumentStats {
    int64_t blocks = 0;     // runBlock calls
    int64_t voiceRuns = 0;  // a voice's Patch::runBlock calls (a block is cut at every note start)
    int64_t steals = 0;     // notes that took a sounding voice of another key
};

class Instrument {
public:
    // Builds `voices` voices of `graph`, each with blocks up to `maxBlock`. Throws HostError for
    // what Patch throws, for no voices, and for a note pin that is not a bool input (gate,
    // triggers) or neither an unconnected audio input nor a float input (pitch, velocity).
    Instrument(const PatchGraph& graph, InstrumentNotes notes, int32_t voices, float sampleRate,
               int32_t maxBlock, const InstrumentLimits& limits = {});
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Runs one block: `events` in non-decreasing timestamp order, each at its sample; events at
    // one sample act in their order. The block is cut at every note start, so that the choice
    // of a voice sees every voice as it is at that sample. Throws HostError before anything
    // runs for a count below 0 or above maxBlock, events outside the block, out of order, too
    // many or with a key above 127. Allocates nothing, takes no lock, makes no system call.
    void runBlock(int32_t sampleCount, std::span<const NoteEvent> events = {}) {
        if (resting && events.empty() && sampleCount >= 0 && sampleCount <= maxBlock) {
            ++counters.blocks;  // every voice free, the outputs 0 already
            blockStart += sampleCount;
            subStart = blockStart;
            return;
        }
        runAll(sampleCount, events);
    }

    // Before the first block: input `pin` of module `module` starts at `value` on every voice
    // (host::Patch::setStartValue), a control's setting a host learns before it runs. false (and
    // nothing changed) once a block has run or for a pin the patch does not drive.
    bool setStartValue(int32_t module, int32_t pin, float value) noexcept;

    // Instrument output `index` (the patch's outputs) for the last block.
    const float* output(size_t index) const noexcept;
    size_t outputCount() const noexcept { return outputs; }
    int32_t voiceCount() const noexcept { return allocation.size(); }
    const VoiceState& voice(int32_t index) const noexcept { return allocation[index]; }
    const Patch& voicePatch(int32_t index) const noexcept;
    // process() calls over every module of every voice.
    int64_t moduleCalls() const noexcept;
    const InstrumentStats& stats() const noexcept { return counters; }

    struct Voice;

private:
    struct Target;
    void runAll(int32_t sampleCount, std::span<const NoteEvent> events);
    void checkEvents(int32_t sampleCount, std::span<const NoteEvent> events) const;
    void handle(const NoteEvent& event, int64_t time) noexcept;
    void noteOn(const NoteEvent& event, int64_t time) noexcept;
    void endNote(int32_t voice, int64_t time) noexcept;
    void endAllNotes(int64_t time) noexcept;
    void muteAll(int64_t time) noexcept;
    void bendAll(int64_t time) noexcept;
    void setPitch(int32_t voice, int64_t time) noexcept;
    void setControl(int32_t control, float value, int64_t time) noexcept;
    // Runs every voice that is not free from `subStart` to `end` and adds it to the outputs.
    void runVoices(int64_t end) noexcept;
    void runVoice(int32_t voice, int32_t count) noexcept;

    InstrumentNotes notes;
    std::vector<Target> targets;  // the pitch pins, the velocity pins, then the controls
    std::vector<std::unique_ptr<Voice>> voices;
    VoiceAllocation allocation;
    std::unique_ptr<float[]> mixArena;
    std::vector<float*> mix;  // per output, maxBlock samples
    size_t outputs = 0;
    int32_t maxBlock = 0;
    int32_t eventsPerBlock = 0;
    int32_t dirty = 0;       // leading samples of the outputs that may not be 0
    int64_t blockStart = 0;  // the instrument's sample at the start of this block
    int64_t subStart = 0;    // the first sample not yet run
    bool resting = true;     // every voice free and the outputs 0: a block without events does nothing
    bool pedalDown = false;
    double bend = 0.0;  // -1..1
    InstrumentStats counters;
};

}  // namespace kvx::host
