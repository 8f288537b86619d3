// The replacements behind allocation_counter.h. Each counts (only while counting is on) and
// forwards to the C library's allocator, or to the sanitizer's malloc where one owns it.
#include "tests/support/allocation_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVX_NO_MALLOC_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KVX_NO_MALLOC_HOOKS 1
#endif
#endif

namespace kvx::test {
namespace {

std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};
std::atomic<int64_t> frees{0};

inline void countAllocation() noexcept {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
inline void countFree(const void* pointer) noexcept {
    if (pointer != nullptr && counting.load(std::memory_order_relaxed))
        frees.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#ifdef KVX_NO_MALLOC_HOOKS
bool mallocHooked() noexcept { return false; }
#else
bool mallocHooked() noexcept { return true; }
#endif

void startCountingAllocations() noexcept {
    allocations = 0;
    frees = 0;
    counting = true;
}

HeapCounts stopCountingAllocations() noexcept {
    counting = false;
    return HeapCounts{allocations.load(), frees.load()};
}

}  // namespace kvx::test

using kvx::test::countAllocation;
using kvx::test::countFree;

#ifndef KVX_NO_MALLOC_HOOKS
// Default visibility: the project builds with hidden visibility, and a hidden malloc would
// replace the C library's for this executable's own calls only.
#define KVX_EXPORTED __attribute__((visibility("default")))
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);

KVX_EXPORTED void* malloc(size_t size) {
    countAllocation();
    return __libc_malloc(size);
}
KVX_EXPORTED void* calloc(size_t count, size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}
KVX_EXPORTED void* realloc(void* pointer, size_t size) {
    countAllocation();
    return __libc_realloc(pointer, size);
}
KVX_EXPORTED void free(void* pointer) {
    countFree(pointer);
    __libc_free(pointer);
}
KVX_EXPORTED void* memalign(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
KVX_EXPORTED void* aligned_alloc(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
KVX_EXPORTED int posix_memalign(void** out, size_t alignment, size_t size) {
    countAllocation();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}
}
#endif

namespace {

// Uncounted raw allocation: operator new counts once itself.
void* rawAllocate(std::size_t size, std::size_t alignment) noexcept {
    if (size == 0) size = 1;
#ifdef KVX_NO_MALLOC_HOOKS
    if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#else
    if (alignment <= alignof(std::max_align_t)) return __libc_malloc(size);
    return __libc_memalign(alignment, size);
#endif
}

void rawFree(void* pointer) noexcept {
#ifdef KVX_NO_MALLOC_HOOKS
    std::free(pointer);
#else
    __libc_free(pointer);
#endif
}

void* allocate(std::size_t size, std::size_t alignment) {
    countAllocation();
    void* pointer = rawAllocate(size, alignment);
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}

void* allocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
    countAllocation();
    return rawAllocate(size, alignment);
}

void deallocate(void* pointer) noexcept {
    countFree(pointer);
    rawFree(pointer);
}

constexpr std::size_t PLAIN = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) { return allocate(size, PLAIN); }
void* operator new[](std::size_t size) { return allocate(size, PLAIN); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size, PLAIN); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, PLAIN);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { deallocate(p); }
void operator delete[](void* p) noexcept { deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { deallocate(p); }
void operator delete(void* p, std::align_val_t) noexcept { deallocate(p); }
void operator delete[](void* p, std::align_val_t) noexcept { deallocate(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { deallocate(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { deallocate(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { deallocate(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { deallocate(p); }
