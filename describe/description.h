// SPDX-License-Identifier: MIT
// A module description (NAME.kvx.json beside NAME.kvx): what the binary contract cannot tell a
// host. Per module its id, subtype and names; per pin what a host binds (id, datatype,
// direction) and what a person sets (unit, range, default, scale, and the mapping from that
// user value to the value the pin receives). The format is schema/kvx-description-1.schema.json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::describe {

enum class Datatype {
    Bool,   // PIN_DATATYPE_BOOL (4)
    Audio,  // PIN_DATATYPE_AUDIO (5)
    Float   // PIN_DATATYPE_FLOAT (6)
};
enum class Direction {
    In,  // PIN_DIRECTION_IN (0)
    Out  // PIN_DIRECTION_OUT (1)
};
// What a pin is for: a signal (audio in or out), a value a person sets, or a note's parts.
enum class Role {
    Signal,
    Parameter,
    Trigger,  // starts something when it becomes true (1)
    Gate,     // true (1) while a note is held
    Reset     // the value true (1) resets the module
};
// Unit of a user value; None is a plain number.
enum class Unit {
    None,
    Seconds,
    Milliseconds,
    Hertz,
    Decibels,
    Percent
};
enum class Scale {
    Linear,
    Logarithmic
};

// From a user value u to the pin value: linear scale * u + offset, logarithmic
// scale * log_base(u) + offset (u > 0); in double precision, then rounded to float.
struct Mapping {
    enum class Kind {
        Linear,
        Logarithmic
    };
    Kind kind = Kind::Linear;
    int base = 10;  // 2 or 10, logarithmic only
    double scale = 1.0;
    double offset = 0.0;
};

struct PinDescription {
    int32_t id = 0;
    std::string symbol;  // a C identifier
    std::string name;
    Datatype datatype = Datatype::Audio;
    Direction direction = Direction::In;
    Role role = Role::Signal;
    Unit unit = Unit::None;
    std::optional<double> defaultValue;  // a user value; false/true are 0 and 1
    std::optional<double> minimum;
    std::optional<double> maximum;
    Scale scale = Scale::Linear;
    std::optional<Mapping> mapping;  // none: the pin receives the user value itself

    bool isInput() const { return direction == Direction::In; }
    bool isAudio() const { return datatype == Datatype::Audio; }
};

struct ModuleDescription {
    std::string id;
    int32_t subtype = 0;
    std::string symbol;
    std::string name;
    std::string summary;
    std::vector<PinDescription> pins;  // as written (kvx keeps them sorted by id)

    const PinDescription* pinById(int32_t id) const;
    // By symbol; a '-' in `symbol` also matches '_' (flags and scores write attack-curve).
    const PinDescription* pinBySymbol(std::string_view symbol) const;
    // The first input pin with `role`, or null.
    const PinDescription* inputWithRole(Role role) const;
};

struct Description {
    std::string source;  // the file it was read from, or a name for a built-in one
    std::vector<ModuleDescription> modules;

    // The module (id, subtype), or null.
    const ModuleDescription* find(std::string_view id, int32_t subtype) const;
};

// Codes of the binary contract (interfaces/pin_codes.h) and the words of the format.
int32_t datatypeCode(Datatype datatype);
int32_t directionCode(Direction direction);
const char* datatypeName(Datatype datatype);
const char* directionName(Direction direction);
const char* roleName(Role role);
const char* unitName(Unit unit);  // "none", "s", "ms", "Hz", "dB", "%"
const char* scaleName(Scale scale);
const char* mappingKindName(Mapping::Kind kind);

// The pin's symbol as flags and scores write it: '_' becomes '-' (attack_curve -> attack-curve).
std::string flagName(std::string_view symbol);

}  // namespace kvx::describe
