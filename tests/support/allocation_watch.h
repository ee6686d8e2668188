#pragma once

// Counts what one thread allocates (malloc and its kin, and operator new through them), for
// code that must not allocate there. Included by one file of a test program: it replaces the
// C library's allocation functions, or under AddressSanitizer hooks into its allocator.

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

inline std::atomic<pthread_t> watchedThread{};
inline std::atomic<int> watchedAllocations{0};

inline void CountIfWatched(std::atomic<int>& n) {
    if (pthread_equal(pthread_self(), watchedThread.load())) ++n;
}

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
inline const int allocationHooks = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, size_t) { CountIfWatched(watchedAllocations); },
    [](const volatile void*) {});
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
void* malloc(size_t n) {
    return CountIfWatched(watchedAllocations), __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    return CountIfWatched(watchedAllocations), __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    return CountIfWatched(watchedAllocations), __libc_realloc(p, n);
}
void* memalign(size_t alignment, size_t n) {
    return CountIfWatched(watchedAllocations), __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
    return memalign(alignment, n);
}
int posix_memalign(void** p, size_t alignment, size_t n) {
    return (*p = memalign(alignment, n)) ? 0 : ENOMEM;
}
void free(void* p) {
    __libc_free(p);
}
}
#endif
