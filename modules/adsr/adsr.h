// SPDX-License-Identifier: MIT
// Adsr: the exponential ADSR envelope module "KV ADSR4". Trigger, gate and reset act at the
// sample of their event; attack, decay and release are exponential segments whose time and
// curve are read from the audio inputs when each segment starts.
#pragma once

#include <cstdint>

#include "interfaces/mp_unknown.h"
#include "modules/adsr/segment_math.h"
#include "plugin/audio_pins.h"
#include "plugin/control_pins.h"
#include "plugin/mp_base2.h"

namespace kvx::adsr {

enum EnvelopeState : int32_t {
    STATE_IDLE = -1,
    STATE_ATTACK = 0,
    STATE_DECAY = 1,
    STATE_SUSTAIN = 2,
    STATE_RELEASE = 3,
};

class Adsr : public MpBase2 {
public:
    // Registers the eleven pins with the ids of adsr_pins.h.
    Adsr();

    // ===== For benchmarks and tools in process (hosts use the interface operations only) =====
    // The running segment, as a value.
    struct SegmentSnapshot {
        double level;
        double coefficient;
        double endValue;
        double asymptote;
        double threshold;
        EnvelopeState state;
        int64_t stepsLeft;
    };
    SegmentSnapshot runningSegment() const noexcept {
        return SegmentSnapshot{level, coefficient, endValue, asymptote, threshold, state, stepsLeft};
    }
    // Puts back a segment taken with runningSegment(), e.g. to time the same stretch again.
    // The output's streaming state is left as it is. Not from inside process.
    void restoreSegment(const SegmentSnapshot& segment) noexcept {
        level = segment.level;
        coefficient = segment.coefficient;
        endValue = segment.endValue;
        asymptote = segment.asymptote;
        threshold = segment.threshold;
        state = segment.state;
        stepsLeft = segment.stepsLeft;
    }

    // The sub-block routine, installed as the module's routine: `sampleCount` output samples
    // from the block position on. Per sample one update, two comparisons, one store; a segment
    // ends on the exact sample. Real-time safe.
    void generateEnvelope(int32_t sampleCount) noexcept;

protected:
    // Reset, then trigger, then gate off, as set by the events of one timestamp.
    void onPinChanges() noexcept override;

private:
    friend struct AdsrTestAccess;  // the tests' and benchmarks' look inside, defined under tests/

    // The transitions: each sets the stage it leaves from, then nextSegment() sets up the next.
    void startAttack() noexcept;   // from the current level, whatever runs
    void startRelease() noexcept;  // from the current level
    void goIdle() noexcept;        // holding the current level

    // Sets up a moving segment from `level` to `target`; declares the output streaming.
    void startSegment(double time, double curve, double target) noexcept;
    // Sets up a still segment ending at `value`; declares the output constant.
    void hold(double value) noexcept;
    // Advances `state` and sets up the new segment from the inputs at the block position.
    void nextSegment() noexcept;
    // Ends the running segment on sample `offset` of the current stretch. Kept out of the
    // sample loop so that the end test stays a real branch.
    void endSegmentAt(int32_t offset) noexcept;

    // Declared in this order, not in the order of the pin ids (registration gives the ids), so
    // that what a moving block touches shares one cache line: the output's buffer pointer (the
    // last field of `output` but its streaming flag) and the running segment after it. With the
    // base's line of block position and routine, a moving block reads two lines of the instance.
    AudioOutPin output;

    double level = 0.0;                   // current value, written every sample
    double coefficient = 0.0;             // share of the way to `asymptote` per sample (< 0: accelerating)
    double asymptote = 0.0;               // value `level` moves relative to
    double threshold = 0.0;               // `level` below it ends the segment
    int64_t stepsLeft = UNLIMITED_STEPS;  // the segment ends on the step this reaches 1, at the latest
    double endValue = 0.0;                // value `level` takes when the segment ends
    EnvelopeState state = STATE_IDLE;

    BoolInPin trigger;
    BoolInPin gate;
    AudioInPin attackTime;
    AudioInPin decayTime;
    AudioInPin sustainLevel;
    AudioInPin releaseTime;
    AudioInPin attackCurve;
    AudioInPin decayCurve;
    AudioInPin releaseCurve;
    FloatInPin reset;
};

// The creator registered with the factory: a new instance as IMpUnknown (its IMpPlugin2 view),
// holding one reference. Throws on out of memory.
IMpUnknown* createAdsr();

}  // namespace kvx::adsr
