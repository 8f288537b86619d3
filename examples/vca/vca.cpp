// SPDX-License-Identifier: MIT
// KV VCA: output = input x control x level x fade, the level a float control in dB, the fade an
// audio-rate parameter in dB, and a mute. The output is declared constant whenever it is: muted,
// a gain that holds at 0, or no input moving. A host may then let the module sleep, even while
// the signal on its input moves.
#include <kvx/factory/registered_module.h>
#include <kvx/plugin/audio_pins.h>
#include <kvx/plugin/control_pins.h>
#include <kvx/plugin/mp_base2.h>

#include <bit>
#include <cstdint>

#include "vca_math.h"

namespace vca {

class Vca : public kvx::MpBase2 {
public:
    // The ids hosts address, as VCA.kvx.json describes them; append only, never renumber.
    enum Pin : int32_t {
        INPUT,
        CONTROL,
        LEVEL,
        OUTPUT,
        MUTE,
        FADE
    };

    Vca() {
        registerPin(input, INPUT);  // throws if the order disagrees with the enum
        registerPin(control, CONTROL);
        registerPin(level, LEVEL);
        registerPin(output, OUTPUT);
        registerPin(mute, MUTE);
        registerPin(fade, FADE);
    }

protected:
    // Once per event timestamp: the routine at the first change, the gain of the level and the
    // mute, and whether the output moves from here on. It is constant while it is silent (muted,
    // a level or fade at no gain, a control at 0) however the input moves, and while no audio
    // input moves. Declaring it constant again at every change tells the host where the new
    // value starts. While it is constant the module may sleep whatever streams, so the sleep
    // policy follows the declaration (set first: the declaration's streaming change routes by it).
    void onPinChanges() noexcept override {
        installModuleRoutineIfNew(kvx::subBlockRoutine(&Vca::run));
        if (level.updatedNow()) levelGain = gainFromDecibels(level.currentValue());
        gain = mute.currentValue() ? 0.0 : levelGain;
        const bool silent = gain == 0.0 || (!control.isStreaming() && silences(control.valueAt(-1))) ||
                            (!fadeStreams() && gainFromDecibels(fadeAt(blockPosition())) == 0.0);
        const bool moves = !silent && (input.isStreaming() || control.isStreaming() || fadeStreams());
        setSleepPolicy(moves ? kvx::SleepPolicy::WhenNothingStreams : kvx::SleepPolicy::Always);
        output.declareStreaming(moves, -1);
    }

private:
    // Real-time safe: no allocation, lock or system call. Writes the stretch from the block
    // position on. A constant fade costs one pow per change, not per sample.
    void run(int32_t sampleCount) noexcept {
        const int32_t at = blockPosition();
        const float* in = input.boundBuffer() + at;
        const float* amount = control.boundBuffer() + at;
        float* out = output.boundBuffer() + at;
        const double g = gain;
        if (fade.boundBuffer() == nullptr) {
            amplifyAll(in, amount, out, sampleCount, g);
            return;
        }
        // Stretch by stretch of one fade value, each a loop the compiler vectorises.
        const float* decibels = fade.boundBuffer() + at;
        uint32_t bits = fadeBits;
        double fading = fadeGain;
        for (int32_t i = 0; i < sampleCount;) {
            const uint32_t now = std::bit_cast<uint32_t>(decibels[i]);
            if (now != bits) {
                bits = now;
                fading = gainFromDecibels(decibels[i]);
            }
            // A fade that does not stream holds one value for the whole run.
            int32_t end = fade.isStreaming() ? i + 1 : sampleCount;
            while (end < sampleCount && std::bit_cast<uint32_t>(decibels[end]) == bits) ++end;
            amplifyAll(in + i, amount + i, out + i, end - i, g * fading);
            i = end;
        }
        fadeBits = bits;
        fadeGain = fading;
    }

    // A host that binds no buffer to the fade (a description from before it) leaves it at 0 dB.
    bool fadeStreams() const noexcept { return fade.boundBuffer() != nullptr && fade.isStreaming(); }
    float fadeAt(int32_t position) const noexcept {
        return fade.boundBuffer() != nullptr ? fade.boundBuffer()[position] : 0.0f;
    }

    kvx::AudioInPin input;
    kvx::AudioInPin control;
    kvx::FloatInPin level;  // dB; 0.0 (unity) until the host sends a value
    kvx::AudioOutPin output;
    kvx::BoolInPin mute;   // true: the output is 0
    kvx::AudioInPin fade;  // dB per sample, 0.0 (unity) while the host sends nothing else
    double levelGain = 1.0;
    double gain = 1.0;      // the level's, or 0 while muted
    uint32_t fadeBits = 0;  // the last fade sample seen (bits, 0 dB at first), and its gain
    double fadeGain = 1.0;
};

const kvx::RegisteredModule<Vca> registration{0, u"KV VCA"};

}  // namespace vca
