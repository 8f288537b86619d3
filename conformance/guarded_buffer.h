// SPDX-License-Identifier: MIT
// Host buffers with guard zones, and the bit patterns that tell written samples from untouched
// ones: a module must write only inside its output block, never into an input, and every sample
// it owes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kvx::conformance {

// Bit patterns: quiet NaNs with payloads that no arithmetic produces (an operation on NaN
// operands keeps a payload it was given, so a module that copies an input or a held value
// cannot make them by accident either: the host never hands them out).
float unwrittenSample();  // what the host leaves in an output buffer before process
float guardSample();      // fills the guard zones
bool sameBits(float a, float b);

// A float buffer of `capacity` samples between two guard zones of GUARD samples. Every sample
// starts unwritten and every guard sample holds guardSample().
class GuardedBuffer {
public:
    static constexpr size_t GUARD = 64;
    explicit GuardedBuffer(size_t capacity = 0);

    float* data() { return storage.data() + GUARD; }
    const float* data() const { return storage.data() + GUARD; }
    size_t capacity() const { return samples; }

    // Marks the first `count` samples unwritten (all of them by default).
    void poison(size_t count = SIZE_MAX);
    bool written(size_t index) const { return !sameBits(data()[index], unwrittenSample()); }
    // The first written sample before `end`, or `end` if there is none.
    int32_t firstWrittenBefore(int32_t end) const;
    // Writes the guard pattern into both guard zones again.
    void armGuards();

    // The first guard sample that lost its pattern, as an index relative to data(): negative
    // before the buffer, capacity() or more after it.
    std::optional<int64_t> firstGuardHit() const;
    // The first sample from `from` to the end of the capacity that is not unwritten.
    std::optional<int64_t> firstWrittenFrom(size_t from) const;
    // Either of the above for a block of `blockLength` samples: a write outside the block.
    std::optional<int64_t> firstWriteOutside(size_t blockLength) const;

private:
    size_t samples;
    std::vector<float> storage;
};

}  // namespace kvx::conformance
