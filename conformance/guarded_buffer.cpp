// SPDX-License-Identifier: MIT
// Guard zones and sample bit patterns.
#include "conformance/guarded_buffer.h"

#include <algorithm>
#include <cstring>

namespace kvx::conformance {

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

GuardedBuffer::GuardedBuffer(size_t capacity)
    : samples(capacity), storage(capacity + 2 * GUARD, unwrittenSample()) {
    armGuards();
}

void GuardedBuffer::poison(size_t count) { std::fill_n(data(), std::min(count, samples), unwrittenSample()); }

void GuardedBuffer::armGuards() {
    std::fill(storage.begin(), storage.begin() + GUARD, guardSample());
    std::fill(storage.end() - GUARD, storage.end(), guardSample());
}

std::optional<int64_t> GuardedBuffer::firstGuardHit() const {
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[i], guardSample()))
            return static_cast<int64_t>(i) - static_cast<int64_t>(GUARD);
    for (size_t i = 0; i < GUARD; ++i)
        if (!sameBits(storage[GUARD + samples + i], guardSample())) return static_cast<int64_t>(samples + i);
    return std::nullopt;
}

int32_t GuardedBuffer::firstWrittenBefore(int32_t end) const {
    int32_t i = 0;
    while (i < end && !written(static_cast<size_t>(i))) ++i;
    return i;
}

std::optional<int64_t> GuardedBuffer::firstWrittenFrom(size_t from) const {
    for (size_t i = from; i < samples; ++i)
        if (written(i)) return static_cast<int64_t>(i);
    return std::nullopt;
}

std::optional<int64_t> GuardedBuffer::firstWriteOutside(size_t blockLength) const {
    const std::optional<int64_t> guard = firstGuardHit();
    if (guard && *guard < 0) return guard;
    const std::optional<int64_t> past = firstWrittenFrom(blockLength);
    return past ? past : guard;
}

}  // namespace kvx::conformance
