// SPDX-License-Identifier: MIT
// The benchmarks' lilv host.
#include "bench/lv2_host.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>

#include <cstdio>
#include <cstdlib>

#include "bench/note.h"

namespace kvx::bench {

namespace {

LilvWorld* sharedWorld() {
    static LilvWorld* world = [] {
        setenv("LV2_PATH", KVX_BENCH_LV2_PATH, 1);
        LilvWorld* created = lilv_world_new();
        lilv_world_load_all(created);
        return created;
    }();
    return world;
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "kvx_bench: %s\n", message.c_str());
    std::exit(1);
}

}  // namespace

Lv2Plugin::Lv2Plugin(const std::string& uri, int32_t maxBlock) : maxBlockLength(maxBlock) {
    LilvWorld* world = sharedWorld();
    LilvNode* node = lilv_new_uri(world, uri.c_str());
    plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    if (plugin == nullptr) fail("no LV2 plug-in " + uri + " in " + KVX_BENCH_LV2_PATH);
    options = {LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_BUF_SIZE__maxBlockLength),
                                  sizeof(int32_t), uris.map(LV2_ATOM__Int), &maxBlockLength},
               LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    const LV2_Feature mapFeature{LV2_URID__map, uris.feature()};
    const LV2_Feature optionsFeature{LV2_OPTIONS__options, options.data()};
    const LV2_Feature* features[] = {&mapFeature, &optionsFeature, nullptr};
    instance = lilv_plugin_instantiate(plugin, SAMPLE_RATE, features);
    if (instance == nullptr) fail("cannot instantiate " + uri);

    LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* atomClass = lilv_new_uri(world, LV2_ATOM__AtomPort);
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    std::vector<float> defaults(count, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    for (uint32_t index = 0; index < count; ++index) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        ports[lilv_node_as_string(lilv_port_get_symbol(plugin, port))] = index;
        if (lilv_port_is_a(plugin, port, controlClass)) {
            controls[index] = defaults[index];
            lilv_instance_connect_port(instance, index, &controls[index]);
        } else if (lilv_port_is_a(plugin, port, atomClass)) {
            hasMidi = true;
            lilv_instance_connect_port(instance, index, midi.buffer());
        } else {
            buffers[index].assign(static_cast<size_t>(maxBlock), 0.0f);
            lilv_instance_connect_port(instance, index, buffers[index].data());
        }
    }
    lilv_node_free(controlClass);
    lilv_node_free(atomClass);
    lilv_instance_activate(instance);
}

Lv2Plugin::~Lv2Plugin() {
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
}

bool Lv2Plugin::isInstrument() const {
    // Every rdf:type of the plug-in: lilv's one class may be lv2:Plugin beside the instrument's.
    LilvWorld* world = sharedWorld();
    LilvNode* type = lilv_new_uri(world, LILV_NS_RDF "type");
    LilvNode* instrumentClass = lilv_new_uri(world, LV2_CORE__InstrumentPlugin);
    LilvNodes* types = lilv_plugin_get_value(plugin, type);
    const bool found = types != nullptr && lilv_nodes_contains(types, instrumentClass);
    lilv_nodes_free(types);
    lilv_node_free(instrumentClass);
    lilv_node_free(type);
    return found;
}

void Lv2Plugin::setControl(const std::string& symbol, float value) { controls.at(ports.at(symbol)) = value; }

const float* Lv2Plugin::audio(const std::string& symbol) { return buffers.at(ports.at(symbol)).data(); }

void Lv2Plugin::note(uint32_t frame, bool on) {
    if (!midi.add(frame, on ? 0x90 : 0x80, 60, on ? 100 : 0)) fail("too many notes for one run");
}

void Lv2Plugin::midiMessage(uint32_t frame, uint8_t status, uint8_t key, uint8_t velocity) {
    if (!midi.add(frame, status, key, velocity)) fail("too many MIDI events for one run");
}

void Lv2Plugin::run(uint32_t frames) {
    lilv_instance_run(instance, frames);
    if (hasMidi) midi.clear();
}

}  // namespace kvx::bench
