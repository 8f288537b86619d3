// SPDX-License-Identifier: MIT
// Turtle text for manifest.ttl and the plug-ins' data file.
#include "lv2/bundle/turtle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

namespace kvx::lv2 {

namespace {

using describe::Datatype;
using describe::PinDescription;
using describe::Unit;

// A Turtle string literal: quotes, backslashes and line breaks escaped.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                result += c;
        }
    }
    return result + "\"";
}

const char* unitUri(Unit unit) {
    switch (unit) {
        case Unit::Seconds:
            return "units:s";
        case Unit::Milliseconds:
            return "units:ms";
        case Unit::Hertz:
            return "units:hz";
        case Unit::Decibels:
            return "units:db";
        case Unit::Percent:
            return "units:pc";
        case Unit::None:
            break;
    }
    return nullptr;
}

const char* pluginClass(Flavour flavour) {
    switch (flavour) {
        case Flavour::Midi:
        case Flavour::Gate:
        case Flavour::Cv:
            return "lv2:Plugin , lv2:GeneratorPlugin";
        case Flavour::Amp:
            return "lv2:Plugin , lv2:AmplifierPlugin";
        case Flavour::Instrument:
            return "lv2:Plugin , lv2:InstrumentPlugin";
        case Flavour::Audio:
        case Flavour::Effect:
            break;
    }
    return "lv2:Plugin";
}

const char* flavourTitle(Flavour flavour) {
    switch (flavour) {
        case Flavour::Midi:
            return "MIDI";
        case Flavour::Amp:
            return "MIDI amp";
        case Flavour::Gate:
            return "gate";
        case Flavour::Cv:
            return "CV";
        case Flavour::Effect:
            return "effect";
        case Flavour::Instrument:
            return "instrument";
        case Flavour::Audio:
            break;
    }
    return "audio";
}

const char* typeUri(PortType type) {
    switch (type) {
        case PortType::Atom:
            return "atom:AtomPort";
        case PortType::Audio:
            return "lv2:AudioPort";
        case PortType::Cv:
            return "lv2:CVPort";
        case PortType::Control:
            break;
    }
    return "lv2:ControlPort";
}

void writeParameterRange(std::ostringstream& out, const PinDescription& pin) {
    const bool toggle = pin.datatype == Datatype::Bool;
    const double minimum = toggle ? 0.0 : pin.minimum.value_or(0.0);
    const double maximum = toggle ? 1.0 : pin.maximum.value_or(1.0);
    const double fallback = minimum;
    const double defaultValue = pin.defaultValue.value_or(fallback);
    out << " ;\n\t\tlv2:default " << turtleNumber(defaultValue) << " ;\n\t\tlv2:minimum "
        << turtleNumber(minimum) << " ;\n\t\tlv2:maximum " << turtleNumber(maximum);
    if (toggle) out << " ;\n\t\tlv2:portProperty lv2:toggled";
    if (pin.scale == describe::Scale::Logarithmic) out << " ;\n\t\tlv2:portProperty pprops:logarithmic";
    if (const char* unit = unitUri(pin.unit)) out << " ;\n\t\tunits:unit " << unit;
}

// `range`: what a Parameter port sets (its range, unit and properties), else null.
void writePort(std::ostringstream& out, const Port& port, const PinDescription* range) {
    out << "[\n\t\ta " << (port.input ? "lv2:InputPort" : "lv2:OutputPort") << " , " << typeUri(port.type);
    if (port.type == PortType::Atom)
        out << " ;\n\t\tatom:bufferType atom:Sequence ;\n\t\tatom:supports midi:MidiEvent ;\n"
               "\t\tlv2:designation lv2:control";
    out << " ;\n\t\tlv2:index " << port.index << " ;\n\t\tlv2:symbol " << quoted(port.symbol)
        << " ;\n\t\tlv2:name " << quoted(port.name);
    if (port.role == PortRole::Parameter) {
        if (range != nullptr) writeParameterRange(out, *range);
    } else if (port.role == PortRole::GateIn || port.role == PortRole::ResetIn) {
        out << " ;\n\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum 1.0";
    }
    out << "\n\t]";
}

// The module's project: its plug-ins' URI without the flavour (https://.../modules/adsr).
std::string projectUri(const std::vector<PluginEntry>& plugins, const describe::ModuleDescription& module) {
    for (const PluginEntry& plugin : plugins)
        if (plugin.module == &module) return plugin.uri.substr(0, plugin.uri.rfind('/'));
    return {};
}

