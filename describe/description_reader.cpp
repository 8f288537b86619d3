// SPDX-License-Identifier: MIT
// Description files: JSON through nlohmann::json, checked field by field against the format with
// the JSON path of every mistake.
#include "describe/description_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace kvx::describe {

namespace {

using nlohmann::json;

// "$.modules[0].pins[3]": where a value sits in the document.
class JsonPath {
public:
    JsonPath() = default;
    JsonPath key(const std::string& name) const {
        JsonPath next(*this);
        bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
        for (char c : name)
            plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$');
        next.text += plain ? "." + name : "[" + json(name).dump() + "]";
        return next;
    }
    JsonPath index(size_t i) const {
        JsonPath next(*this);
        next.text += "[" + std::to_string(i) + "]";
        return next;
    }
    const std::string& str() const { return text; }

private:
    std::string text = "$";
};

// Follows a parse to the place where it fails, for the JSON path of a syntax error.
class PathTracker : public nlohmann::json_sax<json> {
public:
    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(false); }
    bool key(string_t& name) override {
        frames.back().key = name;
        frames.back().keyed = true;
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    JsonPath path() const {
        JsonPath at;
        for (const Frame& frame : frames) {
            if (frame.array && frame.count > 0) at = at.index(frame.count - 1);
            if (!frame.array && frame.keyed) at = at.key(frame.key);
        }
        return at;
    }

private:
    struct Frame {
        bool array = false;
        size_t count = 0;  // elements started so far (arrays)
        bool keyed = false;
        std::string key;
    };
    // A value starts: the next element of an array.
    void starts() {
        if (!frames.empty() && frames.back().array) ++frames.back().count;
    }
    // A value is complete: in an object, a mistake after it is the object's, not the key's.
    void ends() {
        if (!frames.empty() && !frames.back().array) frames.back().keyed = false;
    }
    bool value() {
        starts();
        ends();
        return true;
    }
    bool open(bool array) {
        starts();
        frames.push_back(Frame{array, 0, false, {}});
        return true;
    }
    bool close() {
        frames.pop_back();
        ends();
        return true;
    }
    std::vector<Frame> frames;
};

// Line and column (1-based, a tab one column) of byte `offset`, the character the parser stopped at.
std::string position(std::string_view text, size_t offset) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string shown(const json& value) {
    std::string text = value.dump();
    return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

bool isSymbol(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    if (!(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

class Reader {
public:
    explicit Reader(std::string sourceName) : source(std::move(sourceName)) {}

    [[noreturn]] void fail(const JsonPath& at, const std::string& expected, const json& got) const {
        throw DescriptionError(source + ": " + at.str() + ": expected " + expected + ", got " + shown(got));
    }
    [[noreturn]] void fail(const JsonPath& at, const std::string& message) const {
        throw DescriptionError(source + ": " + at.str() + ": " + message);
    }

    void object(const json& value, const JsonPath& at, std::initializer_list<const char*> allowed,
                std::initializer_list<const char*> required) const {
        if (!value.is_object()) fail(at, "an object", value);
        for (const auto& item : value.items()) {
            const std::string& key = item.key();
            if (std::find_if(allowed.begin(), allowed.end(), [&](const char* k) { return key == k; }) ==
                allowed.end()) {
                std::string names;
                for (const char* k : allowed) names += (names.empty() ? "" : ", ") + std::string(k);
                fail(at.key(key), "unknown field \"" + key + "\" (expected " + names + ")");
            }
        }
        for (const char* key : required)
            if (!value.contains(key)) fail(at, "missing field \"" + std::string(key) + "\"");
    }

    int64_t integer(const json& value, const JsonPath& at, int64_t low, int64_t high) const {
        const std::string expected =
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        if (!value.is_number()) fail(at, expected, value);
        const double number = value.get<double>();
        if (value.is_number_float() && number != std::floor(number)) fail(at, expected, value);
        if (number < static_cast<double>(low) || number > static_cast<double>(high))
            fail(at, expected, value);
        if (value.is_number_unsigned()) return static_cast<int64_t>(value.get<uint64_t>());
        if (value.is_number_integer()) return value.get<int64_t>();
        return static_cast<int64_t>(number);
    }

    double number(const json& value, const JsonPath& at) const {
        // A literal beyond the range of a double reads as infinity: no use for a pin.
        if (!value.is_number() || !std::isfinite(value.get<double>())) fail(at, "a finite number", value);
        return value.get<double>();
    }

    std::string text(const json& value, const JsonPath& at, size_t longest, bool printableAscii) const {
        const std::string expected =
            printableAscii
                ? "printable ASCII text of 1 to " + std::to_string(longest) + " characters"
                : "text of 1 to " + std::to_string(longest) + " characters without control characters";
        if (!value.is_string()) fail(at, expected, value);
        const std::string result = value.get<std::string>();
        size_t characters = 0;
        for (unsigned char c : result) {
            if ((c & 0xC0) != 0x80) ++characters;  // UTF-8 lead bytes: one character each
            if (c < 0x20 || (printableAscii && c > 0x7E)) fail(at, expected, value);
        }
        if (characters == 0 || characters > longest) fail(at, expected, value);
        return result;
    }

    std::string symbol(const json& value, const JsonPath& at) const {
        if (!value.is_string() || !isSymbol(value.get<std::string>()))
            fail(at, "a symbol: a C identifier of at most 64 characters ([A-Za-z_][A-Za-z0-9_]*)", value);
        return value.get<std::string>();
    }

    // One of `choices`, spelt as `name` spells it (the same words the tools print).
    template <typename Enum>
    Enum choice(const json& value, const JsonPath& at, std::initializer_list<Enum> choices,
                const char* (*name)(Enum)) const {
        if (value.is_string())
            for (const Enum meaning : choices)
                if (value.get<std::string>() == name(meaning)) return meaning;
        std::string words;
        for (const Enum meaning : choices) words += (words.empty() ? "" : ", ") + json(name(meaning)).dump();
        fail(at, "one of " + words, value);
    }

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
        description.source = source;
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

private:
    std::string source;
};

}  // namespace

Description parseDescription(std::string_view text, const std::string& source) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& error) {
        // A syntax error (parse_error), or a number beyond the range of a double (out_of_range).
        PathTracker tracker;
        json::sax_parse(text, &tracker);
        std::string message = error.what();
        std::string where = tracker.path().str();
        if (const auto* syntax = dynamic_cast<const json::parse_error*>(&error)) {
            // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
            // without the tag and the position, which come first in our words.
            const size_t colon = message.find(": ");
            if (colon != std::string::npos) message = message.substr(colon + 2);
            where += " (" + position(text, syntax->byte) + ")";
        } else {
            const size_t tagEnd = message.find("] ");
            if (tagEnd != std::string::npos) message = message.substr(tagEnd + 2);
        }
        throw DescriptionError(source + ": " + where + ": malformed JSON: " + message);
    }
    return Reader(source).read(root);
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
