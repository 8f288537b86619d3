// SPDX-License-Identifier: MIT
// The benchmarks' lilv host.
#include "bench/lv2_host.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>

#include <cstdio>
#include <cstdlib>

#include "bench/note.h"

namespace kvx::bench {

namespace {

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto& uris = *static_cast<std::vector<std::string>*>(handle);
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

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
    uris.reserve(64);
    map = LV2_URID_Map{&uris, mapUri};
    sequenceType = mapUri(&uris, LV2_ATOM__Sequence);
    midiType = mapUri(&uris, LV2_MIDI__MidiEvent);
    options = {LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, mapUri(&uris, LV2_BUF_SIZE__maxBlockLength),
                                  sizeof(int32_t), mapUri(&uris, LV2_ATOM__Int), &maxBlockLength},
               LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
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
            sequence.assign(1024, 0);
            hasMidi = true;
            lilv_instance_connect_port(instance, index, sequence.data());
        } else {
            buffers[index].assign(static_cast<size_t>(maxBlock), 0.0f);
            lilv_instance_connect_port(instance, index, buffers[index].data());
        }
    }
    lilv_node_free(controlClass);
    lilv_node_free(atomClass);
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(sequence.data());
    if (hasMidi) {
        seq->atom.type = sequenceType;
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
    }
    lilv_instance_activate(instance);
}

Lv2Plugin::~Lv2Plugin() {
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
}

void Lv2Plugin::setControl(const std::string& symbol, float value) { controls.at(ports.at(symbol)) = value; }

const float* Lv2Plugin::audio(const std::string& symbol) { return buffers.at(ports.at(symbol)).data(); }

void Lv2Plugin::note(uint32_t frame, bool on) {
    auto* base = reinterpret_cast<uint8_t*>(sequence.data());
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(base);
    auto* event = reinterpret_cast<LV2_Atom_Event*>(base + sizeof(LV2_Atom) + seq->atom.size);
    event->time.frames = frame;
    event->body.size = 3;
    event->body.type = midiType;
    auto* bytes = reinterpret_cast<uint8_t*>(event + 1);
    bytes[0] = on ? 0x90 : 0x80;
    bytes[1] = 60;
    bytes[2] = on ? 100 : 0;
    seq->atom.size += lv2_atom_pad_size(sizeof(LV2_Atom_Event) + 3);
}

void Lv2Plugin::run(uint32_t frames) {
    lilv_instance_run(instance, frames);
    if (hasMidi)
        reinterpret_cast<LV2_Atom_Sequence*>(sequence.data())->atom.size = sizeof(LV2_Atom_Sequence_Body);
}

}  // namespace kvx::bench
