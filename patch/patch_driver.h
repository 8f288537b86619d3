// SPDX-License-Identifier: MIT
// PatchDriver: notes and control settings played on a host::Patch, the one rule every host of
// ours follows (kvx render of a patch, the LV2 bridge), so that the same notes give the same
// samples in each. At a note's frame, gate pins become true, trigger pins true, pitch pins the
// key's 12-tone frequency from A4 (key 69) = 440 Hz moved by the pitch bend, velocity pins the
// velocity / 127, each through the pin's mapping. The latest note on sounds; the off of a note
// that no longer sounds changes nothing. A control's user value reaches each of its pins through
// that pin's mapping. A value pin gets an event; an audio pin steps at that frame and streams for
// that one frame (stream begin there, stream end at the next frame, joined with a stream still
// open), and holds the value from then on, so the patch may sleep again at once.
// After construction nothing allocates: a block's events live in storage reserved up front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/patch.h"
#include "patch/patch_file.h"

namespace kvx::patch {

inline constexpr int32_t DEFAULT_KEY = 69;        // A4, 440 Hz
inline constexpr int32_t DEFAULT_VELOCITY = 127;  // 1 on a velocity pin

// What a control's `user` value gives one of its pins: a bool pin true above 0.5, any other the
// value through the pin's mapping. Allocates nothing.
float controlPinValue(const describe::PinDescription& pin, double user);

class PatchDriver {
public:
    // Room for `eventCapacity` events a block; allocates. Throws PatchError (via the file's
    // names) for a note or control pin the patch does not bind.
    PatchDriver(const PatchFile& file, int32_t eventCapacity);

    // Room for `eventCapacity` events a block instead; allocates.
    void reserve(int32_t eventCapacity);

    // Starts over on `engine` (before its first block): every pin at the patch's own value, no
    // note sounding, no bend. The engine must outlive the driver's use of it.
    void bind(host::Patch& engine) noexcept;
    // Before the first block: `control` (an index into PatchFile::controls) holds `user` from the
    // start, as if the patch had said so: no event, nothing streams.
    void holdControl(size_t control, double user) noexcept;

    // A block starting `position` samples into the run; frames below are of this block, in
    // non-decreasing order across calls.
    void beginBlock(int64_t position) noexcept;
    void setControl(int32_t frame, size_t control, double user) noexcept;
    // `note` names the note for its off (the bridge: channel and key; a score: its index).
    // `key` 0..127, `velocity` 1..127.
    void noteOn(int32_t frame, int32_t note, int32_t key, int32_t velocity) noexcept;
    void noteOff(int32_t frame, int32_t note) noexcept;
    void allNotesOff(int32_t frame) noexcept;
    // -1 (a full bend down, `bendRange` semitones) to 1; moves the latest note, held or released.
    void pitchBend(int32_t frame, double bend) noexcept;
    // An event of the host's own (stream begin of an input it feeds).
    void add(const host::PatchEvent& event) noexcept;
    // The events of the block, now known to be `length` samples long, with the stream ends due
    // in it, in delivery order (host/event_order.h; at one frame notes keep the order they were
    // played in). Valid until beginBlock.
    std::span<const host::PatchEvent> endBlock(int32_t length) noexcept;

    // Events left in this block; the most one call above may add; the most endBlock may add.
    int32_t room() const noexcept { return static_cast<int32_t>(events.size()) - count; }
    int32_t mostPerCall() const noexcept { return perCall; }
    int32_t mostStreamEnds() const noexcept { return static_cast<int32_t>(driven.size()); }

private:
    struct DrivenPin {
        PinRef ref;
        const describe::PinDescription* described;
        float initial;
        float* buffer = nullptr;  // audio pins: the engine's buffer
        float value = 0.0f;
        int64_t streamEnd = -1;  // audio pins: where the one-frame stream of a change ends
        bool refill = false;     // audio pins: the buffer holds a change part-way through
    };

    size_t drivenPin(const PinRef& ref);
    void set(DrivenPin& pin, int32_t frame, float value, host::EventRank rank) noexcept;
    void setPitch(int32_t frame) noexcept;
    void push(int32_t frame, const PinRef& ref, int32_t type, float value, host::EventRank rank) noexcept;

    const PatchFile& file;
    host::Patch* engine = nullptr;
    std::vector<DrivenPin> driven;
    std::vector<std::vector<size_t>> controlPins;  // per control, into driven
    std::vector<size_t> pitchPins, velocityPins;   // into driven
    std::vector<host::PatchEvent> events;
    int32_t count = 0;
    int32_t perCall = 0;
    int64_t position = 0;
    int32_t sounding = -1;  // the note that holds the gate, or -1
    int32_t lastKey = -1;   // the latest note on's key, for the pitch
    double bend = 0.0;
};

}  // namespace kvx::patch
