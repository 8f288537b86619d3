// The envelope's seven parameter inputs as `kvx render` names them (flags, score fields, CSV
// and plot titles), with the pin each one drives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modules/adsr/adsr_pins.h"
#include "tools/render/units.h"

namespace kvx::render {

struct ParameterInfo {
    std::string_view name;  // flag (--name) and score field
    int32_t pin;
    ParameterKind kind;
};

inline constexpr std::array<ParameterInfo, 7> PARAMETERS{{
    {"attack", adsr::PIN_ATTACK_TIME, ParameterKind::Time},
    {"decay", adsr::PIN_DECAY_TIME, ParameterKind::Time},
    {"sustain", adsr::PIN_SUSTAIN_LEVEL, ParameterKind::Level},
    {"release", adsr::PIN_RELEASE_TIME, ParameterKind::Time},
    {"attack-curve", adsr::PIN_ATTACK_CURVE, ParameterKind::Curve},
    {"decay-curve", adsr::PIN_DECAY_CURVE, ParameterKind::Curve},
    {"release-curve", adsr::PIN_RELEASE_CURVE, ParameterKind::Curve},
}};
inline constexpr size_t PARAMETER_COUNT = PARAMETERS.size();

// Index into PARAMETERS, or PARAMETER_COUNT when `name` is none of them.
inline size_t parameterIndex(std::string_view name) {
    for (size_t i = 0; i < PARAMETER_COUNT; ++i)
        if (PARAMETERS[i].name == name) return i;
    return PARAMETER_COUNT;
}

}  // namespace kvx::render
