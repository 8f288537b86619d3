// SPDX-License-Identifier: MIT
// The mapping between user values and pin values.
#include "describe/user_value.h"

#include <cmath>
#include <cstdio>

namespace kvx::describe {

float pinValueFor(const PinDescription& pin, double user) {
    if (!pin.mapping) return static_cast<float>(user);
    const Mapping& mapping = *pin.mapping;
    if (mapping.kind == Mapping::Kind::Linear)
        return static_cast<float>(mapping.scale * user + mapping.offset);
    const double logarithm = mapping.base == 2 ? std::log2(user) : std::log10(user);
    return static_cast<float>(mapping.scale * logarithm + mapping.offset);
}

double userValueFor(const PinDescription& pin, double pinValue) {
    if (!pin.mapping) return pinValue;
    const Mapping& mapping = *pin.mapping;
    const double inner = (pinValue - mapping.offset) / mapping.scale;
    if (mapping.kind == Mapping::Kind::Linear) return inner;
    return std::pow(static_cast<double>(mapping.base), inner);
}

std::string formatUserValue(const PinDescription& pin, double user) {
    char text[64];
    if (pin.unit == Unit::None)
        std::snprintf(text, sizeof text, "%.6g", user);
    else
        std::snprintf(text, sizeof text, "%.6g %s", user, unitName(pin.unit));
    return text;
}

}  // namespace kvx::describe
