// SPDX-License-Identifier: MIT
// One LV2 instrument plug-in instance: the bundle's patch played by host::Instrument with the
// patch's voices, as kvx render --midi plays it. MIDI messages reach the instrument at their
// exact frames, a control port changed between runs at frame 0 of the run, and the instrument
// cuts its blocks at the notes itself, so that any run schedule gives the same samples.
#pragma once

#include <lv2/atom/atom.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/instrument.h"
#include "lv2/bridge/host_features.h"
#include "lv2/layout/plugin_layout.h"
#include "patch/patch_file.h"

namespace kvx::lv2 {

class InstrumentBridge {
public:
    // Loads the patch of `bundle` for plug-in `uri` and builds its voices. Throws (BridgeError,
    // the patch reader's or the host library's errors) with a message fit for the host's log.
    InstrumentBridge(const std::string& bundle, const std::string& uri, double sampleRate,
                     const HostFeatures& features);
    ~InstrumentBridge();
    InstrumentBridge(const InstrumentBridge&) = delete;
    InstrumentBridge& operator=(const InstrumentBridge&) = delete;

    void connect(uint32_t port, void* data) noexcept;
    // activate and deactivate end every note and silence every voice (at the next run's frame
    // 0, once it has run): a bypassed or restarted instrument leaves nothing sounding.
    void reset() noexcept { pendingReset = started; }
    // Real-time safe: no allocation, lock or system call; any frame count.
    void run(uint32_t frames) noexcept;

    // Note events the bridge hands the instrument in one block.
    static constexpr int32_t EVENT_CAPACITY = 512;

private:
    struct ControlPort {
        uint32_t port;
        size_t control;         // into file.controls
        uint32_t userBits = 0;  // the port's value at the last run
    };
    struct OutputPort {
        uint32_t port;
        size_t output;
    };

    // Controls changed since the last run, at frame 0; at the first run, the values held from
    // the start.
    void readControls(bool start) noexcept;
    void add(const host::NoteEvent& event) noexcept;
    // The run's MIDI from `runStart` for at most `length` frames; returns the frames of the
    // block, shorter when the block's event list fills.
    int32_t addMidiEvents(uint32_t runStart, int32_t length) noexcept;

    patch::PatchFile file;
    PluginLayout layout;
    std::unique_ptr<host::Instrument> instrument;
    int32_t maxSlice = 0;
    LV2_URID midiEvent = 0;

    std::vector<void*> ports;
    int64_t midiPort = -1;
    std::vector<ControlPort> controls;
    std::vector<OutputPort> outputs;
    std::array<host::NoteEvent, EVENT_CAPACITY> events{};
    int32_t count = 0;

    const LV2_Atom_Event* nextMidi = nullptr;
    bool started = false;
    bool pendingReset = false;
};

}  // namespace kvx::lv2
