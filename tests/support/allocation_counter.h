// Counts the heap allocations and frees this process makes between start and stop, to prove
// that code such as process() allocates nothing. Linking this library replaces the global
// operator new and delete and, outside sanitizer builds (whose runtimes own malloc), malloc,
// calloc, realloc, free and the aligned forms too; module libraries loaded later resolve those
// names to the executable's, so their allocations are counted as well.
#pragma once

#include <cstdint>

namespace kvx::test {

struct HeapCounts {
    int64_t allocations = 0;  // operator new (every form), malloc, calloc, realloc, aligned forms
    int64_t frees = 0;        // operator delete (every form) and free of a non-null pointer
};

// False in sanitizer builds: there only operator new and delete are counted.
bool mallocHooked() noexcept;

void startCountingAllocations() noexcept;
HeapCounts stopCountingAllocations() noexcept;

}  // namespace kvx::test
