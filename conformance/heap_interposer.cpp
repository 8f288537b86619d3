// SPDX-License-Identifier: MIT
// The replacements behind heap_interposer.h. Each counts while counting is on and forwards to
// the C library (or, in sanitizer builds, to the sanitizer's malloc).
#include "conformance/heap_interposer.h"

#include <malloc.h>

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

#ifndef KVX_NO_MALLOC_HOOKS
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace kvx::conformance {
namespace {

// Relaxed atomics: a count taken on one thread must not be torn by another thread's calls.
std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};
std::atomic<int64_t> requestedBytes{0};
std::atomic<int64_t> usableBytes{0};
std::atomic<int64_t> frees{0};
std::atomic<int64_t> lockCalls{0};
std::atomic<int64_t> failCountdown{0};  // > 0: operator new calls until the one that fails
std::atomic<bool> failed{false};

}  // namespace

namespace interposer {

void countAllocation(const void* pointer, size_t size) noexcept {
    if (pointer == nullptr || !counting.load(std::memory_order_relaxed)) return;
    allocations.fetch_add(1, std::memory_order_relaxed);
    requestedBytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
    usableBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(const_cast<void*>(pointer))),
                          std::memory_order_relaxed);
}

void countFree(const void* pointer) noexcept {
    if (pointer != nullptr && counting.load(std::memory_order_relaxed))
        frees.fetch_add(1, std::memory_order_relaxed);
}

void countLock() noexcept {
    if (counting.load(std::memory_order_relaxed)) lockCalls.fetch_add(1, std::memory_order_relaxed);
}

// True when this operator new is the one armed to fail.
bool failNow() noexcept {
    if (failCountdown.load(std::memory_order_relaxed) <= 0) return false;
    if (failCountdown.fetch_sub(1, std::memory_order_relaxed) != 1) return false;
    failed = true;
    return true;
}

}  // namespace interposer

#ifdef KVX_NO_MALLOC_HOOKS
bool mallocHooked() noexcept { return false; }
#else
bool mallocHooked() noexcept { return true; }
#endif

void startCounting() noexcept {
    allocations = 0;
    requestedBytes = 0;
    usableBytes = 0;
    frees = 0;
    lockCalls = 0;
    counting = true;
}

HeapCounts stopCounting() noexcept {
    counting = false;
    return HeapCounts{allocations.load(), requestedBytes.load(), usableBytes.load(), frees.load(),
                      lockCalls.load()};
}

void failAllocation(int64_t n) noexcept {
    if (n > 0) failed = false;
    failCountdown = n;
}

bool allocationFailed() noexcept { return failed.load(); }

}  // namespace kvx::conformance

using namespace kvx::conformance::interposer;

// The project builds with hidden visibility; the replacements must reach the dynamic symbol
// table, or the C library and later-loaded modules keep calling their own.
#define KVX_EXPORTED __attribute__((visibility("default")))

#ifndef KVX_NO_MALLOC_HOOKS
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
void* __libc_valloc(size_t);
void* __libc_pvalloc(size_t);

KVX_EXPORTED void* malloc(size_t size) {
    void* pointer = __libc_malloc(size);
    countAllocation(pointer, size);
    return pointer;
}
KVX_EXPORTED void* calloc(size_t count, size_t size) {
    void* pointer = __libc_calloc(count, size);
    countAllocation(pointer, count * size);
    return pointer;
}
KVX_EXPORTED void* realloc(void* old, size_t size) {
    void* pointer = __libc_realloc(old, size);
    countAllocation(pointer, size);
    return pointer;
}
KVX_EXPORTED void free(void* pointer) {
    countFree(pointer);
    __libc_free(pointer);
}
KVX_EXPORTED void* memalign(size_t alignment, size_t size) {
    void* pointer = __libc_memalign(alignment, size);
    countAllocation(pointer, size);
    return pointer;
}
KVX_EXPORTED void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
KVX_EXPORTED void* valloc(size_t size) {
    void* pointer = __libc_valloc(size);
    countAllocation(pointer, size);
    return pointer;
}
KVX_EXPORTED void* pvalloc(size_t size) {
    void* pointer = __libc_pvalloc(size);
    countAllocation(pointer, size);
    return pointer;
}
KVX_EXPORTED int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* pointer = memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}
}

// The lock entry points, forwarded to the C library's own definitions.
namespace {
template <typename Fn>
Fn nextSymbol(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
using MutexFn = int (*)(pthread_mutex_t*);
using RwFn = int (*)(pthread_rwlock_t*);
using SpinFn = int (*)(pthread_spinlock_t*);
MutexFn realMutexLock = nullptr;
MutexFn realMutexTrylock = nullptr;
RwFn realRdlock = nullptr;
RwFn realWrlock = nullptr;
SpinFn realSpinLock = nullptr;

void resolveLocks() {
    if (realMutexLock != nullptr) return;
    realMutexTrylock = nextSymbol<MutexFn>("pthread_mutex_trylock");
    realRdlock = nextSymbol<RwFn>("pthread_rwlock_rdlock");
    realWrlock = nextSymbol<RwFn>("pthread_rwlock_wrlock");
    realSpinLock = nextSymbol<SpinFn>("pthread_spin_lock");
    realMutexLock = nextSymbol<MutexFn>("pthread_mutex_lock");
}
__attribute__((constructor)) void resolveAtStart() { resolveLocks(); }
}  // namespace

extern "C" {
KVX_EXPORTED int pthread_mutex_lock(pthread_mutex_t* mutex) {
    resolveLocks();
    countLock();
    return realMutexLock(mutex);
}
KVX_EXPORTED int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    resolveLocks();
    countLock();
    return realMutexTrylock(mutex);
}
KVX_EXPORTED int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    resolveLocks();
    countLock();
    return realRdlock(lock);
}
KVX_EXPORTED int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    resolveLocks();
    countLock();
    return realWrlock(lock);
}
KVX_EXPORTED int pthread_spin_lock(pthread_spinlock_t* lock) {
    resolveLocks();
    countLock();
    return realSpinLock(lock);
}
}
#endif

namespace {

// Uncounted raw memory for operator new, which counts once itself.
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

void* allocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
    if (failNow()) return nullptr;
    void* pointer = rawAllocate(size, alignment);
    countAllocation(pointer, size);
    return pointer;
}

void* allocate(std::size_t size, std::size_t alignment) {
    void* pointer = allocateNoThrow(size, alignment);
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}

void deallocate(void* pointer) noexcept {
    countFree(pointer);
    rawFree(pointer);
}

constexpr std::size_t PLAIN = alignof(std::max_align_t);

}  // namespace

KVX_EXPORTED void* operator new(std::size_t size) { return allocate(size, PLAIN); }
KVX_EXPORTED void* operator new[](std::size_t size) { return allocate(size, PLAIN); }
KVX_EXPORTED void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, PLAIN);
}
KVX_EXPORTED void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, PLAIN);
}
KVX_EXPORTED void* operator new(std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
KVX_EXPORTED void* operator new[](std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
KVX_EXPORTED void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, static_cast<std::size_t>(a));
}
KVX_EXPORTED void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size, static_cast<std::size_t>(a));
}
KVX_EXPORTED void operator delete(void* p) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete[](void* p) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete(void* p, std::size_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete[](void* p, std::size_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete(void* p, const std::nothrow_t&) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete[](void* p, const std::nothrow_t&) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete(void* p, std::align_val_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete[](void* p, std::align_val_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete(void* p, std::size_t, std::align_val_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { deallocate(p); }
KVX_EXPORTED void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    deallocate(p);
}
KVX_EXPORTED void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    deallocate(p);
}
