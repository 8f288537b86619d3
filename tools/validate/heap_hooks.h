// Counting heap and lock calls made while a module processes: the validator's own process
// replaces malloc and its relatives (which every operator new reaches) and the pthread lock
// calls, forwarding each to the C library. Counting is off except between start and stop.
#pragma once

#include <cstdint>

namespace kvx::validate {

struct HeapLockCounts {
    int64_t heapCalls = 0;  // malloc, calloc, realloc, free, memalign and friends, operator new
    int64_t lockCalls = 0;  // pthread mutex, rwlock and spin lock acquisitions
};

// False in sanitizer builds, whose runtimes own malloc: nothing is counted there.
bool hooksAvailable();
void startCounting();
HeapLockCounts stopCounting();

}  // namespace kvx::validate
