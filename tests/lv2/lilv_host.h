// SPDX-License-Identifier: MIT
// A small LV2 host on liblilv for the tests: a world loaded from a temporary LV2_PATH holding
// copies of bundles, plug-ins instantiated with a URID map, a log that keeps what plug-ins say
// and, on request, the buffer sizes in options; ports connected by symbol, MIDI sent as atom
// sequences at chosen frames, and runs in any block schedule.
#pragma once

#include <lilv/lilv.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lv2/host_support/midi_sequence.h"
#include "lv2/host_support/uri_map.h"
#include "tests/support/tool_runner.h"

namespace kvx::test {

inline constexpr const char* ADSR_URI_BASE = "https://kvx.example.org/modules/adsr/";

// A folder on LV2_PATH with copies of bundles, and the lilv world that loaded it.
class Lv2World {
public:
    // Copies each bundle folder into a fresh folder, points LV2_PATH at it and loads the world.
    // `prepare`, when given, may change the copies (given the folder) before lilv reads them.
    explicit Lv2World(const std::vector<std::string>& bundles,
                      const std::function<void(const std::string& folder)>& prepare = nullptr);
    ~Lv2World();
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    ::LilvWorld* world() const { return lilvWorld; }
    const LilvPlugin* plugin(const std::string& uri) const;  // null when not found
    std::string bundleCopy(const std::string& name) const { return folder.path(name); }

private:
    ScratchFolder folder;
    ::LilvWorld* lilvWorld = nullptr;
};

// One MIDI message at a frame of the whole session: its first `size` bytes of status, data1,
// data2 (fewer than 3 for short or status-less events).
struct MidiAt {
    int64_t frame;
    uint8_t status, data1, data2;
    uint8_t size = 3;
};

class LilvPluginHost {
public:
    struct Options {
        double sampleRate = 48000.0;
        int32_t maxBlock = 0;  // > 0: offered through options as bufsz:maxBlockLength
        bool offerMap = true;
        bool offerLog = true;
    };
    // Instantiates `uri`; instance() is null when the plug-in refuses (see messages()).
    LilvPluginHost(const Lv2World& world, const std::string& uri, const Options& options);
    ~LilvPluginHost();
    LilvPluginHost(const LilvPluginHost&) = delete;
    LilvPluginHost& operator=(const LilvPluginHost&) = delete;

    LilvInstance* instance() const { return lilvInstance; }
    const std::string& messages() const { return logged; }
    uint32_t portIndex(const std::string& symbol) const;  // aborts the test when missing
    uint32_t portCount() const;

    // Control ports hold their description's defaults until set.
    void setControl(const std::string& symbol, float value);
    float& control(const std::string& symbol);

    // Runs `length` frames in blocks from `nextBlock` (called with the frames left), sending
    // `midi` to midi_in, feeding `inputs` (by port symbol) and collecting every audio or CV
    // output by symbol. `beforeBlock` may change controls between runs (given the block's start).
    std::map<std::string, std::vector<float>> run(
        int64_t length, const std::function<int32_t(int64_t left)>& nextBlock,
        const std::vector<MidiAt>& midi = {}, const std::map<std::string, std::vector<float>>& inputs = {},
        const std::function<void(int64_t start)>& beforeBlock = nullptr);

    // Called right before and after every lilv_instance_run (to count what run does).
    std::function<void()> onRunStart;
    std::function<void()> onRunEnd;

    LV2_URID_Map* urids() { return uris.feature(); }

private:
    static int logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
    static int logVprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);

    const LilvPlugin* plugin = nullptr;
    LilvInstance* lilvInstance = nullptr;
    lv2::UriMap uris;
    LV2_Log_Log log{};
    int32_t maxBlock = 0;
    std::vector<LV2_Options_Option> options;
    std::vector<LV2_Feature> featureStore;
    std::vector<const LV2_Feature*> features;
    std::string logged;
    std::map<uint32_t, float> controls;
    std::optional<lv2::MidiSequence> sequence;  // the MIDI input's buffer
    std::map<uint32_t, std::vector<float>> audio;
    std::vector<std::pair<std::string, uint32_t>> audioOutputs;
    std::vector<std::pair<std::string, uint32_t>> audioInputs;
    int32_t capacity = 0;
};

// Every preset lilv relates to the plug-in at `uri`, by label: the control port values restoring
// it sets, by symbol.
using PresetValues = std::map<std::string, std::map<std::string, float>>;
PresetValues presetValues(const Lv2World& world, LilvPluginHost& host, const std::string& uri);

// Block schedules: fixed sizes, or random sizes from 1 to 4096 from a seed.
std::function<int32_t(int64_t)> fixedBlocks(int32_t size);
std::function<int32_t(int64_t)> randomBlocks(uint32_t seed, int32_t largest = 4096);

}  // namespace kvx::test
