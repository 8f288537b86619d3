// Replaces the global operator new/delete with malloc-backed versions that count while asked to.
#include "bench/allocation_counter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

bool counting = false;
kvx::bench::AllocationCount counted;

void* countedAllocation(std::size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    if (counting) {
        ++counted.allocations;
        counted.requestedBytes += static_cast<int64_t>(size);
        counted.usableBytes += static_cast<int64_t>(malloc_usable_size(memory));
    }
    return memory;
}

}  // namespace

namespace kvx::bench {

void startCountingAllocations() {
    counted = AllocationCount{};
    counting = true;
}

AllocationCount stopCountingAllocations() {
    counting = false;
    return counted;
}

}  // namespace kvx::bench

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
