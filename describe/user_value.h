// SPDX-License-Identifier: MIT
// User values and pin values: what a person sets (in the pin's unit) and what the pin receives,
// through the description's mapping.
#pragma once

#include <string>
#include <string_view>

#include "describe/description.h"

namespace kvx::describe {

// The pin value for user value `user`: the mapping (or `user` itself) in double precision,
// rounded to the nearest float. A logarithmic mapping of a value <= 0 gives -inf or NaN, like
// the logarithm itself; callers refuse such values first.
float pinValueFor(const PinDescription& pin, double user);

// The user value a pin value stands for: the inverse of the mapping (for showing settings).
double userValueFor(const PinDescription& pin, double pinValue);

// A user value as a file writes it for `pin`: a number in the pin's own unit, or followed by a unit
// it converts from (s or ms for a time, dB for a level, Hz or kHz for a frequency, % for a
// percentage), blanks allowed around it: "5ms" is 0.005 for a pin in s. A bool pin takes true/false,
// on/off or yes/no (1 and 0). False when `text` is none of these; the range is the caller's to check.
bool parseUserValue(std::string_view text, const PinDescription& pin, double& user);

// What parseUserValue takes for `pin`, for messages: "a duration such as 5ms or 1.2s".
std::string userValueExamples(const PinDescription& pin);

// "0.1 s", "-6 dB", "50 %", "0.5": a user value with the pin's unit, 6 significant digits.
std::string formatUserValue(const PinDescription& pin, double user);

}  // namespace kvx::describe
