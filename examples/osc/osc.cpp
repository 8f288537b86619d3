// SPDX-License-Identifier: MIT
// KV OSC: a sine, band-limited saw or band-limited square oscillator; its frequency an audio
// input (0.1 per octave above 16 Hz), a sync input that restarts the phase at its event's sample.
// The output is declared constant while the frequency input stands still at no frequency (0 Hz),
// so a host may let an idle oscillator sleep.
#include <kvx/factory/registered_module.h>
#include <kvx/plugin/audio_pins.h>
#include <kvx/plugin/control_pins.h>
#include <kvx/plugin/mp_base2.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "osc_math.h"

namespace osc {

class Osc : public kvx::MpBase2 {
public:
    // The ids hosts address, as OSC.kvx.json describes them; append only, never renumber.
    enum Pin : int32_t {
        FREQUENCY,
        WAVEFORM,
        SYNC,
        OUTPUT
    };

    Osc() {
        registerPin(frequency, FREQUENCY);  // throws if the order disagrees with the enum
        registerPin(waveform, WAVEFORM);
        registerPin(sync, SYNC);
        registerPin(output, OUTPUT);
    }

protected:
    // Once per event timestamp: the routine at the first change, the waveform, a sync's restart,
    // and whether the output moves from here on. It moves while the frequency input streams or
    // holds a frequency that moves the phase; otherwise it holds the waveform's value at the
    // phase where it stopped, and is declared constant again at every change (a sync or a new
    // waveform gives a new value: the host learns where it starts).
    void onPinChanges() noexcept override {
        installModuleRoutineIfNew(kvx::subBlockRoutine(&Osc::run));
        const double rate = hostSampleRate();
        if (rate != sampleRate) {
            sampleRate = rate;
            lastStep = phaseStep(std::bit_cast<float>(lastPinBits), sampleRate);
        }
        if (waveform.updatedNow()) shape = waveformFor(waveform.currentValue());
        if (sync.updatedNow() && sync.currentValue()) phase = 0.0;
        const bool moves = frequency.isStreaming() || phaseStep(frequency.valueAt(-1), sampleRate) != 0.0;
        if (!moves) held = outputSample(waveSample(shape, phase, 0.0));
        if (moves != output.isStreaming() || !moves) output.declareStreaming(moves, -1);
    }

private:
    // Real-time safe: no allocation, lock or system call. Writes the stretch from the block
    // position on, one frequency sample per output sample; every sample depends only on the
    // samples and events before it, so any cut of the blocks gives the same output.
    void run(int32_t sampleCount) noexcept {
        const int32_t at = blockPosition();
        float* out = output.boundBuffer() + at;
        if (!output.isStreaming()) {
            std::fill(out, out + sampleCount, held);
            return;
        }
        const float* pin = frequency.boundBuffer() + at;
        switch (shape) {
            case Waveform::Sine:
                writeRun<Waveform::Sine>(pin, out, sampleCount);
                return;
            case Waveform::Saw:
                writeRun<Waveform::Saw>(pin, out, sampleCount);
                return;
            case Waveform::Square:
                writeRun<Waveform::Square>(pin, out, sampleCount);
                return;
        }
    }

    // One loop per waveform, so that no sample decides the waveform again; a frequency that does
    // not stream holds one value for the whole run, so no sample looks at it again either.
    template <Waveform W>
    void writeRun(const float* pin, float* out, int32_t sampleCount) noexcept {
        if (!frequency.isStreaming()) {
            stepFor(pin[0]);
            phase = writeAtStep<W>(out, sampleCount, phase, lastStep);
            return;
        }
        double t = phase;
        for (int32_t i = 0; i < sampleCount; ++i) {
            // A constant frequency costs one exp2 per change, not per sample.
            stepFor(pin[i]);
            out[i] = outputSample(waveSample(W, t, lastStep));
            t = nextPhase(t, lastStep);
        }
        phase = t;
    }

    void stepFor(float pinValue) noexcept {
        const uint32_t bits = std::bit_cast<uint32_t>(pinValue);
        if (bits == lastPinBits) [[likely]] return;
        lastPinBits = bits;
        lastStep = phaseStep(pinValue, sampleRate);
    }

    kvx::AudioInPin frequency;  // 0.1 per octave, 0 = 16 Hz (osc_math.h)
    kvx::FloatInPin waveform;   // 0 sine, 1 saw, 2 square; 0.0 until the host sends a value
    kvx::BoolInPin sync;        // every true value restarts the phase
    kvx::AudioOutPin output;
    Waveform shape = Waveform::Sine;
    double phase = 0.0;        // in cycles, [0, 1)
    double sampleRate = 0.0;   // the host's, read at every change
    uint32_t lastPinBits = 0;  // the last frequency pin value seen (bits), and its step
    double lastStep = 0.0;
    float held = 0.0f;  // the output while it is declared constant
};

const kvx::RegisteredModule<Osc> registration{0, u"KV OSC"};

}  // namespace osc
