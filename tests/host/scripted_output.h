// SPDX-License-Identifier: MIT
// The scripted-output test module ("KVX SCRIPTED OUTPUT", ScriptedOutput.kvx): one audio output
// (pin 0) whose every move a test scripts with value events on pins that are not the module's,
// so that a host's fills can be checked sample by sample:
// - SCRIPT_STREAM (float v): from the event's sample the output streams v, v + 1, v + 2 ...
//   (counted over the samples the module is called for);
// - SCRIPT_HOLD (float v): from the event's sample the output is v, declared constant there;
// - SCRIPT_SLEEP: the module asks to sleep in this call and writes nothing after the later of
//   this event and its last declaration in the call (the host must fill in the held value).
// It starts streaming from 1000, declared at sample 0 of its first call.
#pragma once

#include <cstdint>

namespace kvx::test {

inline constexpr char16_t SCRIPTED_OUTPUT_ID[] = u"KVX SCRIPTED OUTPUT";
inline constexpr int32_t SCRIPTED_OUTPUT_PIN = 0;
inline constexpr float SCRIPTED_FIRST_VALUE = 1000.0f;

enum ScriptPin : int32_t {
    SCRIPT_STREAM = 100,
    SCRIPT_HOLD = 101,
    SCRIPT_SLEEP = 102,
};

}  // namespace kvx::test
