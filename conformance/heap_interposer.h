// SPDX-License-Identifier: MIT
// Counts the heap and lock calls a process makes between startCounting and stopCounting, to
// prove that code such as process() allocates nothing and takes no lock, and measures what an
// allocation costs. A program gets the replacements by linking kvx::conformance_interposer (an object
// library: its replacements go into the program itself, whose dynamic symbol table exports them,
// so module libraries loaded later call them too). It replaces every form of operator new and
// delete and, outside sanitizer builds (whose runtimes own malloc and the locks), malloc,
// calloc, realloc, free, the aligned forms and the pthread lock calls. Tests that link it carry
// the label replaces-operator-new: valgrind replaces the same functions.
#pragma once

#include <cstdint>

namespace kvx::conformance {

struct HeapCounts {
    int64_t allocations = 0;     // operator new (every form); malloc & co where hooked
    int64_t requestedBytes = 0;  // as asked for
    int64_t usableBytes = 0;     // as handed out, with the allocator's rounding
    int64_t frees = 0;           // operator delete (every form); free where hooked; non-null only
    int64_t lockCalls = 0;       // pthread mutex, rwlock and spin lock acquisitions, where hooked
};

// False in sanitizer builds: there only operator new and delete are counted, and no lock.
bool mallocHooked() noexcept;

void startCounting() noexcept;
HeapCounts stopCounting() noexcept;

// Makes the `n`th operator new from now fail (1: the next one), as when memory runs out: the
// throwing forms throw std::bad_alloc, the nothrow forms return null. 0 disarms. A failed
// allocation is not counted.
void failAllocation(int64_t n) noexcept;
// True once the failure armed last has happened (disarming keeps the answer).
bool allocationFailed() noexcept;

}  // namespace kvx::conformance
