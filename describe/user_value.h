// SPDX-License-Identifier: MIT
// User values and pin values: what a person sets (in the pin's unit) and what the pin receives,
// through the description's mapping.
#pragma once

#include <string>

#include "describe/description.h"

namespace kvx::describe {

// The pin value for user value `user`: the mapping (or `user` itself) in double precision,
// rounded to the nearest float. A logarithmic mapping of a value <= 0 gives -inf or NaN, like
// the logarithm itself; callers refuse such values first.
float pinValueFor(const PinDescription& pin, double user);

// The user value a pin value stands for: the inverse of the mapping (for showing settings).
double userValueFor(const PinDescription& pin, double pinValue);

// "0.1 s", "-6 dB", "50 %", "0.5": a user value with the pin's unit, 6 significant digits.
std::string formatUserValue(const PinDescription& pin, double user);

}  // namespace kvx::describe
