// SPDX-License-Identifier: MIT
// The stream probe test module ("KVX STREAM PROBE", StreamProbe.kvx): its output follows its
// input, it never sleeps (its output always streams), and it records every stream begin and end
// it receives at the sample it counts from its first call. A test reads the record through
// customCall(STREAM_PROBE_READ, capacity, StreamProbeRecord*), which returns the count.
#pragma once

#include <cstdint>

namespace kvx::test {

inline constexpr char16_t STREAM_PROBE_ID[] = u"KVX STREAM PROBE";

enum StreamProbePin : int32_t {
    STREAM_PROBE_INPUT = 0,   // audio in
    STREAM_PROBE_OUTPUT = 1,  // audio out: the input, sample for sample
};

inline constexpr intptr_t STREAM_PROBE_READ = 0x5052;

struct StreamProbeRecord {
    int64_t sample;  // counted over every sample the probe was called for
    int32_t type;    // EV_STREAM_BEGIN or EV_STREAM_END
    int32_t pin;
};

}  // namespace kvx::test
