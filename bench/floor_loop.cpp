// SPDX-License-Identifier: MIT
// The floor loop. Same operation order and precision as the module's sample loop; the end
// test leaves the loop (a real branch), as it must for the loop to run at its latency bound.
#include "bench/floor_loop.h"

namespace kvx::bench {

int32_t runFloor(FloorSegment& segment, float* out, int32_t count) noexcept {
    double current = segment.level;
    const double towards = segment.asymptote;
    const double rate = segment.coefficient;
    const double floorLevel = segment.threshold;
    int32_t j = 0;
    for (; j < count; ++j) {
        current = current + (towards - current) * rate;
        if (current < floorLevel || current > 1.0) [[unlikely]]
            break;
        out[j] = static_cast<float>(current);
    }
    segment.level = current;
    return j;
}

}  // namespace kvx::bench
