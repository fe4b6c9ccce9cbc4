// The C allocator's entry points, replaced so that every allocation in the
// process is counted before glibc serves it; operator new reaches them too.
#include "allocation_counter.h"

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<uint64_t> g_allocations{0};
}

namespace udmbench {
uint64_t AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace udmbench

extern "C" {

#define UDM_REPLACED __attribute__((visibility("default")))

UDM_REPLACED void* malloc(size_t bytes) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(bytes);
}

UDM_REPLACED void* calloc(size_t count, size_t bytes) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, bytes);
}

UDM_REPLACED void* realloc(void* block, size_t bytes) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, bytes);
}

UDM_REPLACED void free(void* block) { __libc_free(block); }

}  // extern "C"
