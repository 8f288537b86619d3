// SPDX-License-Identifier: MIT
// Pin ids of the envelope module "KV ADSR4", in registration order. Hosts address pins by these
// numbers: append only, never renumber.
#pragma once

#include <cstdint>

namespace kvx::adsr {

enum AdsrPin : int32_t {
    PIN_TRIGGER = 0,        // bool in: starts the attack while gate is true
    PIN_GATE = 1,           // bool in: falling to false starts the release
    PIN_ATTACK_TIME = 2,    // audio in: time value, 0 -> 1 ms, 0.5 -> 100 ms, 1 -> 10 s, max 2
    PIN_DECAY_TIME = 3,     // audio in: time value
    PIN_SUSTAIN_LEVEL = 4,  // audio in: decay target and sustain level (1.0 full scale)
    PIN_RELEASE_TIME = 5,   // audio in: time value
    PIN_ATTACK_CURVE = 6,   // audio in: > 0 decelerating, < 0 accelerating, 0 nearly straight
    PIN_DECAY_CURVE = 7,    // audio in
    PIN_RELEASE_CURVE = 8,  // audio in
    PIN_OUTPUT = 9,         // audio out: the envelope
    PIN_RESET = 10,         // float in: 1.0 forces the envelope idle, holding its level
    PIN_COUNT = 11
};

inline constexpr char16_t MODULE_ID[] = u"KV ADSR4";
inline constexpr int32_t MODULE_SUBTYPE = 0;

}  // namespace kvx::adsr
