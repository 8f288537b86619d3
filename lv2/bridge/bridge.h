// SPDX-License-Identifier: MIT
// One LV2 plug-in instance of a described module: the module library loaded from the bundle
// with our host library, one module instance driven block by block as our host drives its
// voices (a one-voice VoicePool: sleep honoured, the held value in the output while the module
// sleeps), and the flavour's ports turned into the module's events and buffers at their exact
// frames.
#pragma once

#include <lv2/atom/atom.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/plugin_library.h"
#include "host/voice_pool.h"
#include "lv2/bridge/host_features.h"
#include "lv2/bridge/note_tracker.h"
#include "lv2/bridge/slice_events.h"
#include "lv2/layout/plugin_layout.h"
#include "describe/description.h"

namespace kvx::lv2 {

class BridgeError : public std::runtime_error {
public:
    explicit BridgeError(const std::string& message) : std::runtime_error(message) {}
};

// The block the module is driven in when the host does not tell its maximum, and the most any
// host can ask for: longer runs are split into slices of at most this many frames.
inline constexpr int32_t DEFAULT_SLICE = 1024;
inline constexpr int32_t MAX_SLICE = 8192;
// Sample rates the bridge accepts (Hz).
inline constexpr double MIN_SAMPLE_RATE = 1.0;
inline constexpr double MAX_SAMPLE_RATE = 1536000.0;

class Bridge {
public:
    // Loads everything from `bundle` for plug-in `uri`. Throws BridgeError (or the host
    // library's HostError) with a message fit for the host's log.
    Bridge(const std::string& bundle, const std::string& uri, double sampleRate,
           const HostFeatures& features);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    void connect(uint32_t port, void* data) noexcept;
    // Starts afresh: a new module instance if the current one has run. Not real-time.
    void activate();
    // Real-time safe: no allocation, lock or system call; any frame count.
    void run(uint32_t frames) noexcept;

    int32_t sliceLength() const noexcept { return maxSlice; }

private:
    struct Parameter {
        uint32_t port;
        const describe::PinDescription* pin;
        float* buffer = nullptr;  // audio pins: the pin's buffer, constant at `value`
        uint32_t userBits = 0;    // the port value last read, bit for bit
        float value = 0.0f;       // the pin value sent
        int64_t streamEnd = -1;   // audio pins: where the one-frame stream of a change ends
    };
    struct SignalPort {
        uint32_t port;
        int32_t pin;
        float* buffer = nullptr;
    };

    void createModule();
    float pinValueFor(const Parameter& parameter, float user) const noexcept;
    bool readParameter(Parameter& parameter) noexcept;  // true when the pin value changed
    void addStartEvents() noexcept;
    void addParameterChanges() noexcept;
    // Adds the slice's note, gate and reset events from the ports; returns the slice's length,
    // shortened when the event list fills.
    int32_t addSourceEvents(uint32_t runStart, int32_t length) noexcept;
    int32_t addMidiEvents(uint32_t runStart, int32_t length) noexcept;
    int32_t addEdgeEvents(uint32_t runStart, int32_t length) noexcept;
    void addNote(int32_t frame, GateChange change) noexcept;
    void writeOutputs(uint32_t runStart, int32_t length) noexcept;
    // No control moved since the last run and no one-frame stream of a change is still open.
    bool controlsUnchanged() const noexcept;
    void fillSilence(uint32_t frames) noexcept;

    describe::ModuleDescription module;
    PluginLayout layout;
    std::unique_ptr<host::PluginLibrary> library;
    std::unique_ptr<host::VoicePool> pool;           // one voice
    std::vector<std::vector<float>> furtherOutputs;  // outputs after the first (the pool binds one)
    float sampleRate;
    int32_t maxSlice;
    LV2_URID midiEvent = 0;

    std::vector<void*> ports;
    std::vector<Parameter> parameters;
    std::vector<SignalPort> signalIns;
    std::vector<SignalPort> signalOuts;
    int32_t triggerPin = -1;
    int32_t gatePin = -1;
    int32_t resetPin = -1;
    int64_t midiPort = -1;
    int64_t gatePort = -1;
    int64_t resetPort = -1;
    uint32_t ampIn[2] = {0, 0};
    uint32_t ampOut[2] = {0, 0};
    bool amp = false;
    // MIDI in, one output, no audio in: a run without events or changes while the module sleeps
    // only writes the held value.
    bool sleepShortcut = false;
    // The parameters' control ports and the bits last read from them, side by side for the
    // shortcut's check; and the frame before which a change's one-frame stream may be open.
    std::vector<const float*> controlPorts;
    std::vector<uint32_t> controlBits;
    int64_t streamsOpenUntil = -1;

    NoteTracker notes;
    bool gateHigh = false;
    bool resetHigh = false;
    const LV2_Atom_Event* nextMidi = nullptr;  // within the current run
    SliceEvents events;
    int64_t position = 0;  // frames run since activation
    bool fresh = true;     // the next slice starts the module's graph
    bool used = false;     // the module has run since it was created
};

}  // namespace kvx::lv2
