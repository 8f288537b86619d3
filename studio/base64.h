// SPDX-License-Identifier: MIT
// Base64 (RFC 4648, with padding): the render's samples as the page receives them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvx::studio {

std::string base64(std::string_view bytes);
// Little-endian float32, four bytes a sample, exactly as computed.
std::string base64Floats(const std::vector<float>& samples);

}  // namespace kvx::studio
