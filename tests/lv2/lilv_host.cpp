// SPDX-License-Identifier: MIT
// The lilv test host.
#include "tests/lv2/lilv_host.h"

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/presets/presets.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

namespace kvx::test {

namespace {

// The largest block any test runs.
constexpr int32_t BUFFER_FRAMES = 8192;

}  // namespace

Lv2World::Lv2World(const std::vector<std::string>& bundles,
                   const std::function<void(const std::string& folder)>& prepare) {
    for (const std::string& bundle : bundles)
        std::filesystem::copy(bundle, folder.path(std::filesystem::path(bundle).filename().string()),
                              std::filesystem::copy_options::recursive);
    if (prepare) prepare(folder.path(""));
    setenv("LV2_PATH", folder.path("").c_str(), 1);
    lilvWorld = lilv_world_new();
    lilv_world_load_all(lilvWorld);
}

Lv2World::~Lv2World() { lilv_world_free(lilvWorld); }

const LilvPlugin* Lv2World::plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(lilvWorld, uri.c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(lilvWorld), node);
    lilv_node_free(node);
    return found;
}

int LilvPluginHost::logVprintf(LV2_Log_Handle handle, LV2_URID, const char* format, va_list args) {
    char text[1024];
    const int written = std::vsnprintf(text, sizeof text, format, args);
    static_cast<LilvPluginHost*>(handle)->logged += text;
    return written;
}

int LilvPluginHost::logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = logVprintf(handle, type, format, args);
    va_end(args);
    return written;
}

LilvPluginHost::LilvPluginHost(const Lv2World& world, const std::string& uri, const Options& chosen)
    : plugin(world.plugin(uri)), maxBlock(chosen.maxBlock) {
    if (plugin == nullptr) {
        ADD_FAILURE() << "lilv does not know " << uri;
        return;
    }
    log = LV2_Log_Log{this, logPrintf, logVprintf};
    featureStore.reserve(3);
    if (chosen.offerMap) featureStore.push_back(LV2_Feature{LV2_URID__map, uris.feature()});
    if (chosen.offerLog) featureStore.push_back(LV2_Feature{LV2_LOG__log, &log});
    if (chosen.maxBlock > 0) {
        options.push_back(LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_BUF_SIZE__maxBlockLength),
                                             sizeof(int32_t), uris.map(LV2_ATOM__Int), &maxBlock});
        options.push_back(LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
        featureStore.push_back(LV2_Feature{LV2_OPTIONS__options, options.data()});
    }
    for (const LV2_Feature& feature : featureStore) features.push_back(&feature);
    features.push_back(nullptr);
    lilvInstance = lilv_plugin_instantiate(plugin, chosen.sampleRate, features.data());
    if (lilvInstance == nullptr) return;

    ::LilvWorld* w = world.world();
    LilvNode* controlClass = lilv_new_uri(w, LV2_CORE__ControlPort);
    LilvNode* atomClass = lilv_new_uri(w, LV2_ATOM__AtomPort);
    LilvNode* inputClass = lilv_new_uri(w, LV2_CORE__InputPort);
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    std::vector<float> defaults(count, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    for (uint32_t index = 0; index < count; ++index) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        if (lilv_port_is_a(plugin, port, controlClass)) {
            controls[index] = defaults[index];
            lilv_instance_connect_port(lilvInstance, index, &controls[index]);
        } else if (lilv_port_is_a(plugin, port, atomClass)) {
            sequence.emplace(uris, BUFFER_FRAMES * sizeof(uint64_t));
            lilv_instance_connect_port(lilvInstance, index, sequence->buffer());
        } else {
            audio[index].assign(BUFFER_FRAMES, 0.0f);
            lilv_instance_connect_port(lilvInstance, index, audio[index].data());
            (lilv_port_is_a(plugin, port, inputClass) ? audioInputs : audioOutputs)
                .emplace_back(symbol, index);
        }
    }
    lilv_node_free(controlClass);
    lilv_node_free(atomClass);
    lilv_node_free(inputClass);
    lilv_instance_activate(lilvInstance);
}

LilvPluginHost::~LilvPluginHost() {
    if (lilvInstance != nullptr) {
        lilv_instance_deactivate(lilvInstance);
        lilv_instance_free(lilvInstance);
    }
}

uint32_t LilvPluginHost::portCount() const {
    return plugin == nullptr ? 0 : lilv_plugin_get_num_ports(plugin);
}

