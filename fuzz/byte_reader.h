// SPDX-License-Identifier: MIT
// ByteReader: hands out a fuzzer input as small numbers, one call at a time; an exhausted input
// reads as zeros, so every input, however short, decodes to a complete session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kvx::fuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* bytes, size_t size) : data(bytes), left(size) {}

    bool empty() const { return left == 0; }

    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *data++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    // Four raw bytes as a float: any bit pattern, NaNs and infinities included.
    float rawFloat() {
        const uint32_t bits = u32();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // One entry of `table`, chosen by the next byte.
    template <typename T, size_t N>
    T pick(const T (&table)[N]) {
        return table[byte() % N];
    }

private:
    const uint8_t* data;
    size_t left;
};

}  // namespace kvx::fuzz
