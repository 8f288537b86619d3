// SPDX-License-Identifier: MIT
// What one block touches: drives ADSR.kvx through our host library (a one-voice VoicePool, or a
// SleepingRunner on a PluginInstance) into a state, moving or asleep, then runs one more block
// between two stores to a marker that block_footprint.py finds in valgrind lackey's memory
// trace. Prints the address ranges it knows to stdout.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/host_note.h"
#include "bench/in_process_voice.h"
#include "bench/note.h"
#include "host/plugin_instance.h"
#include "host/sleeping_runner.h"
#include "host/voice_pool.h"
#include "interfaces/interface_ids.h"
#include "modules/adsr/adsr.h"
#include "modules/adsr/adsr_pins.h"

namespace {

using namespace kvx;
using namespace kvx::bench;

// The trace's delimiter: the block runs between the first and the second store to it.
volatile uint32_t footprintMarker = 0;

// A long attack for a moving block; the many-voice note, held, for a sleeping one.
constexpr NoteSettings LONG_ATTACK{100000.0, 0.2, 0.5, 1.0, 1e6, 0.0};
constexpr int WARM_BLOCKS = 400;  // enough for the held note to sustain and fall asleep

void region(const char* name, const void* start, size_t bytes) {
    std::printf("region %s %#zx %zu\n", name, reinterpret_cast<size_t>(start), bytes);
}

void objectRegion(IMpPlugin2* plugin) {
    void* object = nullptr;  // the primary view's address is the object's
    plugin->queryInterface(&IID_MP_UNKNOWN, &object);
    static_cast<IMpUnknown*>(object)->release();
    region("module-object", object, sizeof(adsr::Adsr));
}

void stackAndMarker() {
    const int probe = 0;
    const auto here = reinterpret_cast<uintptr_t>(&probe);
    region("stack", reinterpret_cast<const void*>(here - (1 << 20)), (1 << 20) + 4096);
    std::printf("marker %#zx\n", reinterpret_cast<size_t>(&footprintMarker));
    std::fflush(stdout);
}

std::vector<HostEvent> noteStart() {
    std::vector<HostEvent> events{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    linkEvents(events);
    return events;
}

bool runPool(bool moving) {
    host::VoicePool pool(moduleLibrary(), adsr::MODULE_ID, adsr::MODULE_SUBTYPE, 1, envelopeLayout(),
                         static_cast<float>(SAMPLE_RATE));
    setPinValues(pool, moving ? LONG_ATTACK : VOICE_NOTE);
    startGraph(pool);
    const std::vector<HostEvent> start = noteStart();
    const host::VoiceEvents entry{0, start.data()};
    pool.runBlock(BLOCK, std::span(&entry, 1));
    for (int block = 0; block < WARM_BLOCKS; ++block) pool.runBlock(BLOCK);
    if (pool.asleep(0) == moving) return false;

    objectRegion(pool.plugin(0));
    region("host-pool", &pool, sizeof pool);
    region("host-voice", &pool.voiceHost(0), sizeof(host::VoiceHost));
    region("output-buffer", pool.output(0), BLOCK * sizeof(float));
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        region("input-buffers", pool.input(0, pin), BLOCK * sizeof(float));
    stackAndMarker();
    footprintMarker = 1;
    pool.runBlock(BLOCK);
    footprintMarker = 2;
    return true;
}

bool runRunner(bool moving) {
    HostVoice voice(moving ? LONG_ATTACK : VOICE_NOTE, HostMode::SleepingRunner);
    const std::vector<HostEvent> start = noteStart();
    voice.runBlock(start.data());
    for (int block = 0; block < WARM_BLOCKS; ++block) voice.runBlock(nullptr);
    if (voice.sleepingRunner().asleep() == moving) return false;

    objectRegion(voice.pluginInstance().plugin());
    region("host-runner", &voice.sleepingRunner(), sizeof(host::SleepingRunner));
    region("host-instance", &voice.pluginInstance(), sizeof(host::PluginInstance));
    region("host-services", &voice.pluginInstance().host(), sizeof(host::HostServices));
    region("output-buffer", voice.output(), BLOCK * sizeof(float));
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        region("input-buffers", voice.pluginInstance().buffer(pin), BLOCK * sizeof(float));
    stackAndMarker();
    footprintMarker = 1;
    voice.runBlock(nullptr);
    footprintMarker = 2;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scene = argc == 2 ? argv[1] : "";
    const bool moving = scene.ends_with("-moving");
    if (scene != "pool-moving" && scene != "pool-asleep" && scene != "runner-moving" &&
        scene != "runner-asleep") {
        std::fprintf(stderr,
                     "usage: kvx_block_footprint pool-moving|pool-asleep|runner-moving|runner-asleep\n");
        return 2;
    }
    const bool reached = scene.starts_with("pool") ? runPool(moving) : runRunner(moving);
    if (!reached) {
        std::fprintf(stderr, "kvx_block_footprint: the voice did not reach the state of %s\n", scene.c_str());
        return 1;
    }
    return 0;
}