uint32_t LilvPluginHost::portIndex(const std::string& symbol) const {
    for (uint32_t index = 0; index < portCount(); ++index) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        if (symbol == lilv_node_as_string(lilv_port_get_symbol(plugin, port))) return index;
    }
    ADD_FAILURE() << "no port " << symbol;
    std::abort();
}

float& LilvPluginHost::control(const std::string& symbol) { return controls.at(portIndex(symbol)); }

void LilvPluginHost::setControl(const std::string& symbol, float value) { control(symbol) = value; }

std::map<std::string, std::vector<float>> LilvPluginHost::run(
    int64_t length, const std::function<int32_t(int64_t)>& nextBlock, const std::vector<MidiAt>& midi,
    const std::map<std::string, std::vector<float>>& inputs,
    const std::function<void(int64_t)>& beforeBlock) {
    std::map<std::string, std::vector<float>> outputs;
    for (const auto& [symbol, index] : audioOutputs) outputs[symbol].reserve(static_cast<size_t>(length));
    size_t nextMessage = 0;
    for (int64_t start = 0; start < length;) {
        const int32_t frames = std::min<int32_t>(nextBlock(length - start), BUFFER_FRAMES);
        const int64_t end = std::min<int64_t>(start + frames, length);
        const auto count = static_cast<uint32_t>(end - start);
        if (beforeBlock) beforeBlock(start);
        if (sequence) {
            sequence->clear();
            for (; nextMessage < midi.size() && midi[nextMessage].frame < end; ++nextMessage) {
                const MidiAt& message = midi[nextMessage];
                const uint8_t bytes[3] = {message.status, message.data1, message.data2};
                if (!sequence->addBytes(message.frame - start, bytes, message.size))
                    ADD_FAILURE() << "the MIDI buffer is full at frame " << message.frame;
            }
        }
        for (const auto& [symbol, index] : audioInputs) {
            std::vector<float>& buffer = audio[index];
            auto given = inputs.find(symbol);
            for (uint32_t i = 0; i < count; ++i)
                buffer[i] = given == inputs.end() ? 0.0f : given->second[static_cast<size_t>(start) + i];
        }
        if (onRunStart) onRunStart();
        lilv_instance_run(lilvInstance, count);
        if (onRunEnd) onRunEnd();
        for (const auto& [symbol, index] : audioOutputs)
            outputs[symbol].insert(outputs[symbol].end(), audio[index].begin(), audio[index].begin() + count);
        start = end;
    }
    return outputs;
}

std::function<int32_t(int64_t)> fixedBlocks(int32_t size) {
    return [size](int64_t) { return size; };
}

std::function<int32_t(int64_t)> randomBlocks(uint32_t seed, int32_t largest) {
    auto generator = std::make_shared<std::mt19937>(seed);
    return [generator, largest](int64_t) {
        return 1 + static_cast<int32_t>((*generator)() % static_cast<uint32_t>(largest));
    };
}

PresetValues presetValues(const Lv2World& world, LilvPluginHost& host, const std::string& uri) {
    LilvWorld* lilv = world.world();
    PresetValues applied;
    const LilvPlugin* plugin = world.plugin(uri);
    EXPECT_NE(plugin, nullptr) << uri;
    if (plugin == nullptr) return applied;
    LilvNode* presetClass = lilv_new_uri(lilv, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(lilv, "http://www.w3.org/2000/01/rdf-schema#label");
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    LILV_FOREACH(nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(lilv, preset);
        LilvNode* name = lilv_world_get(lilv, preset, label, nullptr);
        LilvState* state = lilv_state_new_from_world(lilv, host.urids(), preset);
        EXPECT_NE(name, nullptr) << lilv_node_as_uri(preset);
        EXPECT_NE(state, nullptr) << lilv_node_as_uri(preset);
        if (name != nullptr && state != nullptr) {
            std::map<std::string, float>& values = applied[lilv_node_as_string(name)];
            lilv_state_restore(
                state, nullptr,
                [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t) {
                    EXPECT_EQ(size, sizeof(float)) << symbol;
                    if (size == sizeof(float))
                        (*static_cast<std::map<std::string, float>*>(data))[symbol] = *static_cast<const float*>(value);
                },
                &values, 0, nullptr);
        }
        if (state != nullptr) lilv_state_free(state);
        if (name != nullptr) lilv_node_free(name);
    }
    lilv_nodes_free(presets);
    lilv_node_free(label);
    lilv_node_free(presetClass);
    return applied;
}

}  // namespace kvx::test
