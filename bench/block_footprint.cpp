// What one block touches: drives ADSR.kvx through our host library into a state (moving or
// asleep), then runs one more block between two stores to a marker that block_footprint.py
// finds in valgrind lackey's memory trace. Prints the address ranges it knows to stdout.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/in_process_voice.h"
#include "bench/note.h"
#include "host/plugin_instance.h"
#include "host/plugin_library.h"
#include "host/sleeping_runner.h"
#include "interfaces/interface_ids.h"
#include "modules/adsr/adsr.h"
#include "modules/adsr/adsr_pins.h"

namespace {

using namespace kvx;

// The trace's delimiter: the block runs between the first and the second store to it.
volatile uint32_t footprintMarker = 0;

void region(const char* name, const void* start, size_t bytes) {
    std::printf("region %s %#zx %zu\n", name, reinterpret_cast<size_t>(start), bytes);
}

int usage() {
    std::fprintf(stderr, "usage: kvx_block_footprint moving|asleep\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return usage();
    const std::string scene = argv[1];
    if (scene != "moving" && scene != "asleep") return usage();
    using namespace kvx::bench;

    host::PluginLibrary library(KVX_MODULE_PATH);
    host::PluginInstance instance(library, adsr::MODULE_ID, adsr::MODULE_SUBTYPE);
    instance.host().recordTrace = false;
    // A long attack for a moving block; the many-voice note, held, for a sleeping one.
    const PinValues values =
        pinValuesFor(scene == "moving" ? NoteSettings{100000.0, 0.2, 0.5, 1.0, 1e6, 0.0} : VOICE_NOTE);
    const float perPin[] = {values.attackTime,  values.decayTime,  values.sustainLevel, values.releaseTime,
                            values.attackCurve, values.decayCurve, values.releaseCurve};
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin) {
        instance.bindBuffer(pin, BLOCK);
        std::fill_n(instance.buffer(pin), BLOCK, perPin[pin - adsr::PIN_ATTACK_TIME]);
    }
    instance.bindBuffer(adsr::PIN_OUTPUT, BLOCK);
    instance.plugin()->openModule();
    host::SleepingRunner runner(instance, adsr::PIN_OUTPUT);

    std::vector<HostEvent> start{boolEvent(0, adsr::PIN_GATE, true), boolEvent(0, adsr::PIN_TRIGGER, true)};
    HostEvent graph{};
    graph.type = EV_GRAPH_BEGIN;
    start.insert(start.begin(), graph);
    linkEvents(start);
    runner.runBlock(BLOCK, start.data());
    // Long enough for the held note to reach its sustain and fall asleep; warm in every case.
    for (int block = 0; block < 400; ++block) runner.runBlock(BLOCK, nullptr);
    if ((scene == "asleep") != runner.asleep()) {
        std::fprintf(stderr, "kvx_block_footprint: the voice is not %s\n", scene.c_str());
        return 1;
    }

    void* object = nullptr;
    instance.plugin()->queryInterface(&IID_MP_UNKNOWN, &object);
    static_cast<IMpUnknown*>(object)->release();
    const uintptr_t stackProbe = reinterpret_cast<uintptr_t>(&object);
    region("module-object", object, sizeof(adsr::Adsr));
    region("host-runner", &runner, sizeof runner);
    region("host-instance", &instance, sizeof instance);
    region("host-services", &instance.host(), sizeof(host::HostServices));
    region("output-buffer", instance.buffer(adsr::PIN_OUTPUT), BLOCK * sizeof(float));
    for (int32_t pin = adsr::PIN_ATTACK_TIME; pin <= adsr::PIN_RELEASE_CURVE; ++pin)
        region("input-buffers", instance.buffer(pin), BLOCK * sizeof(float));
    // The stack: a window around this frame.
    region("stack", reinterpret_cast<const void*>(stackProbe - (1 << 20)), (1 << 20) + 4096);
    std::printf("marker %#zx\n", reinterpret_cast<size_t>(&footprintMarker));
    std::fflush(stdout);

    footprintMarker = 1;
    runner.runBlock(BLOCK, nullptr);
    footprintMarker = 2;
    return 0;
}
