#include "AllocationCounter.h"

#include <cerrno>
#include <cstdlib>
#include <new>

// Without a sanitizer (which brings its own allocator), malloc and its kin are
// counted too: Qt's strings and containers take their memory there, not
// through operator new.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define COUNT_MALLOC 0
#else
#define COUNT_MALLOC 1
#endif

namespace {
thread_local std::uint64_t allocations = 0;

void* allocate(std::size_t size)
{
    allocations += 1 - COUNT_MALLOC;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t align)
{
    allocations += 1 - COUNT_MALLOC;
    const std::size_t a = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + a - 1) / a * a;
    if (void* p = std::aligned_alloc(a, rounded ? rounded : a))
        return p;
    throw std::bad_alloc();
}
} // namespace

#if COUNT_MALLOC
// glibc's own entry points, under the names it exports for replacements.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) { return ++allocations, __libc_malloc(size); }
void* calloc(std::size_t count, std::size_t size) { return ++allocations, __libc_calloc(count, size); }
void* realloc(void* p, std::size_t size) { return ++allocations, __libc_realloc(p, size); }
void* memalign(std::size_t align, std::size_t size) { return ++allocations, __libc_memalign(align, size); }
void* aligned_alloc(std::size_t align, std::size_t size) { return memalign(align, size); }
int posix_memalign(void** out, std::size_t align, std::size_t size)
{
    *out = memalign(align, size);
    return *out ? 0 : ENOMEM;
}
}
#endif

std::uint64_t testsupport::threadAllocations() { return allocations; }

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
