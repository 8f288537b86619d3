// SPDX-License-Identifier: MIT
// Result codes returned by every operation that crosses the host boundary (counts excepted).
// Append-only: hosts compare these values.
#pragma once

#include <cstdint>

namespace kvx {

constexpr int32_t RESULT_OK = 0;
constexpr int32_t RESULT_FAIL = -1;         // bad pin id, creator failure, null argument
constexpr int32_t RESULT_UNSUPPORTED = -2;  // unknown interface, unregistered module

}  // namespace kvx
