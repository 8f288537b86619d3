// SPDX-License-Identifier: MIT
// A test module ("KVX TEST SUM", Sum.kvx): output = a + b in float, streaming while either input
// streams and declared constant otherwise, as the VCA does: with the VCA it closes a feedback
// loop whose samples a test can compute on its own.
#include "factory/registered_module.h"
#include "plugin/audio_pins.h"
#include "plugin/mp_base2.h"

namespace {

class Sum : public kvx::MpBase2 {
public:
    enum Pin : int32_t {
        A,
        B,
        OUTPUT
    };

    Sum() {
        registerPin(a, A);
        registerPin(b, B);
        registerPin(output, OUTPUT);
    }

protected:
    void onPinChanges() noexcept override {
        installModuleRoutineIfNew(kvx::subBlockRoutine(&Sum::run));
        output.declareStreaming(a.isStreaming() || b.isStreaming(), -1);
    }

private:
    void run(int32_t sampleCount) noexcept {
        const int32_t at = blockPosition();
        for (int32_t i = at; i < at + sampleCount; ++i)
            output.boundBuffer()[i] = a.boundBuffer()[i] + b.boundBuffer()[i];
    }

    kvx::AudioInPin a;
    kvx::AudioInPin b;
    kvx::AudioOutPin output;
};

const kvx::RegisteredModule<Sum> registration{0, u"KVX TEST SUM"};

}  // namespace
