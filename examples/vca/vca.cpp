// SPDX-License-Identifier: MIT
// KV VCA: output = input x control x level, the level a float control in dB. The output streams
// while either audio input streams and is declared constant otherwise, so a host may let the
// module sleep while nothing moves.
#include <kvx/factory/registered_module.h>
#include <kvx/plugin/audio_pins.h>
#include <kvx/plugin/control_pins.h>
#include <kvx/plugin/mp_base2.h>

#include "vca_math.h"

namespace vca {

class Vca : public kvx::MpBase2 {
public:
    // The ids hosts address, as VCA.kvx.json describes them; append only, never renumber.
    enum Pin : int32_t {
        INPUT,
        CONTROL,
        LEVEL,
        OUTPUT
    };

    Vca() {
        registerPin(input, INPUT);  // throws if the order disagrees with the enum
        registerPin(control, CONTROL);
        registerPin(level, LEVEL);
        registerPin(output, OUTPUT);
    }

protected:
    // Once per event timestamp: the routine at the first change, the level's gain when it
    // changed, and the output streaming exactly while an input does. Declaring it constant again
    // at a level change tells the host the new constant value starts here.
    void onPinChanges() noexcept override {
        installModuleRoutineIfNew(kvx::subBlockRoutine(&Vca::run));
        if (level.updatedNow()) gain = gainFromDecibels(level.currentValue());
        output.declareStreaming(input.isStreaming() || control.isStreaming(), -1);
    }

private:
    // Real-time safe: no allocation, lock or system call. Writes the stretch from the block
    // position on.
    void run(int32_t sampleCount) noexcept {
        const int32_t at = blockPosition();
        const float* in = input.boundBuffer() + at;
        const float* amount = control.boundBuffer() + at;
        float* out = output.boundBuffer() + at;
        const double g = gain;
        for (int32_t i = 0; i < sampleCount; ++i) out[i] = amplify(in[i], amount[i], g);
    }

    kvx::AudioInPin input;
    kvx::AudioInPin control;
    kvx::FloatInPin level;  // dB; 0.0 (unity) until the host sends a value
    kvx::AudioOutPin output;
    double gain = 1.0;
};

const kvx::RegisteredModule<Vca> registration{0, u"KV VCA"};

}  // namespace vca
