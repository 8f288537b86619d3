// SPDX-License-Identifier: MIT
// One LV2 plug-in instance of a patch: the patch read from the bundle, its modules loaded from the
// libraries beside it and run as one host::Patch, one voice. MIDI notes and the control ports
// reach the patch through patch::PatchDriver at their exact frames, as `kvx render` plays a
// score's notes and controls; the effect plug-in's audio ports feed the patch's inputs.
#pragma once

#include <lv2/atom/atom.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/patch.h"
#include "lv2/bridge/host_features.h"
#include "lv2/layout/plugin_layout.h"
#include "patch/patch_driver.h"
#include "patch/patch_file.h"

namespace kvx::lv2 {

class PatchBridge {
public:
    // Loads the patch of `bundle` for plug-in `uri`. Throws (BridgeError, the patch reader's or
    // the host library's errors) with a message fit for the host's log.
    PatchBridge(const std::string& bundle, const std::string& uri, double sampleRate,
                const HostFeatures& features);
    ~PatchBridge();
    PatchBridge(const PatchBridge&) = delete;
    PatchBridge& operator=(const PatchBridge&) = delete;

    void connect(uint32_t port, void* data) noexcept;
    // Starts afresh: a new patch if the current one has run. Not real-time.
    void activate();
    // Real-time safe: no allocation, lock or system call; any frame count.
    void run(uint32_t frames) noexcept;

    static constexpr int32_t EVENT_CAPACITY = 512;

private:
    struct ControlPort {
        uint32_t port;
        size_t control;  // into file.controls
        uint32_t userBits = 0;
    };
    struct InputPort {
        uint32_t port;
        float* buffer = nullptr;
    };
    struct OutputPort {
        uint32_t port;
        size_t output;
    };

    void createPatch();
    // Controls changed since the last run, at frame 0; at the start, the values held from there.
    void readControls(bool start) noexcept;
    int32_t addMidiEvents(uint32_t runStart, int32_t length) noexcept;
    void onMidi(const uint8_t* message, uint32_t size, int32_t frame) noexcept;

    patch::PatchFile file;
    PluginLayout layout;
    std::unique_ptr<host::Patch> engine;
    float sampleRate;
    int32_t maxSlice;
    LV2_URID midiEvent = 0;

    std::vector<void*> ports;
    int64_t midiPort = -1;
    std::vector<ControlPort> controls;
    std::vector<InputPort> inputs;
    std::vector<OutputPort> outputs;
    std::unique_ptr<patch::PatchDriver> driver;  // notes and controls as kvx render plays them
    int32_t reserve = 0;                         // room one MIDI message and the stream ends due may need

    const LV2_Atom_Event* nextMidi = nullptr;
    int64_t position = 0;
    bool fresh = true;
    bool used = false;
};

}  // namespace kvx::lv2
