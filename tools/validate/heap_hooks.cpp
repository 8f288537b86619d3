// Replacements of the C library's allocation and lock entry points in the validator's own
// process. Modules loaded later resolve these names to the executable first, so their calls
// are counted; the real work is forwarded to the C library.
#include "tools/validate/heap_hooks.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KVX_VALIDATE_NO_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KVX_VALIDATE_NO_HOOKS 1
#endif
#endif

#ifndef KVX_VALIDATE_NO_HOOKS
#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>
#endif

namespace kvx::validate {

namespace {
// Plain flags: the validator drives a module from one thread.
bool counting = false;
HeapLockCounts counts;
}  // namespace

#ifdef KVX_VALIDATE_NO_HOOKS
bool hooksAvailable() { return false; }
#else
bool hooksAvailable() { return true; }
#endif

void startCounting() {
    counts = HeapLockCounts{};
    counting = true;
}

HeapLockCounts stopCounting() {
    counting = false;
    return counts;
}

namespace hooks {
inline void heapCall() {
    if (counting) ++counts.heapCalls;
}
inline void lockCall() {
    if (counting) ++counts.lockCalls;
}
}  // namespace hooks

}  // namespace kvx::validate

#ifndef KVX_VALIDATE_NO_HOOKS

// The validator is built with hidden visibility; these must reach the dynamic symbol table.
#define KVX_HOOK __attribute__((visibility("default")))

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
void* __libc_valloc(size_t);
void* __libc_pvalloc(size_t);

KVX_HOOK void* malloc(size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_malloc(size);
}
KVX_HOOK void* calloc(size_t count, size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_calloc(count, size);
}
KVX_HOOK void* realloc(void* pointer, size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_realloc(pointer, size);
}
KVX_HOOK void free(void* pointer) {
    if (pointer != nullptr) kvx::validate::hooks::heapCall();
    __libc_free(pointer);
}
KVX_HOOK void* memalign(size_t alignment, size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_memalign(alignment, size);
}
KVX_HOOK void* aligned_alloc(size_t alignment, size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_memalign(alignment, size);
}
KVX_HOOK void* valloc(size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_valloc(size);
}
KVX_HOOK void* pvalloc(size_t size) {
    kvx::validate::hooks::heapCall();
    return __libc_pvalloc(size);
}
KVX_HOOK int posix_memalign(void** out, size_t alignment, size_t size) {
    kvx::validate::hooks::heapCall();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}
}

// The lock entry points, resolved to the C library's own definitions.
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
KVX_HOOK int pthread_mutex_lock(pthread_mutex_t* mutex) {
    resolveLocks();
    kvx::validate::hooks::lockCall();
    return realMutexLock(mutex);
}
KVX_HOOK int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    resolveLocks();
    kvx::validate::hooks::lockCall();
    return realMutexTrylock(mutex);
}
KVX_HOOK int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    resolveLocks();
    kvx::validate::hooks::lockCall();
    return realRdlock(lock);
}
KVX_HOOK int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    resolveLocks();
    kvx::validate::hooks::lockCall();
    return realWrlock(lock);
}
KVX_HOOK int pthread_spin_lock(pthread_spinlock_t* lock) {
    resolveLocks();
    kvx::validate::hooks::lockCall();
    return realSpinLock(lock);
}
}

// Every form of operator new reaches malloc above; these make the count independent of how
// the C++ runtime implements them.
KVX_HOOK void* operator new(size_t size) {
    kvx::validate::hooks::heapCall();
    if (void* pointer = __libc_malloc(size != 0 ? size : 1)) return pointer;
    throw std::bad_alloc();
}
KVX_HOOK void* operator new[](size_t size) {
    kvx::validate::hooks::heapCall();
    if (void* pointer = __libc_malloc(size != 0 ? size : 1)) return pointer;
    throw std::bad_alloc();
}
KVX_HOOK void* operator new(size_t size, const std::nothrow_t&) noexcept {
    kvx::validate::hooks::heapCall();
    return __libc_malloc(size != 0 ? size : 1);
}
KVX_HOOK void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    kvx::validate::hooks::heapCall();
    return __libc_malloc(size != 0 ? size : 1);
}
KVX_HOOK void operator delete(void* pointer) noexcept { free(pointer); }
KVX_HOOK void operator delete[](void* pointer) noexcept { free(pointer); }
KVX_HOOK void operator delete(void* pointer, size_t) noexcept { free(pointer); }
KVX_HOOK void operator delete[](void* pointer, size_t) noexcept { free(pointer); }

#endif
