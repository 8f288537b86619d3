// SPDX-License-Identifier: MIT
// Pin datatype and direction codes as pins report them. Append-only.
#pragma once

#include <cstdint>

namespace kvx {

constexpr int32_t PIN_DATATYPE_BOOL = 4;   // value event: 32-bit integer (nonzero true) or one byte
constexpr int32_t PIN_DATATYPE_AUDIO = 5;  // a float sample buffer bound with bindPinBuffer
constexpr int32_t PIN_DATATYPE_FLOAT = 6;  // value event: 4 bytes, one float

constexpr int32_t PIN_DIRECTION_IN = 0;
constexpr int32_t PIN_DIRECTION_OUT = 1;

}  // namespace kvx
