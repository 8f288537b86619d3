// SPDX-License-Identifier: MIT
// Lookups in a module description and the names of its enumerations.
#include "describe/description.h"

#include "interfaces/pin_codes.h"

namespace kvx::describe {

namespace {

bool sameSymbol(std::string_view described, std::string_view asked) {
    if (described.size() != asked.size()) return false;
    for (size_t i = 0; i < asked.size(); ++i) {
        const char wanted = asked[i] == '-' ? '_' : asked[i];
        if (described[i] != wanted) return false;
    }
    return true;
}

}  // namespace

const PinDescription* ModuleDescription::pinById(int32_t pinId) const {
    for (const PinDescription& pin : pins)
        if (pin.id == pinId) return &pin;
    return nullptr;
}

const PinDescription* ModuleDescription::pinBySymbol(std::string_view wanted) const {
    for (const PinDescription& pin : pins)
        if (sameSymbol(pin.symbol, wanted)) return &pin;
    return nullptr;
}

const PinDescription* ModuleDescription::inputWithRole(Role role) const {
    for (const PinDescription& pin : pins)
        if (pin.isInput() && pin.role == role) return &pin;
    return nullptr;
}

const ModuleDescription* Description::find(std::string_view id, int32_t subtype) const {
    for (const ModuleDescription& module : modules)
        if (module.id == id && module.subtype == subtype) return &module;
    return nullptr;
}

int32_t datatypeCode(Datatype datatype) {
    switch (datatype) {
        case Datatype::Bool:
            return PIN_DATATYPE_BOOL;
        case Datatype::Audio:
            return PIN_DATATYPE_AUDIO;
        case Datatype::Float:
            break;
    }
    return PIN_DATATYPE_FLOAT;
}

int32_t directionCode(Direction direction) {
    return direction == Direction::In ? PIN_DIRECTION_IN : PIN_DIRECTION_OUT;
}

const char* datatypeName(Datatype datatype) {
    switch (datatype) {
        case Datatype::Bool:
            return "bool";
        case Datatype::Audio:
            return "audio";
        case Datatype::Float:
            break;
    }
    return "float";
}

const char* directionName(Direction direction) { return direction == Direction::In ? "in" : "out"; }

const char* roleName(Role role) {
    switch (role) {
        case Role::Signal:
            return "signal";
        case Role::Parameter:
            return "parameter";
        case Role::Trigger:
            return "trigger";
        case Role::Gate:
            return "gate";
        case Role::Reset:
            break;
    }
    return "reset";
}

const char* unitName(Unit unit) {
    switch (unit) {
        case Unit::None:
            return "none";
        case Unit::Seconds:
            return "s";
        case Unit::Milliseconds:
            return "ms";
        case Unit::Hertz:
            return "Hz";
        case Unit::Decibels:
            return "dB";
        case Unit::Percent:
            break;
    }
    return "%";
}

const char* scaleName(Scale scale) { return scale == Scale::Linear ? "linear" : "logarithmic"; }

const char* mappingKindName(Mapping::Kind kind) {
    return kind == Mapping::Kind::Linear ? "linear" : "logarithmic";
}

std::string flagName(std::string_view symbol) {
    std::string name(symbol);
    for (char& c : name)
        if (c == '_') c = '-';
    return name;
}

}  // namespace kvx::describe
