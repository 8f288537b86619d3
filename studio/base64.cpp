// SPDX-License-Identifier: MIT
// Base64 encoding and decoding.
#include "studio/base64.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

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

std::optional<std::string> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int padding = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int digit = -1;
            if (c >= 'A' && c <= 'Z') digit = c - 'A';
            else if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
            else if (c >= '0' && c <= '9') digit = c - '0' + 52;
            else if (c == '+') digit = 62;
            else if (c == '/') digit = 63;
            // '=' only at the end, in the last one or two places.
            else if (c == '=' && i + 4 == text.size() && k >= 2 && (k == 3 || text[i + 3] == '=')) digit = 0, ++padding;
            if (digit < 0 || (padding > 0 && c != '=')) return std::nullopt;
            group = group << 6 | static_cast<uint32_t>(digit);
        }
        bytes += static_cast<char>(group >> 16);
        if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

std::string base64Floats(const std::vector<float>& samples) {
    static_assert(std::endian::native == std::endian::little, "samples are sent as the machine holds them");
    std::string bytes(samples.size() * sizeof(float), '\0');
    if (!samples.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return base64(bytes);
}

}  // namespace kvx::studio
