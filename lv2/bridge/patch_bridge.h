// SPDX-License-Identifier: MIT
// One LV2 plug-in instance of a patch: the patch read from the bundle, its modules loaded from the
// libraries beside it and run as one host::Patch, one voice. MIDI notes drive the pins the patch's
// note mapping names (gate, trigger, pitch with pitch bend, velocity) at their exact frames, the
// control ports drive the patch's controls, and the effect plug-in's audio ports feed the patch's
// inputs.
#pragma once

#include <lv2/atom/atom.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/patch.h"
#include "lv2/bridge/host_features.h"
#include "lv2/layout/plugin_layout.h"
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
    // A module input the bridge sets: from a control or a note's pitch or velocity.
    struct DrivenPin {
        int32_t module;
        int32_t pin;
        const describe::PinDescription* described;
        host::PatchPinKind kind;
        float initial;            // the value the patch starts with
        float* buffer = nullptr;  // audio pins: the patch's buffer for the pin
        float value = 0.0f;       // the value last set
        int64_t streamEnd = -1;   // audio pins: where the one-frame stream of a change ends
        bool refill = false;      // audio pins: the buffer holds a change part-way through
    };
    struct ControlPort {
        uint32_t port;
        const patch::Control* control;
        std::vector<size_t> pins;  // into driven
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
    size_t drivenPin(const patch::PinRef& ref);
    // Sets `pin` to `value` from `frame` of the slice: a value event, or for an audio pin the
    // buffer from there on and a one-frame stream (joined with one still open).
    void set(DrivenPin& pin, int32_t frame, int32_t length, float value, host::EventRank rank) noexcept;
    void add(int32_t frame, int32_t module, int32_t type, int32_t pin, float value,
             host::EventRank rank) noexcept;
    void addEndedStreams(int32_t length) noexcept;
    // Controls changed since the last run, at frame 0; at the start, only the values held.
    void readControls(bool start, int32_t length) noexcept;
    int32_t addMidiEvents(uint32_t runStart, int32_t length) noexcept;
    void onMidi(const uint8_t* message, uint32_t size, int32_t frame, int32_t length) noexcept;
    void setPitch(int32_t frame, int32_t length) noexcept;
    void sortEvents() noexcept;

    patch::PatchFile file;
    PluginLayout layout;
    std::unique_ptr<host::Patch> engine;
    float sampleRate;
    int32_t maxSlice;
    LV2_URID midiEvent = 0;

    std::vector<void*> ports;
    int64_t midiPort = -1;
    std::vector<DrivenPin> driven;
    std::vector<ControlPort> controls;
    std::vector<InputPort> inputs;
    std::vector<OutputPort> outputs;
    std::vector<size_t> pitchPins, velocityPins;  // into driven
    std::vector<patch::PinRef> gatePins, triggerPins;
    int32_t reserve = 0;  // room one MIDI message and the stream ends due may need

    int sounding = -1;  // channel * 128 + key, or -1
    int lastKey = -1;   // the key of the latest note on, for the pitch
    double bend = 0.0;  // -1 to 1
    const LV2_Atom_Event* nextMidi = nullptr;
    std::array<host::PatchEvent, EVENT_CAPACITY> events{};
    int32_t eventCount = 0;
    int64_t position = 0;
    bool fresh = true;
    bool used = false;
};

}  // namespace kvx::lv2
