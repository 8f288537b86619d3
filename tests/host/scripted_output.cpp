// SPDX-License-Identifier: MIT
// The scripted-output test module: the script read from the event list sample by sample.
#include <cstring>

#include "factory/registered_module.h"
#include "interfaces/host_event.h"
#include "plugin/audio_pins.h"
#include "plugin/mp_base2.h"
#include "tests/host/scripted_output.h"
#include "tests/support/mp_test_access.h"

namespace {

using namespace kvx::test;

class ScriptedOutput : public kvx::MpBase2 {
public:
    ScriptedOutput() { registerPin(output, SCRIPTED_OUTPUT_PIN); }

    // The whole block by hand, not through the base's block processing: the script decides
    // what is written, declared and requested, and when.
    void process(int32_t sampleCount, const kvx::HostEvent* events) noexcept override {
        kvx::IMpHostServices* host = kvx::MpTestAccess::hostServices(*this);
        float* out = output.boundBuffer();
        if (host == nullptr || out == nullptr) return;
        if (first) host->sendPinStreaming(0, SCRIPTED_OUTPUT_PIN, 1);
        first = false;
        bool sleepAsked = false;
        int32_t writeUntil = sampleCount;  // exclusive
        int32_t lastDeclared = 0;
        const kvx::HostEvent* event = events;
        for (int32_t i = 0; i < sampleCount; ++i) {
            for (; event != nullptr && event->timestamp <= i; event = event->next) {
                float value = 0.0f;
                std::memcpy(&value, event->inlineValue, sizeof value);
                if (event->pinId == SCRIPT_STREAM) {
                    streaming = true;
                    next = value;
                    host->sendPinStreaming(i, SCRIPTED_OUTPUT_PIN, 1);
                    lastDeclared = i;
                } else if (event->pinId == SCRIPT_HOLD) {
                    streaming = false;
                    held = value;
                    host->sendPinStreaming(i, SCRIPTED_OUTPUT_PIN, 0);
                    lastDeclared = i;
                } else if (event->pinId == SCRIPT_SLEEP && !sleepAsked) {
                    sleepAsked = true;
                    host->requestSleep();
                    writeUntil = i + 1;
                }
            }
            if (sleepAsked && i >= writeUntil && i > lastDeclared) continue;
            out[i] = streaming ? next++ : held;
        }
    }

private:
    kvx::AudioOutPin output;
    bool first = true;
    bool streaming = true;
    float next = SCRIPTED_FIRST_VALUE;
    float held = 0.0f;
};

const kvx::RegisteredModule<ScriptedOutput> registration{0, SCRIPTED_OUTPUT_ID};

}  // namespace
