// SPDX-License-Identifier: MIT
// Draws docs/lv2-note.png: one MIDI note played through the envelope's midi plug-in in the lilv
// test host, in runs of 256 frames as a DAW plays it, with the plot writer `kvx render` uses.
// Usage: plot_lilv_note OUT.png
#include <cstdio>
#include <string>
#include <vector>

#include "tests/lv2/lilv_host.h"
#include "tests/support/test_paths.h"
#include "render/plot.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: plot_lilv_note OUT.png\n");
        return 2;
    }
    using namespace kvx::test;
    constexpr int RATE = 48000;
    constexpr int64_t ON = 12000, OFF = 57600, LENGTH = 105600;  // 0.25 s, 1.2 s, 2.2 s
    const Lv2World world({buildDir() + "/ADSR.lv2"});
    LilvPluginHost host(world, std::string(ADSR_URI_BASE) + "midi", {.sampleRate = RATE, .maxBlock = 256});
    if (host.instance() == nullptr) {
        std::fprintf(stderr, "plot_lilv_note: %s\n", host.messages().c_str());
        return 1;
    }
    const auto outputs =
        host.run(LENGTH, fixedBlocks(256), {MidiAt{ON, 0x90, 60, 100}, MidiAt{OFF, 0x80, 60, 0}});
    const std::vector<float>& samples = outputs.at("output");

    kvx::render::PlotData data;
    data.samples = &samples;
    data.rate = RATE;
    data.gates = {kvx::render::StreamSpan{ON, OFF}};
    data.hasModuleReports = false;
    data.title =
        "ADSR envelope (MIDI) in a lilv host: the plug-in's defaults (attack 0.1 s, decay 0.4 s, sustain "
        "0.5, "
        "release 0.8 s)";
    data.subtitle =
        "MIDI note on at frame 12000 (0.25 s), off at frame 57600 (1.2 s); runs of 256 frames at 48 kHz";
    kvx::render::writePlot(argv[1], kvx::render::PlotFormat::Png, data);
    return 0;
}
