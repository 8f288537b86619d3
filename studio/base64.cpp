// SPDX-License-Identifier: MIT
// Base64 encoding.
#include "studio/base64.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace kvx::studio {

std::string base64(std::string_view bytes) {
    static constexpr char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                               static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                               static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) text += DIGITS[(group >> shift) & 63];
    }
    if (i < bytes.size()) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        text += DIGITS[(group >> 18) & 63];
        text += DIGITS[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? DIGITS[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::string base64Floats(const std::vector<float>& samples) {
    static_assert(std::endian::native == std::endian::little, "samples are sent as the machine holds them");
    std::string bytes(samples.size() * sizeof(float), '\0');
    if (!samples.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return base64(bytes);
}

}  // namespace kvx::studio
