// SPDX-License-Identifier: MIT
// ProbeModule: a small module built on the plug-in base exactly as any module is (pins as
// members, registered in the constructor, onPinChanges, an installed routine), which leaves a
// record of what the base made it see: every sub-block call and every pin notification. What a
// module cannot see through its own API (sleep permission, streaming count) it reads through
// MpTestAccess.
#pragma once

#include <array>
#include <cstdint>

#include "interfaces/mp_unknown.h"
#include "plugin/audio_pins.h"
#include "plugin/control_pins.h"
#include "plugin/mp_base2.h"

namespace kvx::test {

// Pin ids in registration order; inputs and outputs interleave on purpose (graph start must
// visit the outputs 1, 3, 5 in that order and skip the inputs).
enum ProbePin : int32_t {
    PROBE_SIGNAL = 0,    // audio in; only its streaming state matters
    PROBE_OFFSETS = 1,   // audio out: each written sample holds the blockOffset its sub-block began at
    PROBE_FLAG = 2,      // bool in: a value event declares both audio outputs streaming (true) or constant
    PROBE_COUNTS = 3,    // audio out: each written sample holds its sub-block's length, negated
                         // when sleep was not allowed during it
    PROBE_START_AT = 4,  // float in: the routine declares both outputs streaming when it reaches
                         // this sample of a block, if they are constant; negative (the
                         // initial -1): never
    PROBE_ECHO = 5,      // float out (control): reports its value at graph start
    PROBE_STOP_AT = 6,   // float in: the routine declares both outputs constant when it reaches
                         // this sample of a block, whatever their state (so the host stores a
                         // new countdown in the middle of a wrapped call); negative: never
    PROBE_PIN_COUNT = 7
};

inline constexpr char16_t PROBE_MODULE_ID[] = u"KVX PROBE";
inline constexpr int32_t PROBE_SUBTYPE = 0;

struct ProbeRecord {
    enum Kind : int32_t {
        ROUTINE,
        NOTIFY,
        PIN_CHANGES
    };
    Kind kind;
    int32_t offset;  // blockOffset at the time
    int32_t count;   // ROUTINE: sample count; NOTIFY: the event's type
    int32_t pinId;   // NOTIFY: the event's pin
    bool sleepAllowed;
    // The module's view of its pins at the time.
    bool signalUpdated;
    bool flagUpdated;
    bool flagValue;
    bool startUpdated;
    float startAt;
    int32_t streamingCount;
};

class ProbeModule : public MpBase2 {
public:
    ProbeModule();

    void onPinChanges() noexcept override;
    void run(int32_t sampleCount) noexcept;
    void noteEvent(const HostEvent* event) noexcept;

    AudioInPin signal;
    AudioOutPin offsets;
    BoolInPin flag;
    AudioOutPin counts;
    FloatInPin startAt;
    FloatOutPin echo;
    FloatInPin stopAt;

    // Fixed capacity, so that recording never allocates; records past it are dropped.
    std::array<ProbeRecord, 256> records{};
    int32_t recordCount = 0;
    bool recordsDropped = false;

private:
    void note(ProbeRecord::Kind kind, int32_t count, int32_t pinId) noexcept;
};

// The creator registered in Probe.kvx: a new instance holding one reference.
IMpUnknown* createProbe();

}  // namespace kvx::test
