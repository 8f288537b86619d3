// SPDX-License-Identifier: MIT
// Adsr: pins, transitions, segment set-up and the per-sample envelope loop.
#include "modules/adsr/adsr.h"

#include "modules/adsr/adsr_pins.h"

namespace kvx::adsr {

Adsr::Adsr() {
    // Each pin must receive the id hosts know it by: a call out of order throws.
    registerPin(trigger, PIN_TRIGGER);
    registerPin(gate, PIN_GATE);
    registerPin(attackTime, PIN_ATTACK_TIME);
    registerPin(decayTime, PIN_DECAY_TIME);
    registerPin(sustainLevel, PIN_SUSTAIN_LEVEL);
    registerPin(releaseTime, PIN_RELEASE_TIME);
    registerPin(attackCurve, PIN_ATTACK_CURVE);
    registerPin(decayCurve, PIN_DECAY_CURVE);
    registerPin(releaseCurve, PIN_RELEASE_CURVE);
    registerPin(output, PIN_OUTPUT);
    registerPin(reset, PIN_RESET);
}

IMpUnknown* createAdsr() {
    Adsr* adsr = new Adsr();
    return static_cast<IMpPlugin2*>(adsr);
}

void Adsr::onPinChanges() noexcept {
    // Installed at the first pin change, not at construction: until the host's first event the
    // module's routine is emptyRoutine and the host's output buffer is left unwritten.
    if (installModuleRoutineIfNew(subBlockRoutine(&Adsr::generateEnvelope)))
        output.declareStreaming(false, -1);
    if (reset.updatedNow() && reset.currentValue() == 1.0f) goIdle();
    if (trigger.updatedNow() && trigger.currentValue() && gate.currentValue()) startAttack();
    // Unsigned: idle (-1) and release (3) do not qualify.
    if (gate.updatedNow() && !gate.currentValue() && static_cast<uint32_t>(state) <= STATE_SUSTAIN)
        startRelease();
}

void Adsr::startAttack() noexcept {
    state = STATE_IDLE;
    nextSegment();
}

void Adsr::startRelease() noexcept {
    state = STATE_SUSTAIN;
    nextSegment();
}

void Adsr::goIdle() noexcept {
    state = STATE_RELEASE;
    nextSegment();  // past release: idle, level kept
}

void Adsr::startSegment(double time, double curve, double target) noexcept {
    target = usableLevel(target);
    endValue = target;
    output.declareStreaming(true, -1);
    const float sampleRate = usableSampleRate(hostSampleRate());
    const SegmentPlan plan = planSegment(level, target, finiteOrZero(time), usableCurve(curve), sampleRate);
    coefficient = plan.coefficient;
    asymptote = plan.asymptote;
    threshold = plan.threshold;
    stepsLeft = segmentStepLimit(plan.samples);
}

void Adsr::hold(double value) noexcept {
    value = usableLevel(value);
    endValue = value;
    output.declareStreaming(false, -1);
    threshold = value - 1.0;
    coefficient = 0.0;
    asymptote = 0.0;
    stepsLeft = UNLIMITED_STEPS;
}

void Adsr::nextSegment() noexcept {
    state = static_cast<EnvelopeState>(state + 1);
    switch (state) {
        case STATE_ATTACK:
            startSegment(attackTime.valueAt(-1), attackCurve.valueAt(-1), 1.0);
            break;
        case STATE_DECAY:
            startSegment(decayTime.valueAt(-1), decayCurve.valueAt(-1), sustainLevel.valueAt(-1));
            break;
        case STATE_SUSTAIN:
            hold(sustainLevel.valueAt(-1));
            break;
        case STATE_RELEASE:
            startSegment(releaseTime.valueAt(-1), releaseCurve.valueAt(-1), 0.0);
            break;
        default:
            state = STATE_IDLE;
            hold(0.0);
            break;
    }
}

__attribute__((noinline, cold)) void Adsr::endSegmentAt(int32_t offset) noexcept {
    level = endValue;
    const ScopedBlockPosition atEnd(*this, offset);  // the next segment reads its inputs here
    nextSegment();
}

void Adsr::generateEnvelope(int32_t sampleCount) noexcept {
    if (sampleCount <= 0) return;
    float* const out = output.boundBuffer() + blockPosition();
    int32_t i = 0;
    while (i < sampleCount) {
        // Samples the segment may run before its step limit forces the end.
        const int64_t unforced = stepsLeft - 1;
        const int32_t left = sampleCount - i;
        const int32_t stop = i + (unforced < left ? static_cast<int32_t>(unforced) : left);

        // Hot loop on locals: the only loop-carried value is `current`.
        double current = level;
        const double towards = asymptote;
        const double rate = coefficient;
        const double floorLevel = threshold;
        int32_t j = i;
        for (; j < stop; ++j) {
            current = current + (towards - current) * rate;
            if (current < floorLevel || current > 1.0) [[unlikely]]
                break;
            out[j] = static_cast<float>(current);
        }
        level = current;
        if (j == stop) {
            stepsLeft -= stop - i;
            if (stop == sampleCount) return;
        }
        // Sample j ends the segment, by its own test or by the step limit.
        endSegmentAt(j);
        out[j] = static_cast<float>(level);
        i = j + 1;
    }
}

}  // namespace kvx::adsr
