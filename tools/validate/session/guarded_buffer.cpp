// Guard zones and sample bit patterns.
#include "tools/validate/session/guarded_buffer.h"

#include <algorithm>
#include <cstring>

namespace kvx::validate {

namespace {
float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
}  // namespace

float unwrittenSample() { return fromBits(0x7FC0DEADu); }
float guardSample() { return fromBits(0x7FC0FEEDu); }
bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

GuardedBuffer::GuardedBuffer(size_t capacity) : samples(capacity), storage(capacity + 2 * GUARD, 0.0f) {
    armGuards();
}

void GuardedBuffer::armGuards() {
    std::fill(storage.begin(), storage.begin() + GUARD, guardSample());
    std::fill(storage.end() - GUARD, storage.end(), guardSample());
}

int64_t GuardedBuffer::firstGuardHit() const {
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[i], guardSample()))
            return static_cast<int64_t>(i) - static_cast<int64_t>(GUARD);
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[GUARD + samples + i], guardSample())) return static_cast<int64_t>(samples + i);
    return 0;
}

}  // namespace kvx::validate
