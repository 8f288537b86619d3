// Host buffers with guard zones, and the bit patterns that tell written samples from untouched
// ones: a module must write only inside its output block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvx::validate {

// A float buffer with guard zones on both sides; every float starts as a known bit pattern.
class GuardedBuffer {
public:
    static constexpr size_t GUARD = 64;
    explicit GuardedBuffer(size_t capacity = 0);
    float* data() { return storage.data() + GUARD; }
    size_t capacity() const { return samples; }
    // Writes the guard pattern into both guard zones.
    void armGuards();
    // The first guard index (negative: before the buffer) that lost its pattern, or 0 if none
    // (index 0 is inside the buffer, so it never names a guard).
    int64_t firstGuardHit() const;

private:
    size_t samples;
    std::vector<float> storage;
};

// Bit patterns: quiet NaNs with payloads a module will not produce by computation.
float unwrittenSample();  // what a host leaves in an output buffer before process
float guardSample();
bool sameBits(float a, float b);

}  // namespace kvx::validate
