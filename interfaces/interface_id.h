// SPDX-License-Identifier: MIT
// 128-bit interface identifier in the standard GUID memory layout, compared byte for byte.
#pragma once

#include <cstdint>
#include <cstring>

namespace kvx {

struct MpGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(MpGuid) == 16, "an interface identifier is 16 bytes");

// Two identifiers are equal when all 16 bytes are equal.
inline bool sameGuid(const MpGuid& a, const MpGuid& b) noexcept {
    return std::memcmp(&a, &b, sizeof(MpGuid)) == 0;
}

}  // namespace kvx
