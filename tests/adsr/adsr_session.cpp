// SPDX-License-Identifier: MIT
// AdsrSession: the module and its reference fed the same inputs.
#include "tests/adsr/adsr_session.h"

#include <algorithm>
#include <cstring>

#include "interfaces/host_event.h"
#include "tests/support/test_paths.h"

namespace kvx::test {

const host::PluginLibrary& adsrLibrary() {
    static const host::PluginLibrary library(adsrLibraryPath());
    return library;
}

AdsrSession::AdsrSession(float rate, const EnvelopeParams& initial, int32_t maxBlockSize)
    : sampleRate(rate), instance(std::make_unique<host::PluginInstance>(adsrLibrary(), u"KV ADSR4", 0)) {
    instance->host().sampleRate = rate;
    renderer =
        std::make_unique<BlockRenderer>(*instance, OUTPUT,
                                        std::vector<int32_t>{ATTACK_TIME, DECAY_TIME, SUSTAIN, RELEASE_TIME,
                                                             ATTACK_CURVE, DECAY_CURVE, RELEASE_CURVE},
                                        maxBlockSize);
    setParams(initial);
}

void AdsrSession::setParams(const std::function<EnvelopeParams(int64_t)>& signal, int64_t length) {
    params = [signal, length](int64_t t) { return signal(std::min(t, length - 1)); };
    std::vector<float> values[7];
    for (int64_t t = 0; t < length; ++t) {
        const EnvelopeParams p = signal(t);
        const float row[7] = {p.attackTime,  p.decayTime,  p.sustainLevel, p.releaseTime,
                              p.attackCurve, p.decayCurve, p.releaseCurve};
        for (int i = 0; i < 7; ++i) values[i].push_back(row[i]);
    }
    for (int i = 0; i < 7; ++i) renderer->setInput(ATTACK_TIME + i, std::move(values[i]));
}

void AdsrSession::setParams(const EnvelopeParams& p) {
    params = [p](int64_t) { return p; };
    renderer->setInput(ATTACK_TIME, p.attackTime);
    renderer->setInput(DECAY_TIME, p.decayTime);
    renderer->setInput(SUSTAIN, p.sustainLevel);
    renderer->setInput(RELEASE_TIME, p.releaseTime);
    renderer->setInput(ATTACK_CURVE, p.attackCurve);
    renderer->setInput(DECAY_CURVE, p.decayCurve);
    renderer->setInput(RELEASE_CURVE, p.releaseCurve);
}

void AdsrSession::event(int64_t time, int32_t pinId, float value) {
    if (pinId == RESET)
        renderer->addFloat(time, pinId, value);
    else
        renderer->addBool(time, pinId, value != 0.0f);
    events.push_back(ControlEvent{time, pinId, value});
    std::stable_sort(events.begin(), events.end(),
                     [](const ControlEvent& a, const ControlEvent& b) { return a.time < b.time; });
}

void AdsrSession::streaming(int64_t time, int32_t pinId, bool begins) {
    renderer->addEvent(time, begins ? EV_STREAM_BEGIN : EV_STREAM_END, pinId);
}

const std::vector<float>& AdsrSession::render(int64_t samples, int32_t blockSize) {
    renderer->render(samples, blockSize);
    return renderer->output();
}

ReferenceEnvelope AdsrSession::expected(bool stepLimit) const {
    ReferenceEnvelope reference(sampleRate, stepLimit);
    reference.setParams(params);
    reference.run(static_cast<int64_t>(renderer->output().size()), events);
    return reference;
}

int64_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<int64_t>(i);
    return a.size() == b.size() ? -1 : static_cast<int64_t>(n);
}

}  // namespace kvx::test
