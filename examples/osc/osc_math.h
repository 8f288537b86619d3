// SPDX-License-Identifier: MIT
// The oscillator's arithmetic, apart from pins and hosts: the frequency pin value as a phase step,
// the waveform control as a waveform, and one output sample from a phase and a step.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace osc {

// The frequency pin carries 0.1 per octave above 16 Hz, as OSC.kvx.json's mapping says
// (pin = 0.1 * log2(Hz) - 0.4): pin 0 is 16 Hz, 0.5 is 512 Hz, 1 is 16384 Hz, so a plain 0..1
// signal (an envelope) sweeps ten octaves, and a semitone is 1/120. Hz = 2^((pin + 0.4) / 0.1).
constexpr double PIN_PER_OCTAVE = 0.1;  // the mapping's scale
constexpr double PIN_OFFSET = -0.4;     // the mapping's offset: the pin value of 1 Hz

// The phase moves in cycles per sample. At most half a cycle (the Nyquist frequency): above it
// (and for +inf) the step stays there. Below 2^-40 of a cycle (at 48 kHz about 44 nHz, a period of
// eight months; also 0 Hz, a pin value of -inf or far below 0, NaN, and a sample rate that is
// not a positive finite number) the oscillator stands still, so that the host may let it sleep.
constexpr double MAX_STEP = 0.5;
constexpr double MIN_STEP = 0x1p-40;

// The phase step for a frequency pin value at `sampleRate` (samples per second): in
// [MIN_STEP, MAX_STEP], or 0.0 when the oscillator stands still.
inline double phaseStep(float pinValue, double sampleRate) noexcept {
    if (!(sampleRate > 0.0 && sampleRate <= DBL_MAX)) return 0.0;
    const double hertz = std::exp2((static_cast<double>(pinValue) - PIN_OFFSET) / PIN_PER_OCTAVE);
    const double step = hertz / sampleRate;
    if (!(step >= MIN_STEP)) return 0.0;  // NaN too
    return step < MAX_STEP ? step : MAX_STEP;
}

enum class Waveform {
    Sine,
    Saw,
    Square
};

// The waveform control: the nearest of 0 (sine), 1 (saw) and 2 (square), halves rounded up;
// below 0 and NaN are sine, above 2 square.
inline Waveform waveformFor(float control) noexcept {
    if (!(control >= 0.5f)) return Waveform::Sine;
    return control < 1.5f ? Waveform::Saw : Waveform::Square;
}

// The band-limiting of the saw's and the square's steps: PolyBLEP, the two-sample polynomial
// band-limited step (Valimaki and Huovilainen, "Antialiasing oscillators in subtractive
// synthesis", IEEE Signal Processing Magazine, 2007). A unit step at phase 0 (phase t in cycles,
// step dt) is corrected on the sample after it and the sample before it:
//   t < dt:      x = t / dt,        residual = 2x - x^2 - 1   (from -1 at the step to 0)
//   t > 1 - dt:  x = (t - 1) / dt,  residual = x^2 + 2x + 1   (from 0 to 1 at the step)
// and the naive waveform minus the residual (scaled by the step's height / 2) is the output. Every
// other sample is the naive waveform. With dt = 0 no sample is corrected.
inline double polyBlep(double t, double dt) noexcept {
    if (t < dt) [[unlikely]] {
        const double x = t / dt;
        return x + x - x * x - 1.0;
    }
    if (t > 1.0 - dt) [[unlikely]] {
        const double x = (t - 1.0) / dt;
        return x * x + x + x + 1.0;
    }
    return 0.0;
}

// The output at phase `t` in [0, 1) moving by `dt` (at most MAX_STEP) cycles per sample, in
// [-1, 1] for every waveform: the sine sin(2 pi t); the saw 2t - 1, falling at t = 0; the square
// 1 for t < 0.5 and -1 after.
inline double waveSample(Waveform waveform, double t, double dt) noexcept {
    switch (waveform) {
        case Waveform::Saw:
            return 2.0 * t - 1.0 - polyBlep(t, dt);
        case Waveform::Square: {
            double half = t + 0.5;
            if (half >= 1.0) half -= 1.0;
            return (t < 0.5 ? 1.0 : -1.0) + polyBlep(t, dt) - polyBlep(half, dt);
        }
        case Waveform::Sine:
            break;
    }
    return std::sin(2.0 * std::numbers::pi * t);
}

// The phase one sample on: `step` is at most half a cycle, so one wrap suffices.
inline double nextPhase(double phase, double step) noexcept {
    phase += step;
    if (phase >= 1.0) [[unlikely]] phase -= 1.0;
    return phase;
}

// The output as the host gets it: rounded to float once, results too small for a normal float
// as 0 (a host's later arithmetic on subnormals is slow).
inline float outputSample(double y) noexcept {
    if (std::fabs(y) < static_cast<double>(FLT_MIN)) [[unlikely]] return 0.0f;
    return static_cast<float>(y);
}

// How many samples from phase `t` at `step` are surely plain saw: at least `step` and at most
// 1 - 2 step, where no sample is corrected, none wraps and none is too small for a float (2t - 1
// is exact there, 0 or at least 2^-53). The phase after j steps is t + j step give or take j
// roundings of at most 2^-54: with three steps to spare (at least 3 x 2^-40) and at most
// PLAIN_SAW_RUN samples (2^12 roundings, 2^-42) no counted sample lies past 1 - 2 step.
constexpr int32_t PLAIN_SAW_RUN = 4096;
inline int32_t plainSawSamples(double t, double step, int32_t most) noexcept {
    const double last = 1.0 - 2.0 * step;
    if (!(t >= step && t <= last)) return 0;
    const double room = (last - t) / step - 3.0;
    if (most > PLAIN_SAW_RUN) most = PLAIN_SAW_RUN;
    return room >= most ? most : (room > 0.0 ? static_cast<int32_t>(room) : 0);
}

// `count` samples from phase `t` at one step: the phase after them. The saw's stretches between
// its steps are the two operations per sample left when nothing is corrected, wraps or is
// flushed, the same bits as waveSample and outputSample give there.
template <Waveform W>
double writeAtStep(float* out, int32_t count, double t, double step) noexcept {
    for (int32_t i = 0; i < count;) {
        if constexpr (W == Waveform::Saw) {
            for (const int32_t end = i + plainSawSamples(t, step, count - i); i < end; ++i) {
                out[i] = static_cast<float>(2.0 * t - 1.0);
                t += step;
            }
            if (i == count) break;
        }
        out[i++] = outputSample(waveSample(W, t, step));
        t = nextPhase(t, step);
    }
    return t;
}

}  // namespace osc
