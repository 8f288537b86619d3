// Counts heap allocations made by this process while counting is switched on (the global
// operator new and delete are replaced in allocation_counter.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvx::bench {

struct AllocationCount {
    int64_t allocations = 0;
    int64_t requestedBytes = 0;  // as asked for
    int64_t usableBytes = 0;     // as handed out by malloc (its rounding included)
};

void startCountingAllocations();
AllocationCount stopCountingAllocations();

}  // namespace kvx::bench
