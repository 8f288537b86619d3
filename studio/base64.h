// SPDX-License-Identifier: MIT
// Base64 (RFC 4648, with padding): the render's samples as the page receives them, and a MIDI
// file as the page sends it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::studio {

std::string base64(std::string_view bytes);
// The bytes `text` encodes; none when it is not padded Base64.
std::optional<std::string> fromBase64(std::string_view text);
// Little-endian float32, four bytes a sample, exactly as computed.
std::string base64Floats(const std::vector<float>& samples);

}  // namespace kvx::studio