constexpr const char* TURTLE_PREFIXES =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n";

// A project's name, licence and maintainer, which its plug-ins share.
void writeProject(std::ostringstream& out, const std::string& uri, const std::string& name,
                  const Publisher& publisher) {
    out << "\n<" << uri << ">\n\ta doap:Project ;\n\tdoap:name " << quoted(name) << " ;\n\tdoap:homepage <"
        << publisher.homepage << "> ;\n\tdoap:license <http://opensource.org/licenses/MIT> ;\n";
    out << "\tdoap:maintainer [\n\t\ta foaf:Person ;\n\t\tfoaf:name " << quoted(publisher.maintainerName)
        << " ;\n\t\tfoaf:mbox <mailto:" << publisher.maintainerEmail << "> ;\n\t\tfoaf:homepage <"
        << publisher.homepage << ">\n\t] .\n";
}

// One plug-in; `rangeOf` gives what a Parameter port sets.
void writePlugin(std::ostringstream& out, const std::string& uri, const PluginLayout& layout,
                 const std::string& name, const std::string& summary, const std::string& project,
                 const Publisher& publisher,
                 const std::function<const PinDescription*(const Port&)>& rangeOf) {
    const Flavour flavour = layout.flavour;
    const bool midi = layout.find(PortRole::MidiIn) != nullptr;
    out << "\n<" << uri << ">\n\ta " << pluginClass(flavour) << " ;\n";
    out << "\tdoap:name " << quoted(name + " (" + flavourTitle(flavour) + ")") << " ;\n";
    if (!summary.empty()) out << "\trdfs:comment " << quoted(summary) << " ;\n";
    out << "\tlv2:project <" << project << "> ;\n";
    out << "\tdoap:license <http://opensource.org/licenses/MIT> ;\n";
    out << "\tlv2:minorVersion " << publisher.minorVersion << " ;\n\tlv2:microVersion "
        << publisher.microVersion << " ;\n";
    // urid:map is needed to read MIDI events; elsewhere it only names log levels and options.
    if (midi) out << "\tlv2:requiredFeature urid:map ;\n";
    out << "\tlv2:optionalFeature lv2:hardRTCapable , log:log , opts:options" << (midi ? "" : " , urid:map")
        << " ;\n";
    out << "\topts:supportedOption bufsz:maxBlockLength ;\n";
    out << "\tlv2:port ";
    for (size_t i = 0; i < layout.ports.size(); ++i) {
        if (i > 0) out << " , ";
        const Port& port = layout.ports[i];
        writePort(out, port, port.role == PortRole::Parameter ? rangeOf(port) : nullptr);
    }
    out << " .\n";
}

}  // namespace

Publisher projectPublisher() {
    Publisher publisher;
    publisher.maintainerName = KVX_MAINTAINER_NAME;
    publisher.maintainerEmail = KVX_MAINTAINER_EMAIL;
    publisher.homepage = KVX_HOMEPAGE;
    publisher.minorVersion = KVX_VERSION_MINOR;
    publisher.microVersion = KVX_VERSION_PATCH;
    return publisher;
}

std::string turtleNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    // The shortest form that reads back as the same double.
    for (int digits = 1; digits <= 17; ++digits) {
        char shorter[64];
        std::snprintf(shorter, sizeof shorter, "%.*g", digits, value);
        if (std::strtod(shorter, nullptr) == value) {
            std::snprintf(text, sizeof text, "%s", shorter);
            break;
        }
    }
    if (std::strchr(text, 'e') != nullptr && std::fabs(value) < 1e15) {
        // Plain decimals read better in a host's port list: 10.0 rather than 1e+01.
        for (int decimals = 1; decimals <= 20; ++decimals) {
            char fixed[64];
            std::snprintf(fixed, sizeof fixed, "%.*f", decimals, value);
            if (std::strtod(fixed, nullptr) == value) {
                std::snprintf(text, sizeof text, "%s", fixed);
                break;
            }
        }
    }
    std::string result = text;
    if (result.find_first_of(".eEn") == std::string::npos) result += ".0";  // n: nan, inf
    return result;
}

