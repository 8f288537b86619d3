// SPDX-License-Identifier: MIT
// A lean LV2 host on liblilv for the benchmarks: one world over the benchmark's LV2 path (the
// envelope's bundle and Faust's en.adsre built by faust2lv2), plug-ins instantiated with a URID
// map and buf-size options, ports by symbol, MIDI note events for the next run, and runs.
#pragma once

#include <lilv/lilv.h>
#include <lv2/options/options.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lv2/host_support/midi_sequence.h"
#include "lv2/host_support/uri_map.h"

namespace kvx::bench {

inline constexpr const char* LV2_MIDI_URI = "https://kvx.example.org/modules/adsr/midi";
inline constexpr const char* FAUST_LV2_URI = "https://faustlv2.bitbucket.io/faust_adsre";

class Lv2Plugin {
public:
    // Loads the world once (LV2_PATH is set to the benchmark's folder) and instantiates `uri`
    // at the benchmark's rate, offering blocks up to `maxBlock`. Exits with a message when the
    // plug-in cannot be had.
    Lv2Plugin(const std::string& uri, int32_t maxBlock);
    ~Lv2Plugin();
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    // True for an lv2:InstrumentPlugin.
    bool isInstrument() const;
    void setControl(const std::string& symbol, float value);
    const float* audio(const std::string& symbol);
    // A note on (or off) at `frame` of the next run; the run clears them.
    void note(uint32_t frame, bool on);
    // A three-byte MIDI message at `frame` of the next run.
    void midiMessage(uint32_t frame, uint8_t status, uint8_t key, uint8_t velocity);
    void run(uint32_t frames);

private:
    LilvInstance* instance = nullptr;
    const LilvPlugin* plugin = nullptr;
    lv2::UriMap uris;
    lv2::MidiSequence midi{uris, 8192};  // bytes
    int32_t maxBlockLength;
    std::vector<LV2_Options_Option> options;
    std::map<std::string, uint32_t> ports;
    std::map<uint32_t, float> controls;
    std::map<uint32_t, std::vector<float>> buffers;
    bool hasMidi = false;
};

}  // namespace kvx::bench
