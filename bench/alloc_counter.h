#pragma once
// Counts every heap allocation of the process, forwarding to the C library: a benchmark
// states allocations per frame beside its speed. Include it in one source of a program.

#include <atomic>
#include <cstddef>
#include <cstdlib>  // the declarations these definitions must follow

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

inline std::atomic<long> gAllocations{0};

extern "C" void *malloc(size_t n)
{
    ++gAllocations;
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size)
{
    ++gAllocations;
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n)
{
    ++gAllocations;
    return __libc_realloc(p, n);
}
