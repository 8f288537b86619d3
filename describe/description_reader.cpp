// SPDX-License-Identifier: MIT
// Description files: JSON through nlohmann::json, checked field by field against the format with
// the JSON path of every mistake (the checks shared with the patch reader: reading/json_checks.h).
#include "describe/description_reader.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "describe/reading/json_checks.h"

namespace kvx::describe {

namespace {

using reading::JsonPath;
using reading::json;

class Reader : public reading::Checks<DescriptionError> {
public:
    using Checks::Checks;

    Mapping mapping(const json& value, const JsonPath& at) const {
        object(value, at, {"kind", "base", "scale", "offset"}, {"kind", "scale", "offset"});
        Mapping result;
        result.kind = choice(value["kind"], at.key("kind"),
                             {Mapping::Kind::Linear, Mapping::Kind::Logarithmic}, mappingKindName);
        if (result.kind == Mapping::Kind::Logarithmic) {
            if (!value.contains("base"))
                fail(at, "missing field \"base\" (2 or 10, for a logarithmic mapping)");
            const json& base = value["base"];
            if (!base.is_number() || (base.get<double>() != 2.0 && base.get<double>() != 10.0))
                fail(at.key("base"), "2 or 10", base);
            result.base = static_cast<int>(base.get<double>());
        } else if (value.contains("base")) {
            fail(at.key("base"), "expected no base for a linear mapping");
        }
        result.scale = number(value["scale"], at.key("scale"));
        if (result.scale == 0.0) fail(at.key("scale"), "a number other than 0", value["scale"]);
        result.offset = number(value["offset"], at.key("offset"));
        return result;
    }

    PinDescription pin(const json& value, const JsonPath& at) const {
        object(value, at,
               {"id", "symbol", "name", "datatype", "direction", "role", "unit", "default", "minimum",
                "maximum", "scale", "mapping"},
               {"id", "symbol", "name", "datatype", "direction", "role"});
        PinDescription pin;
        pin.id =
            static_cast<int32_t>(integer(value["id"], at.key("id"), 0, std::numeric_limits<int32_t>::max()));
        pin.symbol = symbol(value["symbol"], at.key("symbol"));
        pin.name = text(value["name"], at.key("name"), 200, false);
        pin.datatype = choice(value["datatype"], at.key("datatype"),
                              {Datatype::Bool, Datatype::Audio, Datatype::Float}, datatypeName);
        pin.direction =
            choice(value["direction"], at.key("direction"), {Direction::In, Direction::Out}, directionName);
        const JsonPath roleAt = at.key("role");
        switch (pin.datatype) {
            case Datatype::Audio:
                pin.role = choice(value["role"], roleAt, {Role::Signal, Role::Parameter}, roleName);
                break;
            case Datatype::Bool:
            case Datatype::Float:
                pin.role = choice(value["role"], roleAt,
                                  {Role::Parameter, Role::Trigger, Role::Gate, Role::Reset}, roleName);
                break;
        }

        if (pin.datatype == Datatype::Bool) {
            for (const char* key : {"unit", "minimum", "maximum", "scale", "mapping"})
                if (value.contains(key))
                    fail(at.key(key), "expected no " + std::string(key) + " for a bool pin");
        } else {
            if (value.contains("unit"))
                pin.unit = choice(value["unit"], at.key("unit"),
                                  {Unit::None, Unit::Seconds, Unit::Milliseconds, Unit::Hertz, Unit::Decibels,
                                   Unit::Percent},
                                  unitName);
            if (value.contains("minimum")) pin.minimum = number(value["minimum"], at.key("minimum"));
            if (value.contains("maximum")) pin.maximum = number(value["maximum"], at.key("maximum"));
            if (value.contains("scale"))
                pin.scale =
                    choice(value["scale"], at.key("scale"), {Scale::Linear, Scale::Logarithmic}, scaleName);
            if (value.contains("mapping")) pin.mapping = mapping(value["mapping"], at.key("mapping"));
        }
        if (value.contains("default")) {
            const json& given = value["default"];
            if (pin.datatype == Datatype::Bool) {
                if (!given.is_boolean()) fail(at.key("default"), "true or false", given);
                pin.defaultValue = given.get<bool>() ? 1.0 : 0.0;
            } else {
                pin.defaultValue = number(given, at.key("default"));
            }
        }

        const bool settable = pin.isInput() && pin.role == Role::Parameter && pin.datatype != Datatype::Bool;
        if (settable)
            for (const char* key : {"unit", "default", "minimum", "maximum"})
                if (!value.contains(key))
                    fail(at, "missing field \"" + std::string(key) +
                                 "\" (a parameter input has a unit, a minimum, a maximum and a default)");
        if (pin.isInput() && pin.role != Role::Signal && !value.contains("default"))
            fail(at, "missing field \"default\" (an input other than a signal has one)");
        if (!pin.isInput())
            for (const char* key : {"default", "mapping"})
                if (value.contains(key))
                    fail(at.key(key), "expected no " + std::string(key) + " for an output");

        // What the schema cannot say.
        if (pin.minimum && pin.maximum && !(*pin.minimum <= *pin.maximum))
            fail(at.key("maximum"), "a maximum not below the minimum " + json(*pin.minimum).dump(),
                 value["maximum"]);
        if (pin.defaultValue && pin.datatype != Datatype::Bool &&
            ((pin.minimum && *pin.defaultValue < *pin.minimum) ||
             (pin.maximum && *pin.defaultValue > *pin.maximum)))
            fail(at.key("default"), "a default within the minimum and maximum", value["default"]);
        const bool logarithmic = pin.scale == Scale::Logarithmic ||
                                 (pin.mapping && pin.mapping->kind == Mapping::Kind::Logarithmic);
        if (logarithmic) {
            if (!pin.minimum || !(*pin.minimum > 0.0))
                fail(at.key("minimum"), "a positive minimum for a logarithmic pin",
                     value.contains("minimum") ? value["minimum"] : json(nullptr));
            if (pin.defaultValue && !(*pin.defaultValue > 0.0))
                fail(at.key("default"), "a positive default for a logarithmic pin", value["default"]);
        }
        return pin;
    }

