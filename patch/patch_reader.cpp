// SPDX-License-Identifier: MIT
// Patch files: the JSON checked field by field (the checks shared with the description reader),
// every module resolved through the ModuleSource, every pin reference resolved against the
// module's description, and the result assembled into a PatchFile.
#include "patch/patch_reader.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "describe/reading/json_checks.h"
#include "describe/user_value.h"

namespace kvx::patch {

namespace {

using describe::Datatype;
using describe::Direction;
using describe::PinDescription;
using describe::reading::json;
using describe::reading::JsonPath;

constexpr const char* PATCH_SUFFIX = ".kvxpatch.json";
constexpr int64_t MOST_VOICES = 128;
constexpr double MOST_BEND_SEMITONES = 48.0;

// What a reference to a pin must name, and the words for it in a message.
struct Wanted {
    Direction direction;
    bool boolPin, audioPin, floatPin;
    const char* rule;   // "a connection ends at an audio input"
    const char* which;  // "audio inputs": the module's pins that would do
};
constexpr Wanted CONNECTION_FROM{Direction::Out, false, true,  false,
                                 "a connection starts at an audio output", "audio outputs"};
constexpr Wanted CONNECTION_TO{Direction::In, false, true, false, "a connection ends at an audio input", "audio inputs"};
constexpr Wanted OUTPUT_FROM{Direction::Out, false, true, false, "a patch output is an audio output", "audio outputs"};
constexpr Wanted CONTROL_PIN{Direction::In, true, true, true, "a control sets an input", "inputs"};
constexpr Wanted NOTE_SWITCH{Direction::In, true, false, false, "a note's gate and trigger drive bool inputs",
                             "bool inputs"};
constexpr Wanted NOTE_NUMBER{Direction::In, false, true, true,
                             "a note's pitch and velocity drive audio or float inputs", "audio and float inputs"};

bool accepts(const Wanted& wanted, const PinDescription& pin) {
    if (pin.direction != wanted.direction) return false;
    switch (pin.datatype) {
        case Datatype::Bool:
            return wanted.boolPin;
        case Datatype::Audio:
            return wanted.audioPin;
        case Datatype::Float:
            return wanted.floatPin;
    }
    return false;
}

// "a bool input", "an audio output".
std::string kindOf(const PinDescription& pin) {
    return std::string(pin.datatype == Datatype::Audio ? "an " : "a ") + describe::datatypeName(pin.datatype) +
           (pin.isInput() ? " input" : " output");
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

host::PatchPinKind patchPinKind(const PinDescription& pin) {
    if (!pin.isInput()) return host::PatchPinKind::AudioOut;
    switch (pin.datatype) {
        case Datatype::Bool:
            return host::PatchPinKind::BoolIn;
        case Datatype::Float:
            return host::PatchPinKind::FloatIn;
        case Datatype::Audio:
            break;
    }
    return host::PatchPinKind::AudioIn;
}

// What drives an input already, for the message when something else wants it too.
struct Driver {
    enum class Kind {
        Connection,
        Value,
        Control,
        Note
    };
    Kind kind;
    std::string path;
    std::string words;  // "a connection", "control 'attack'", "the notes' gate"
    float pinValue = 0.0f;  // what a value or control sets the pin to
};

class Reader : public describe::reading::Checks<PatchError> {
public:
    Reader(const std::string& source, ModuleSource& modules)
        : Checks(source), catalog(modules), folder(std::filesystem::path(source).parent_path()) {}

    PatchFile read(const json& root) {
        const JsonPath at;
        object(root, at,
               {"$schema", "format", "name", "voices", "modules", "connections", "outputs", "controls", "notes",
                "presets"},
               {"format", "modules", "outputs"});
        if (root.contains("$schema") && !root["$schema"].is_string())
            fail(at.key("$schema"), "a string", root["$schema"]);
        if (!root["format"].is_number() || root["format"].get<double>() != 1.0)
            fail(at.key("format"), "1 (the only format so far)", root["format"]);
        patch.graph.source = file();
        patch.name = root.contains("name") ? text(root["name"], at.key("name"), 200, false) : nameFromFile();
        if (root.contains("voices"))
            patch.voices = static_cast<int32_t>(integer(root["voices"], at.key("voices"), 1, MOST_VOICES));

        const json& modules = root["modules"];
        if (!modules.is_array() || modules.empty())
            fail(at.key("modules"), "an array of at least one module", modules);
        for (size_t i = 0; i < modules.size(); ++i) module(modules[i], at.key("modules").index(i));

        // Connections first: they say which inputs values and controls may not set.
        if (root.contains("connections")) {
            const json& connections = root["connections"];
            if (!connections.is_array()) fail(at.key("connections"), "an array of connections", connections);
            for (size_t i = 0; i < connections.size(); ++i)
                connection(connections[i], at.key("connections").index(i));
        }
        for (size_t i = 0; i < modules.size(); ++i)
            if (modules[i].contains("values"))
                values(static_cast<int32_t>(i), modules[i]["values"], at.key("modules").index(i).key("values"));
        if (root.contains("controls")) {
            const json& controls = root["controls"];
            if (!controls.is_array()) fail(at.key("controls"), "an array of controls", controls);
            for (size_t i = 0; i < controls.size(); ++i) control(controls[i], at.key("controls").index(i));
        }
        if (root.contains("notes")) notes(root["notes"], at.key("notes"));

        const json& outputs = root["outputs"];
        if (!outputs.is_array() || outputs.empty())
            fail(at.key("outputs"), "an array of at least one output", outputs);
        for (size_t i = 0; i < outputs.size(); ++i) output(outputs[i], at.key("outputs").index(i));

        if (root.contains("presets")) {
            const json& presets = root["presets"];
            if (!presets.is_array()) fail(at.key("presets"), "an array of presets", presets);
            for (size_t i = 0; i < presets.size(); ++i) preset(presets[i], at.key("presets").index(i));
        }

        refuseLoops(at.key("connections"));
        assemblePins();
        return std::move(patch);
    }

private:
    std::string nameFromFile() const {
        std::string name = std::filesystem::path(file()).filename().string();
        if (name.size() > std::string_view(PATCH_SUFFIX).size() && name.ends_with(PATCH_SUFFIX))
            name.resize(name.size() - std::string_view(PATCH_SUFFIX).size());
        return name;
    }

    // --- modules ---------------------------------------------------------------------------

    void module(const json& value, const JsonPath& at) {
        object(value, at, {"name", "module", "library", "id", "subtype", "values"}, {"name"});
        host::PatchModule instance;
        instance.name = symbol(value["name"], at.key("name"));
        for (size_t j = 0; j < patch.graph.modules.size(); ++j)
            if (patch.graph.modules[j].name == instance.name)
                fail(at.key("name"), "a name no other module has ($.modules[" + std::to_string(j) + "] has it)",
                     value["name"]);
        if (value.contains("module") == value.contains("library"))
            fail(at, "expected \"module\" (a symbol along the module path) or \"library\" (a file), one of them");
        ModuleInfo info;
        if (value.contains("module")) {
            for (const char* key : {"id", "subtype"})
                if (value.contains(key))
                    fail(at.key(key), "expected no " + std::string(key) +
                                          " with \"module\" (the module path says which module it is)");
            const JsonPath moduleAt = at.key("module");
            if (!value["module"].is_string()) fail(moduleAt, "a module's symbol or id", value["module"]);
            const std::string name = value["module"].get<std::string>();
            const describe::FoundModule* found = catalog.find(name);
            if (found == nullptr)
                fail(moduleAt, "no module '" + name + "' along the module path (found: " +
                                   joined(catalog.symbols()) + ")");
            instance.libraryPath = found->library;
            info.description = found->module;
            info.descriptionSource = found->description;
        } else {
            const JsonPath libraryAt = at.key("library");
            const std::string given = text(value["library"], libraryAt, 4096, false);
            const std::filesystem::path path = std::filesystem::path(given).is_absolute() || folder.empty()
                                                   ? std::filesystem::path(given)
                                                   : (folder / given).lexically_normal();
            instance.libraryPath = path.string();
            describe::Description description;
            try {
                description = catalog.describeLibrary(instance.libraryPath);
            } catch (const ModuleSourceError& problem) {
                fail(libraryAt, problem.what());
            }
            info.descriptionSource = description.source;
            info.description = chooseModule(value, at, description);
        }
        instance.id.assign(info.description.id.begin(), info.description.id.end());
        instance.subtype = info.description.subtype;
        patch.graph.modules.push_back(std::move(instance));
        patch.modules.push_back(std::move(info));
    }

    describe::ModuleDescription chooseModule(const json& value, const JsonPath& at,
                                             const describe::Description& description) const {
        if (!value.contains("id")) {
            if (value.contains("subtype")) fail(at.key("subtype"), "expected no subtype without an id");
            if (description.modules.size() != 1)
                fail(at, description.source + " describes " + std::to_string(description.modules.size()) +
                             " modules: name one with \"id\" (and \"subtype\")");
            return description.modules.front();
        }
        const std::string id = text(value["id"], at.key("id"), 64, true);
        const int32_t subtype =
            value.contains("subtype")
                ? static_cast<int32_t>(integer(value["subtype"], at.key("subtype"), INT32_MIN, INT32_MAX))
                : 0;
        if (const describe::ModuleDescription* module = description.find(id, subtype)) return *module;
        std::vector<std::string> described;
        for (const describe::ModuleDescription& module : description.modules)
            described.push_back(json(module.id).dump() + " subtype " + std::to_string(module.subtype));
        fail(at.key("id"), description.source + " describes no module " + json(id).dump() + " subtype " +
                               std::to_string(subtype) + " (it describes " + joined(described) + ")");
    }

    // --- pins --------------------------------------------------------------------------------

    // The pin "module.pin" at `at` names, checked against `wanted`.
    PinRef pin(const json& value, const JsonPath& at, const Wanted& wanted) const {
        const std::string shape = "a pin as module.pin (\"env.output\")";
        if (!value.is_string()) fail(at, shape, value);
        const std::string text = value.get<std::string>();
        const size_t dot = text.find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) fail(at, shape, value);
        const std::string moduleName = text.substr(0, dot);
        const int32_t module = moduleIndex(moduleName);
        if (module < 0) {
            std::vector<std::string> names;
            for (const host::PatchModule& instance : patch.graph.modules) names.push_back(instance.name);
            fail(at, "no module '" + moduleName + "' in the patch (its modules: " + joined(names) + ")");
        }
        return modulePin(module, text.substr(dot + 1), at, wanted);
    }

    // Pin `pinName` of module instance `module`, checked against `wanted`.
    PinRef modulePin(int32_t module, const std::string& pinName, const JsonPath& at, const Wanted& wanted) const {
        const std::string& moduleName = patch.graph.modules[static_cast<size_t>(module)].name;
        const std::string text = moduleName + "." + pinName;
        const describe::ModuleDescription& description = patch.modules[static_cast<size_t>(module)].description;
        const PinDescription* described = description.pinBySymbol(pinName);
        const bool input = wanted.direction == Direction::In;
        if (described == nullptr || described->direction != wanted.direction) {
            std::vector<std::string> names;
            for (const PinDescription& pin : description.pins)
                if (pin.direction == wanted.direction) names.push_back(pin.symbol);
            std::string message = "module '" + moduleName + "' has no " + (input ? "input" : "output") + " '" +
                                  pinName + "' (its " + (input ? "inputs" : "outputs") + ": " + joined(names) + ")";
            if (described != nullptr) message += "; '" + text + "' is an " + (input ? "output" : "input");
            fail(at, message);
        }
        if (!accepts(wanted, *described)) {
            std::vector<std::string> names;
            for (const PinDescription& pin : description.pins)
                if (accepts(wanted, pin)) names.push_back(pin.symbol);
            fail(at, "'" + text + "' is " + kindOf(*described) + "; " + wanted.rule + " (" + moduleName + "'s " +
                         wanted.which + ": " + joined(names) + ")");
        }
        return PinRef{module, described->id};
    }

    int32_t moduleIndex(const std::string& name) const {
        for (size_t i = 0; i < patch.graph.modules.size(); ++i)
            if (patch.graph.modules[i].name == name) return static_cast<int32_t>(i);
        return -1;
    }

    // One pin or an array of at least one.
    std::vector<PinRef> pins(const json& value, const JsonPath& at, const Wanted& wanted) const {
        std::vector<PinRef> refs;
        if (!value.is_array()) {
            refs.push_back(pin(value, at, wanted));
            return refs;
        }
        if (value.empty()) fail(at, "a pin or an array of at least one pin", value);
        for (size_t i = 0; i < value.size(); ++i) {
            const PinRef ref = pin(value[i], at.index(i), wanted);
            if (std::find(refs.begin(), refs.end(), ref) != refs.end())
                fail(at.index(i), "'" + patch.pinName(ref) + "' is named twice");
            refs.push_back(ref);
        }
        return refs;
    }

    // `ref` is now driven by `driver`; nothing may drive it already.
    void drive(const PinRef& ref, const JsonPath& at, Driver driver) {
        const auto [place, added] = drivers.emplace(std::pair{ref.module, ref.pin}, driver);
        if (added) return;
        const Driver& earlier = place->second;
        if (driver.kind == Driver::Kind::Connection && earlier.kind == Driver::Kind::Connection)
            fail(at, "input '" + patch.pinName(ref) + "' is connected twice (" + earlier.path +
                         " connects it already): an input takes one connection at most");
        fail(at, "input '" + patch.pinName(ref) + "' is driven by " + earlier.words + " already (" + earlier.path +
                     "): an input takes one connection, value, control or note part");
    }

    // --- values ------------------------------------------------------------------------------

    // A user value for `pin` as the file writes it (a number in the pin's unit, a text with a unit,
    // true/false for a bool pin), within the pin's range. `subject` names the pin or control
    // ("'env.attack'", "control 'attack'").
    double userValue(const json& value, const JsonPath& at, const PinDescription& pin,
                     const std::string& subject) const {
        double user = 0.0;
        if (pin.datatype == Datatype::Bool) {
            if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
            if (!value.is_string() || !describe::parseUserValue(value.get<std::string>(), pin, user))
                fail(at, "a value of " + subject + ": " + describe::userValueExamples(pin), value);
            return user;
        }
        if (value.is_number()) {
            user = number(value, at);
        } else if (!value.is_string() || !describe::parseUserValue(value.get<std::string>(), pin, user)) {
            const std::string examples = describe::userValueExamples(pin);
            fail(at,
                 "a value of " + subject + ": " +
                     (pin.unit == describe::Unit::None
                          ? examples
                          : "a number in " + std::string(describe::unitName(pin.unit)) + " or " + examples),
                 value);
        }
        const bool below = pin.minimum && user < *pin.minimum;
        const bool above = pin.maximum && user > *pin.maximum;
        if (below || above)
            fail(at, "a value of " + subject + " " + rangeWords(pin), value);
        return user;
    }

    static std::string rangeWords(const PinDescription& pin) {
        if (pin.minimum && pin.maximum)
            return "from " + describe::formatUserValue(pin, *pin.minimum) + " to " +
                   describe::formatUserValue(pin, *pin.maximum);
        if (pin.minimum) return "of at least " + describe::formatUserValue(pin, *pin.minimum);
        return "of at most " + describe::formatUserValue(pin, *pin.maximum);
    }

    // The pin value of user value `user`, which must be a float.
    float pinValue(const PinDescription& pin, double user, const JsonPath& at, const std::string& label) const {
        const float value = describe::pinValueFor(pin, user);
        if (!std::isfinite(value))
            fail(at, "'" + label + "' maps " + describe::formatUserValue(pin, user) +
                         " to a pin value beyond a float");
        return value;
    }

    void values(int32_t module, const json& value, const JsonPath& at) {
        if (!value.is_object()) fail(at, "an object of pin values (\"attack\": \"5ms\")", value);
        for (const auto& item : value.items()) {
            const JsonPath valueAt = at.key(item.key());
            const PinRef ref = modulePin(module, item.key(), valueAt, CONTROL_PIN);
            const PinDescription& described = patch.pin(ref);
            const std::string label = patch.pinName(ref);
            const double user = userValue(item.value(), valueAt, described, "'" + label + "'");
            drive(ref, valueAt, Driver{Driver::Kind::Value, valueAt.str(), "a value", pinValue(described, user, valueAt, label)});
        }
    }

    // --- connections and outputs -------------------------------------------------------------

    void connection(const json& value, const JsonPath& at) {
        object(value, at, {"from", "to", "delay"}, {"from", "to"});
        host::PatchConnection connection;
        const PinRef from = pin(value["from"], at.key("from"), CONNECTION_FROM);
        const PinRef to = pin(value["to"], at.key("to"), CONNECTION_TO);
        connection.fromModule = from.module;
        connection.fromPin = from.pin;
        connection.toModule = to.module;
        connection.toPin = to.pin;
        if (value.contains("delay")) {
            const json& delay = value["delay"];
            if (!delay.is_number() || delay.get<double>() != 1.0)
                fail(at.key("delay"), "1 (a delay of one sample, the only one a connection has)", delay);
            connection.oneSampleDelay = true;
        }
        drive(to, at.key("to"), Driver{Driver::Kind::Connection, at.str(), "a connection"});
        patch.graph.connections.push_back(connection);
    }

    void output(const json& value, const JsonPath& at) {
        object(value, at, {"name", "from"}, {"name", "from"});
        host::PatchOutput output;
        output.name = symbol(value["name"], at.key("name"));
        for (size_t j = 0; j < patch.graph.outputs.size(); ++j)
            if (patch.graph.outputs[j].name == output.name)
                fail(at.key("name"), "a name no other output has ($.outputs[" + std::to_string(j) + "] has it)",
                     value["name"]);
        const PinRef from = pin(value["from"], at.key("from"), OUTPUT_FROM);
        output.module = from.module;
        output.pin = from.pin;
        patch.graph.outputs.push_back(std::move(output));
    }

    // A cycle of connections without a delay has no order to run in. Finds the first one (from
    // the modules in file order) and names its modules in the direction the signal flows.
    void refuseLoops(const JsonPath& at) const {
        const size_t count = patch.graph.modules.size();
        std::vector<std::vector<size_t>> out(count);  // connection indices by source module
        for (size_t c = 0; c < patch.graph.connections.size(); ++c)
            if (!patch.graph.connections[c].oneSampleDelay)
                out[patch.graph.connections[c].fromModule].push_back(c);
        enum class Mark { Unseen, Open, Done };
        std::vector<Mark> marks(count, Mark::Unseen);
        struct Frame {
            int32_t module;
            size_t next;
        };
        for (size_t start = 0; start < count; ++start) {
            if (marks[start] != Mark::Unseen) continue;
            std::vector<Frame> stack{{static_cast<int32_t>(start), 0}};
            marks[start] = Mark::Open;
            while (!stack.empty()) {
                Frame& frame = stack.back();
                if (frame.next == out[frame.module].size()) {
                    marks[frame.module] = Mark::Done;
                    stack.pop_back();
                    continue;
                }
                const size_t c = out[frame.module][frame.next++];
                const int32_t to = patch.graph.connections[c].toModule;
                if (marks[to] == Mark::Unseen) {
                    marks[to] = Mark::Open;
                    stack.push_back(Frame{to, 0});
                } else if (marks[to] == Mark::Open) {
                    std::string loop;
                    auto first = std::find_if(stack.begin(), stack.end(), [&](const Frame& f) { return f.module == to; });
                    for (auto it = first; it != stack.end(); ++it) loop += patch.graph.modules[it->module].name + " \u2192 ";
                    loop += patch.graph.modules[to].name;
                    fail(at.index(c), "a loop of connections without a delay: " + loop +
                                          " (mark one of them \"delay\": 1)");
                }
            }
        }
    }

    // --- controls, notes, presets ------------------------------------------------------------

    void control(const json& value, const JsonPath& at) {
        object(value, at, {"name", "pins", "default", "minimum", "maximum"}, {"name", "pins"});
        Control control;
        control.name = symbol(value["name"], at.key("name"));
        for (size_t j = 0; j < patch.controls.size(); ++j)
            if (patch.controls[j].name == control.name)
                fail(at.key("name"), "a name no other control has ($.controls[" + std::to_string(j) + "] has it)",
                     value["name"]);
        const JsonPath pinsAt = at.key("pins");
        control.pins = pins(value["pins"], pinsAt, CONTROL_PIN);
        const PinDescription& first = patch.pin(control.pins.front());
        PinDescription& range = control.range;
        range.symbol = control.name;
        range.name = control.name;
        range.direction = Direction::In;
        range.role = describe::Role::Parameter;
        range.datatype = first.datatype == Datatype::Bool ? Datatype::Bool : Datatype::Float;
        range.unit = first.unit;
        range.scale = first.scale;
        for (size_t i = 0; i < control.pins.size(); ++i) {
            const PinDescription& pin = patch.pin(control.pins[i]);
            const JsonPath pinAt = value["pins"].is_array() ? pinsAt.index(i) : pinsAt;
            if ((pin.datatype == Datatype::Bool) != (range.datatype == Datatype::Bool) || pin.unit != range.unit)
                fail(pinAt, "'" + patch.pinName(control.pins[i]) + "' is " + kindOf(pin) + " in " +
                                describe::unitName(pin.unit) + ", but '" + patch.pinName(control.pins.front()) +
                                "' " + kindOf(first) + " in " + describe::unitName(first.unit) +
                                ": a control's pins take one kind of value");
            if (pin.minimum) range.minimum = range.minimum ? std::max(*range.minimum, *pin.minimum) : *pin.minimum;
            if (pin.maximum) range.maximum = range.maximum ? std::min(*range.maximum, *pin.maximum) : *pin.maximum;
        }
        if (range.minimum && range.maximum && *range.minimum > *range.maximum)
            fail(pinsAt, "pins whose ranges overlap (together they leave nothing from " +
                             describe::formatUserValue(range, *range.minimum) + " to " +
                             describe::formatUserValue(range, *range.maximum) + ")");
        const std::string subject = "control '" + control.name + "'";
        if (range.datatype != Datatype::Bool) {
            // A narrower range of the control's own, within its pins'.
            std::optional<double> minimum, maximum;
            if (value.contains("minimum")) minimum = userValue(value["minimum"], at.key("minimum"), range, subject);
            if (value.contains("maximum")) maximum = userValue(value["maximum"], at.key("maximum"), range, subject);
            if (minimum && maximum && *minimum > *maximum)
                fail(at.key("maximum"), "a maximum not below the minimum " + describe::formatUserValue(range, *minimum),
                     value["maximum"]);
            if (minimum) range.minimum = minimum;
            if (maximum) range.maximum = maximum;
        } else {
            for (const char* key : {"minimum", "maximum"})
                if (value.contains(key)) fail(at.key(key), "expected no " + std::string(key) + " for a control of bool pins");
        }
        if (value.contains("default")) {
            range.defaultValue = userValue(value["default"], at.key("default"), range, subject);
        } else {
            range.defaultValue = first.defaultValue.value_or(0.0);
            const bool outside = (range.minimum && *range.defaultValue < *range.minimum) ||
                                 (range.maximum && *range.defaultValue > *range.maximum);
            if (outside)
                fail(at, "missing field \"default\" (the default of '" + patch.pinName(control.pins.front()) + "', " +
                             describe::formatUserValue(range, *range.defaultValue) + ", is outside the control's range)");
        }
        for (size_t i = 0; i < control.pins.size(); ++i) {
            const JsonPath pinAt = value["pins"].is_array() ? pinsAt.index(i) : pinsAt;
            const PinDescription& pin = patch.pin(control.pins[i]);
            drive(control.pins[i], pinAt,
                  Driver{Driver::Kind::Control, at.str(), "control '" + control.name + "'",
                         pinValue(pin, *range.defaultValue, at, patch.pinName(control.pins[i]))});
        }
        patch.controls.push_back(std::move(control));
    }

    void notes(const json& value, const JsonPath& at) {
        object(value, at, {"gate", "trigger", "pitch", "velocity", "bendRange"}, {});
        const struct {
            const char* key;
            std::vector<PinRef>& refs;
            const Wanted& wanted;
        } parts[] = {{"gate", patch.notes.gate, NOTE_SWITCH},
                     {"trigger", patch.notes.trigger, NOTE_SWITCH},
                     {"pitch", patch.notes.pitch, NOTE_NUMBER},
                     {"velocity", patch.notes.velocity, NOTE_NUMBER}};
        for (const auto& part : parts) {
            if (!value.contains(part.key)) continue;
            const JsonPath partAt = at.key(part.key);
            const json& given = value[part.key];
            part.refs = pins(given, partAt, part.wanted);
            for (size_t i = 0; i < part.refs.size(); ++i) {
                const JsonPath pinAt = given.is_array() ? partAt.index(i) : partAt;
                const PinRef& ref = part.refs[i];
                const PinDescription& pin = patch.pin(ref);
                const std::string key = part.key;
                if (key == "pitch" && pin.unit != describe::Unit::Hertz)
                    fail(pinAt, "'" + patch.pinName(ref) + "' is in " + describe::unitName(pin.unit) +
                                    "; a note's pitch drives a pin in Hz");
                if (key == "velocity") {
                    const bool covers = pin.unit == describe::Unit::None && (!pin.minimum || *pin.minimum <= 0.0) &&
                                        (!pin.maximum || *pin.maximum >= 1.0);
                    if (!covers)
                        fail(pinAt, "'" + patch.pinName(ref) +
                                        "' does not take 0 to 1; a note's velocity drives a pin without a unit whose "
                                        "range holds 0 to 1");
                }
                drive(ref, pinAt, Driver{Driver::Kind::Note, pinAt.str(), "the notes' " + key});
            }
        }
        if (value.contains("bendRange")) {
            const JsonPath bendAt = at.key("bendRange");
            const double semitones = number(value["bendRange"], bendAt);
            if (semitones < 0.0 || semitones > MOST_BEND_SEMITONES)
                fail(bendAt, "semitones from 0 to 48", value["bendRange"]);
            patch.notes.bendRange = semitones;
        }
    }

    void preset(const json& value, const JsonPath& at) {
        object(value, at, {"name", "values"}, {"name", "values"});
        Preset preset;
        preset.name = text(value["name"], at.key("name"), 200, false);
        for (size_t j = 0; j < patch.presets.size(); ++j)
            if (patch.presets[j].name == preset.name)
                fail(at.key("name"), "a name no other preset has ($.presets[" + std::to_string(j) + "] has it)",
                     value["name"]);
        const JsonPath valuesAt = at.key("values");
        const json& values = value["values"];
        if (!values.is_object()) fail(valuesAt, "an object of control values (\"attack\": \"5ms\")", values);
        for (const auto& item : values.items()) {
            const JsonPath valueAt = valuesAt.key(item.key());
            const Control* control = patch.control(item.key());
            if (control == nullptr) {
                std::vector<std::string> names;
                for (const Control& known : patch.controls) names.push_back(known.name);
                fail(valueAt, "no control '" + item.key() + "' in the patch (its controls: " + joined(names) + ")");
            }
            const double user = userValue(item.value(), valueAt, control->range, "control '" + control->name + "'");
            for (const PinRef& ref : control->pins) pinValue(patch.pin(ref), user, valueAt, patch.pinName(ref));
            preset.values.push_back(Preset::Value{static_cast<size_t>(control - patch.controls.data()), user});
        }
        patch.presets.push_back(std::move(preset));
    }

    // --- the PatchGraph's pins ----------------------------------------------------------------

    // Every described input and audio output, in id order, starting where its driver (a value or
    // a control's default) or else its description's default puts it.
    void assemblePins() {
        for (size_t m = 0; m < patch.graph.modules.size(); ++m) {
            for (const PinDescription& described : patch.modules[m].description.pins) {
                if (!described.isInput() && !described.isAudio()) continue;
                host::PatchPin pin;
                pin.id = described.id;
                pin.kind = patchPinKind(described);
                if (described.isInput()) {
                    const auto driver = drivers.find({static_cast<int32_t>(m), described.id});
                    const bool set = driver != drivers.end() && (driver->second.kind == Driver::Kind::Value ||
                                                                 driver->second.kind == Driver::Kind::Control);
                    if (set)
                        pin.initial = driver->second.pinValue;
                    else if (described.defaultValue)
                        pin.initial = describe::pinValueFor(described, *described.defaultValue);
                    if (driver == drivers.end() && described.isAudio() &&
                        described.role == describe::Role::Signal)
                        patch.inputs.push_back(PinRef{static_cast<int32_t>(m), described.id});
                }
                patch.graph.modules[m].pins.push_back(pin);
            }
        }
    }

    ModuleSource& catalog;
    std::filesystem::path folder;
    PatchFile patch;
    std::map<std::pair<int32_t, int32_t>, Driver> drivers;  // by (module, pin id)
};

}  // namespace

PatchFile parsePatch(std::string_view text, const std::string& source, ModuleSource& modules) {
    Reader reader(source, modules);
    return reader.read(reader.document(text));
}

PatchFile loadPatch(const std::string& path, ModuleSource& modules) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw PatchError(describe::reading::oneLine(path + ": cannot read the patch"));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw PatchError(describe::reading::oneLine(path + ": cannot read the patch"));
    return parsePatch(text.str(), path, modules);
}

bool isPatchFileName(std::string_view path) { return path.ends_with(PATCH_SUFFIX); }

}  // namespace kvx::patch
