// SPDX-License-Identifier: MIT
// ReferenceEnvelope: the envelope's documented behaviour written out again, sample by sample and
// independently of modules/adsr, so that tests can state the exact output (and the host reports)
// a correct module produces for any parameters and events.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tests/support/block_renderer.h"

namespace kvx::test {

// The seven parameter inputs, as the module reads them (32-bit floats).
struct EnvelopeParams {
    float attackTime = 0.5f;  // 0 -> 1 ms, 0.25 -> 10 ms, 0.5 -> 100 ms, 0.75 -> 1 s, 1 -> 10 s
    float decayTime = 0.5f;
    float sustainLevel = 0.5f;
    float releaseTime = 0.5f;
    float attackCurve = 0.1f;
    float decayCurve = 0.1f;
    float releaseCurve = 0.1f;
};

// The plan of a moving segment from `level` to `target`, from the documented formulas.
struct SegmentPlan {
    double coefficient = 0.0;
    double asymptote = 0.0;
    double threshold = 0.0;
    double samples = 1.0;  // planned length after the floor of 1.0 (1.0 for a near target)
};

// Seconds of a full-scale transition for a time value: 10^(t * 10 * 0.4 - 3) in float.
float referenceSeconds(double time);
// The plan for already sanitised inputs.
SegmentPlan referencePlan(double level, double target, double time, double curve, float sampleRate);
// The step on which a moving segment planned for `samples` ends at the latest: floor(2 x samples) + 3.
double referenceStepLimit(double samples);

// One control event for the model: trigger (pin 0), gate (pin 1) or reset (pin 10).
struct ControlEvent {
    int64_t time;
    int32_t pinId;
    float value;  // bools as 0.0 / 1.0
};

// One segment as the model ran it.
struct SegmentRun {
    int32_t state;          // -1 idle, 0 attack, 1 decay, 2 sustain, 3 release
    bool moving;            // set up by startSegment
    int64_t setUpAt;        // sample at which it was set up
    int64_t firstStep;      // sample of its step 1
    double limit;           // step limit of a moving segment (enforced or not), else infinity
    int64_t endedAt = -1;   // sample on which it ended; -1 while running
    bool forced = false;    // ended by the step limit, not by its own test
    bool replaced = false;  // cut short by a trigger, gate-off or reset event
};

class ReferenceEnvelope {
public:
    // `stepLimit` false gives the plain recurrence, whose segments may never end.
    explicit ReferenceEnvelope(float sampleRate, bool stepLimit = true);

    // Parameters as a function of absolute time (constant by default).
    void setParams(const EnvelopeParams& params);
    void setParams(std::function<EnvelopeParams(int64_t)> params);

    // Runs `samples` samples from the current position with `events` (absolute times, any
    // order of pins within one time, sorted by time) and appends to output().
    void run(int64_t samples, const std::vector<ControlEvent>& events);

    const std::vector<float>& output() const { return out; }
    const std::vector<StreamReport>& reports() const { return streamReports; }
    const std::vector<SegmentRun>& segments() const { return runs; }
    double level() const { return current; }
    int32_t state() const { return segmentState; }

private:
    void onPinChanges(bool triggerUpdated, bool gateUpdated, bool resetUpdated);
    void advance();
    void startSegment(double time, double curve, double target);
    void hold(double value);
    void beginRun(bool moving, double limit, int64_t firstStep);
    void step();

    float rate;
    bool limitSteps;
    std::function<EnvelopeParams(int64_t)> paramsAt;
    bool installed = false;
    bool trigger = false;
    bool gate = false;
    float reset = 0.0f;

    double current = 0.0, coefficient = 0.0, endValue = 0.0, asymptote = 0.0, threshold = 0.0;
    int32_t segmentState = -1;
    int64_t steps = 0;  // steps of the running segment so far
    int64_t now = 0;
    bool inStep = false;

    std::vector<float> out;
    std::vector<StreamReport> streamReports;
    std::vector<SegmentRun> runs;
};

}  // namespace kvx::test