    ModuleDescription module(const json& value, const JsonPath& at) const {
        object(value, at, {"id", "subtype", "symbol", "name", "summary", "pins"},
               {"id", "subtype", "symbol", "name", "pins"});
        ModuleDescription module;
        module.id = text(value["id"], at.key("id"), 64, true);
        module.subtype = static_cast<int32_t>(integer(value["subtype"], at.key("subtype"),
                                                      std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
        module.symbol = symbol(value["symbol"], at.key("symbol"));
        module.name = text(value["name"], at.key("name"), 200, false);
        if (value.contains("summary")) {
            const json& summary = value["summary"];
            if (!summary.is_string() || summary.get<std::string>().size() > 1000)
                fail(at.key("summary"), "text of at most 1000 characters", summary);
            module.summary = summary.get<std::string>();
        }
        const JsonPath pinsAt = at.key("pins");
        const json& pins = value["pins"];
        if (!pins.is_array()) fail(pinsAt, "an array of pins", pins);
        for (size_t i = 0; i < pins.size(); ++i) {
            PinDescription pin = this->pin(pins[i], pinsAt.index(i));
            for (size_t j = 0; j < module.pins.size(); ++j) {
                if (module.pins[j].id == pin.id)
                    fail(pinsAt.index(i).key("id"),
                         "an id no other pin has (" + pinsAt.index(j).str() + " has it)", pins[i]["id"]);
                if (module.pins[j].symbol == pin.symbol)
                    fail(pinsAt.index(i).key("symbol"),
                         "a symbol no other pin has (" + pinsAt.index(j).str() + " has it)",
                         pins[i]["symbol"]);
            }
            module.pins.push_back(std::move(pin));
        }
        std::sort(module.pins.begin(), module.pins.end(),
                  [](const PinDescription& a, const PinDescription& b) { return a.id < b.id; });
        return module;
    }

    Description read(const json& root) const {
        const JsonPath at;
        object(root, at, {"$schema", "format", "modules"}, {"format", "modules"});
        if (root.contains("$schema") && !root["$schema"].is_string())
            fail(at.key("$schema"), "a string", root["$schema"]);
        if (!root["format"].is_number() || root["format"].get<double>() != 1.0)
            fail(at.key("format"), "1 (the only format so far)", root["format"]);
        const JsonPath modulesAt = at.key("modules");
        const json& modules = root["modules"];
        if (!modules.is_array() || modules.empty())
            fail(modulesAt, "an array of at least one module", modules);
        Description description;
        description.source = file();
        for (size_t i = 0; i < modules.size(); ++i) {
            ModuleDescription module = this->module(modules[i], modulesAt.index(i));
            for (size_t j = 0; j < description.modules.size(); ++j) {
                const ModuleDescription& other = description.modules[j];
                if (other.id == module.id && other.subtype == module.subtype)
                    fail(modulesAt.index(i), "expected a module id and subtype not described before (" +
                                                 modulesAt.index(j).str() + " is the same module)");
                if (other.symbol == module.symbol)
                    fail(modulesAt.index(i).key("symbol"),
                         "a symbol no other module has (" + modulesAt.index(j).str() + " has it)",
                         modules[i]["symbol"]);
            }
            description.modules.push_back(std::move(module));
        }
        return description;
    }
};

}  // namespace

Description parseDescription(std::string_view text, const std::string& source) {
    const Reader reader(source);
    return reader.read(reader.document(text));
}

Description loadDescription(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw DescriptionError(path + ": cannot read the description");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw DescriptionError(path + ": cannot read the description");
    return parseDescription(text.str(), path);
}

std::string descriptionPathFor(const std::string& libraryPath) { return libraryPath + ".json"; }

std::string chooseDescriptionFile(const std::string& libraryPath, const std::string& given) {
    if (!given.empty()) return given;
    std::error_code error;
    const std::string beside = descriptionPathFor(libraryPath);
    return std::filesystem::is_regular_file(beside, error) ? beside : std::string();
}

}  // namespace kvx::describe
