// SPDX-License-Identifier: MIT
// A record of one call a module made on the host's services.
#pragma once

#include <cstdint>

namespace kvx::host {

enum class HostCall : int32_t {
    SendPinValue,
    SendPinStreaming,
    RequestSleep,
    GetSleepCountdown,
    QuerySampleRate,
};

struct TraceEntry {
    HostCall call;
    int64_t block;       // index of the host block in which the call was made
    int64_t blockStart;  // absolute position of that block's first sample
    int32_t timestamp;   // position within the block (sendPinValue / sendPinStreaming), else 0
    int32_t pinId;       // addressed pin, else -1
    int32_t value;       // streaming flag, value size, or countdown written
};

}  // namespace kvx::host
