// SPDX-License-Identifier: MIT
// ReferenceEnvelope: the documented segment formulas and transitions, one sample at a time.
#include "tests/adsr/reference_envelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kvx::test {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Input guards: non-finite parameters count as 0.0, curves are limited to [-50, 50], and a
// sample rate that is not finite or is negative counts as 0.0.
double usable(double value) { return std::isfinite(value) ? value : 0.0; }
// A level a segment ends at or holds: as a float it must not be subnormal, so such a level is 0.
double usableLevel(double level) {
    return std::fabs(usable(level)) < std::numeric_limits<float>::min() ? 0.0 : usable(level);
}
double usableCurve(double curve) { return std::clamp(usable(curve), -50.0, 50.0); }
float usableRate(float rate) { return std::isfinite(rate) && rate >= 0.0f ? rate : 0.0f; }

}  // namespace

float referenceSeconds(double time) {
    float t = static_cast<float>(std::min(time, 2.0));
    float e = t * 10.0f;
    e = e * 0.4f;
    e = e - 3.0f;
    return std::pow(10.0f, e);  // the float overload: powf
}

SegmentPlan referencePlan(double level, double target, double time, double curve, float sampleRate) {
    SegmentPlan plan;
    const double distance = std::fabs(target - level);
    if (distance < static_cast<double>(1e-6f)) {
        plan.threshold = level + 1.0;
        return plan;
    }
    const double seconds = referenceSeconds(time);
    const double curveAmount = std::max(std::fabs(curve) * 10.0, static_cast<double>(0.001f));
    plan.samples = std::max(seconds * (static_cast<double>(sampleRate) * distance), 1.0);
    const double k = curveAmount / plan.samples;
    plan.coefficient = curve > 0.0 ? 1.0 - std::exp(-k) : std::exp(k) - 1.0;
    const double span = distance / (1.0 - std::exp(-curveAmount));
    const bool rising = target > level;
    const double overshoot = rising ? span - distance : distance - span;
    plan.threshold = rising ? 0.0 : target;
    if (curve >= 0.0) {
        plan.asymptote = target + overshoot;
    } else {
        plan.coefficient = -plan.coefficient;
        plan.asymptote = level - overshoot;
    }
    return plan;
}

double referenceStepLimit(double samples) { return std::floor(2.0 * samples) + 3.0; }

ReferenceEnvelope::ReferenceEnvelope(float sampleRate, bool stepLimit)
    : rate(usableRate(sampleRate)),
      limitSteps(stepLimit),
      paramsAt([](int64_t) { return EnvelopeParams{}; }) {
    runs.push_back(SegmentRun{-1, false, 0, 0, INF});
}

void ReferenceEnvelope::setParams(const EnvelopeParams& params) {
    paramsAt = [params](int64_t) { return params; };
}

void ReferenceEnvelope::setParams(std::function<EnvelopeParams(int64_t)> params) {
    paramsAt = std::move(params);
}

void ReferenceEnvelope::run(int64_t samples, const std::vector<ControlEvent>& events) {
    size_t next = 0;
    while (next < events.size() && events[next].time < now) ++next;
    const int64_t end = now + samples;
    while (now < end) {
        bool triggerUpdated = false, gateUpdated = false, resetUpdated = false, any = false;
        for (; next < events.size() && events[next].time == now; ++next) {
            const ControlEvent& e = events[next];
            any = true;
            if (e.pinId == 0) trigger = e.value != 0.0f, triggerUpdated = true;
            if (e.pinId == 1) gate = e.value != 0.0f, gateUpdated = true;
            if (e.pinId == 10) reset = e.value, resetUpdated = true;
        }
        if (any) onPinChanges(triggerUpdated, gateUpdated, resetUpdated);
        step();
    }
}

void ReferenceEnvelope::onPinChanges(bool triggerUpdated, bool gateUpdated, bool resetUpdated) {
    if (!installed) {
        installed = true;
        streamReports.push_back(StreamReport{now, false});
    }
    if (resetUpdated && reset == 1.0f) {
        segmentState = 3;
        advance();
    }
    if (triggerUpdated && trigger && gate) {
        segmentState = -1;
        advance();
    }
    if (gateUpdated && !gate && segmentState >= 0 && segmentState <= 2) {
        segmentState = 2;
        advance();
    }
}

void ReferenceEnvelope::advance() {
    const EnvelopeParams p = paramsAt(now);
    ++segmentState;
    switch (segmentState) {
        case 0:
            startSegment(p.attackTime, p.attackCurve, 1.0);
            break;
        case 1:
            startSegment(p.decayTime, p.decayCurve, p.sustainLevel);
            break;
        case 2:
            hold(p.sustainLevel);
            break;
        case 3:
            startSegment(p.releaseTime, p.releaseCurve, 0.0);
            break;
        default:
            segmentState = -1;
            hold(0.0);
    }
}

void ReferenceEnvelope::startSegment(double time, double curve, double target) {
    target = usableLevel(target);
    endValue = target;
    streamReports.push_back(StreamReport{now, true});
    const SegmentPlan plan = referencePlan(current, target, usable(time), usableCurve(curve), rate);
    coefficient = plan.coefficient;
    asymptote = plan.asymptote;
    threshold = plan.threshold;
    beginRun(true, referenceStepLimit(plan.samples), inStep ? now + 1 : now);
}

void ReferenceEnvelope::hold(double value) {
    value = usableLevel(value);
    endValue = value;
    streamReports.push_back(StreamReport{now, false});
    threshold = value - 1.0;
    coefficient = 0.0;
    asymptote = 0.0;
    beginRun(false, INF, inStep ? now + 1 : now);
}

void ReferenceEnvelope::beginRun(bool moving, double limit, int64_t firstStep) {
    if (runs.back().endedAt < 0) {  // cut short by an event
        runs.back().endedAt = now;
        runs.back().replaced = true;
    }
    runs.push_back(SegmentRun{segmentState, moving, now, firstStep, limit});
    steps = 0;
}

void ReferenceEnvelope::step() {
    current = current + (asymptote - current) * coefficient;
    ++steps;
    const bool ownEnd = current < threshold || current > 1.0;
    const bool forcedEnd = limitSteps && static_cast<double>(steps) >= runs.back().limit;
    if (ownEnd || forcedEnd) {
        runs.back().forced = !ownEnd;
        runs.back().endedAt = now;
        current = endValue;
        inStep = true;
        advance();
        inStep = false;
    }
    out.push_back(static_cast<float>(current));
    ++now;
}

}  // namespace kvx::test