std::string manifestTurtle(const std::vector<PluginEntry>& plugins, const std::string& binary,
                           const std::string& dataFile) {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    for (const PluginEntry& plugin : plugins)
        out << "\n<" << plugin.uri << ">\n\ta lv2:Plugin ;\n\tlv2:binary <" << binary
            << "> ;\n\trdfs:seeAlso <" << dataFile << "> .\n";
    return out.str();
}

std::string pluginTurtle(const std::vector<PluginEntry>& plugins, const Publisher& publisher) {
    std::ostringstream out;
    out << TURTLE_PREFIXES;
    // One project per module: its name, licence and maintainer, shared by its flavours.
    std::vector<const describe::ModuleDescription*> projects;
    for (const PluginEntry& plugin : plugins)
        if (std::find(projects.begin(), projects.end(), plugin.module) == projects.end())
            projects.push_back(plugin.module);
    for (const describe::ModuleDescription* module : projects)
        writeProject(out, projectUri(plugins, *module), module->name, publisher);
    for (const PluginEntry& plugin : plugins) {
        const describe::ModuleDescription& module = *plugin.module;
        writePlugin(out, plugin.uri, plugin.layout, module.name, module.summary, projectUri(plugins, module),
                    publisher, [&module](const Port& port) { return module.pinById(port.pin); });
    }
    return out.str();
}

std::string patchPluginTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch,
                              const Publisher& publisher) {
    std::ostringstream out;
    out << TURTLE_PREFIXES;
    if (plugins.empty()) return out.str();
    const std::string project = plugins.front().uri.substr(0, plugins.front().uri.rfind('/'));
    writeProject(out, project, patch.name, publisher);
    for (const PatchPluginEntry& plugin : plugins)
        writePlugin(
            out, plugin.uri, plugin.layout, patch.name, "A patch of kvx modules", project, publisher,
            [&patch](const Port& port) { return &patch.controls[static_cast<size_t>(port.pin)].range; });
    return out.str();
}

std::string presetUri(const std::string& pluginUri, size_t preset) {
    return pluginUri + "/presets/" + std::to_string(preset + 1);
}

std::string presetManifestTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch,
                                 const std::string& presetsFile) {
    std::ostringstream out;
    if (patch.presets.empty()) return out.str();
    out << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n";
    for (const PatchPluginEntry& plugin : plugins)
        for (size_t p = 0; p < patch.presets.size(); ++p)
            out << "\n<" << presetUri(plugin.uri, p) << ">\n\ta pset:Preset ;\n\tlv2:appliesTo <"
                << plugin.uri << "> ;\n\trdfs:seeAlso <" << presetsFile << "> .\n";
    return out.str();
}

namespace {

constexpr const char* PRESET_PREFIXES =
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";

void writePreset(std::ostream& out, const PresetTurtle& preset) {
    out << "\n<" << preset.uri << ">\n\ta pset:Preset ;\n\tlv2:appliesTo <" << preset.pluginUri
        << "> ;\n\trdfs:label " << quoted(preset.label);
    for (const PresetPortValue& port : preset.ports)
        out << " ;\n\tlv2:port [\n\t\tlv2:symbol " << quoted(port.symbol) << " ;\n\t\tpset:value "
            << turtleNumber(port.value) << "\n\t]";
    out << " .\n";
}

}  // namespace

std::string presetsTurtle(const std::vector<PatchPluginEntry>& plugins, const patch::PatchFile& patch) {
    std::ostringstream out;
    out << PRESET_PREFIXES;
    for (const PatchPluginEntry& plugin : plugins)
        for (size_t p = 0; p < patch.presets.size(); ++p) {
            const patch::Preset& preset = patch.presets[p];
            PresetTurtle written{presetUri(plugin.uri, p), plugin.uri, preset.name, {}};
            // A control port takes the control's user value (its unit, its range).
            for (const patch::Preset::Value& value : preset.values)
                for (const Port& port : plugin.layout.ports)
                    if (port.role == PortRole::Parameter && static_cast<size_t>(port.pin) == value.control)
                        written.ports.push_back({port.symbol, value.user});
            writePreset(out, written);
        }
    return out.str();
}

std::string presetBundleTurtle(const std::vector<PresetTurtle>& presets) {
    std::ostringstream out;
    out << PRESET_PREFIXES;
    for (const PresetTurtle& preset : presets) writePreset(out, preset);
    return out.str();
}

}  // namespace kvx::lv2
