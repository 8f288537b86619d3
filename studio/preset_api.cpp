// SPDX-License-Identifier: MIT
// Settings become user values in the ports' units through the render's own reading of them, so
// a preset holds what the page played.
#include "studio/preset_api.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "lv2/bundle/turtle.h"
#include "lv2/layout/patch_layout.h"
#include "lv2/layout/plugin_layout.h"
#include "render/module.h"
#include "render/patch_loading.h"
#include "render/patch_render.h"
#include "render/score.h"
#include "studio/request_reading.h"

namespace kvx::studio {

namespace {

using nlohmann::json;

constexpr size_t LONGEST_LABEL = 200;

// A preset holds no sample rate: a time in samples would mean another time in every host.
void refuseSamples(const render::ParameterSpec& given, const std::string& name) {
    if (given.isDuration() && given.duration.unit == render::TimeUnit::Samples)
        throw RequestError(400, "settings." + name + ": a preset holds times in s or ms, not in samples");
}

struct Plugin {
    std::string uri;
    lv2::PluginLayout layout;
};

struct Values {
    std::vector<Plugin> plugins;
    std::vector<double> byPin;  // the user value of each control port's pin (Port::pin)
    std::vector<std::pair<std::string, size_t>> settingPins;  // each setting's name and pin (NO_PIN: none)
    std::vector<std::string> warnings;
};

constexpr size_t NO_PIN = static_cast<size_t>(-1);

std::string settingName(const std::string& text) { return text.substr(0, text.find('=')); }

Values moduleValues(const Subject& subject, const render::RenderOptions& options) {
    const render::RenderModule module = render::moduleForRender(subject.base.plugin, subject.base.describe,
                                                                subject.base.id, subject.base.subtype);
    const render::Score score = render::buildScore(options, module);
    Values values;
    values.warnings = score.warnings;
    for (lv2::Flavour flavour : lv2::flavoursFor(module.description))
        values.plugins.push_back({lv2::pluginUri(lv2::projectUriBase(), module.description, flavour),
                                  lv2::layoutFor(module.description, flavour)});
    for (size_t i = 0; i < module.inputs.size(); ++i) {
        const describe::PinDescription& pin = module.inputs[i];
        const render::ParameterSpec given = score.parameters[i] ? *score.parameters[i] : render::describedDefault(pin);
        refuseSamples(given, module.inputName(i));
        if (values.byPin.size() <= static_cast<size_t>(pin.id)) values.byPin.resize(static_cast<size_t>(pin.id) + 1);
        values.byPin[static_cast<size_t>(pin.id)] = render::userValueOf(given, pin).value_or(0.0);  // samples: refused above
    }
    for (const std::string& text : options.settings) {
        const std::string name = settingName(text);
        values.settingPins.emplace_back(name, static_cast<size_t>(module.inputs[module.inputIndex(name)].id));
    }
    return values;
}

Values patchValues(const Subject& subject, const render::RenderOptions& options) {
    const patch::PatchFile& patch = *subject.patch;
    const render::PatchView view = render::patchView(patch);
    const render::Score score = render::buildScore(options, view.module);
    Values values;
    values.warnings = score.warnings;
    const std::string stem = render::patchFileStem(subject.base.plugin);
    for (lv2::Flavour flavour : lv2::patchFlavoursFor(patch))
        values.plugins.push_back({lv2::patchPluginUri(lv2::projectUriBase(), stem, flavour),
                                  lv2::patchLayoutFor(patch, flavour)});
    values.byPin.resize(patch.controls.size());
    for (size_t i = 0; i < view.inputs.size(); ++i) {
        if (view.inputs[i].kind != render::PatchView::Kind::Control) continue;
        const patch::Control& control = patch.controls[view.inputs[i].index];
        const render::ParameterSpec given =
            score.parameters[i] ? *score.parameters[i] : render::describedDefault(control.range);
        refuseSamples(given, control.name);
        values.byPin[view.inputs[i].index] = render::controlUserValue(given, control, 0.0);
    }
    for (const std::string& text : options.settings) {
        const std::string name = settingName(text);
        const render::PatchView::Input& input = view.inputs[view.module.inputIndex(name)];
        values.settingPins.emplace_back(name, input.kind == render::PatchView::Kind::Control ? input.index : NO_PIN);
    }
    return values;
}

// The settings that no control port of any of the plug-ins plays (an audio input, say).
std::vector<std::string> settingsLeftOut(const Values& values) {
    std::vector<std::string> out;
    for (const auto& [name, pin] : values.settingPins) {
        bool played = false;
        for (const Plugin& plugin : values.plugins)
            for (const lv2::Port& port : plugin.layout.ports)
                played = played || (port.role == lv2::PortRole::Parameter && static_cast<size_t>(port.pin) == pin);
        if (!played) out.push_back(name);
    }
    return out;
}

std::string slug(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (plain || (c >= 'A' && c <= 'Z'))
            out += static_cast<char>(plain ? c : c - 'A' + 'a');
        else if (!out.empty() && out.back() != '-')
            out += '-';
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out.empty() ? "preset" : out;
}

}  // namespace

std::string presetJson(const Subject& subject, const std::string& body) {
    const json request = requestObject(body);
    std::string label = "Studio preset";
    render::RenderOptions options = subject.base;
    options.filesRefused = true;
    for (const auto& [key, value] : request.items()) {
        if (key == "name") {
            if (!value.is_string() || value.get<std::string>().empty() ||
                value.get<std::string>().size() > LONGEST_LABEL)
                throw RequestError(400, "name: expected the preset's name, 1 to " + std::to_string(LONGEST_LABEL) +
                                            " characters");
            label = value.get<std::string>();
        } else if (key == "settings") {
            options.settings = settingTexts(value);
        } else {
            throw RequestError(400, "\"" + key + "\": a preset request takes name and settings");
        }
    }
    const Values values = refusingBadInput(
        [&] { return subject.patch ? patchValues(subject, options) : moduleValues(subject, options); });

    std::vector<lv2::PresetTurtle> presets;
    json listed = json::array();
    for (const Plugin& plugin : values.plugins) {
        lv2::PresetTurtle preset{plugin.uri + "/presets/studio-" + slug(label), plugin.uri, label, {}};
        for (const lv2::Port& port : plugin.layout.ports)
            if (port.role == lv2::PortRole::Parameter && port.type == lv2::PortType::Control)
                preset.ports.push_back({port.symbol, values.byPin.at(static_cast<size_t>(port.pin))});
        if (preset.ports.empty()) continue;  // the cv flavour's parameters are CV ports
        listed.push_back({{"plugin", preset.pluginUri}, {"uri", preset.uri}});
        presets.push_back(std::move(preset));
    }
    json out = {{"uri", presets.empty() ? "" : presets.front().uri},
                {"presets", listed},
                {"ttl", lv2::presetBundleTurtle(presets)},
                {"install", "~/.lv2/" + slug(label) + ".preset.lv2/manifest.ttl"},
                {"leftOut", settingsLeftOut(values)},
                {"warnings", values.warnings}};
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace kvx::studio
