#include "failing_allocator.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Plain globals, zero before any constructor runs: the allocator is called
// long before main and from the C library's own start-up.
bool g_armed = false;
uint64_t g_failAt = 0;
udmtest::AllocationCounts g_counts;

// Counts one attempt; true when this is the one to refuse.
bool refuseThisOne() {
    if (!g_armed) return false;
    ++g_counts.allocations;
    if (g_counts.allocations != g_failAt) return false;
    g_counts.failed = true;
    return true;
}

void noteAllocated(const void* p) {
    if (g_armed && p != nullptr) ++g_counts.outstanding;
}

void noteReleased(const void* p) {
    if (g_armed && p != nullptr) --g_counts.outstanding;
}

}  // namespace

namespace udmtest {

void armAllocationFailure(uint64_t failAt) {
    g_counts = {};
    g_failAt = failAt;
    g_armed = true;
}

AllocationCounts disarmAllocationFailure() {
    g_armed = false;
    return g_counts;
}

AllocationCounts currentAllocationCounts() { return g_counts; }

}  // namespace udmtest

#if defined(UDM_TEST_SANITIZED)

namespace {

void* countedNew(std::size_t bytes) noexcept {
    if (refuseThisOne()) return nullptr;
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    noteAllocated(p);
    return p;
}

void countedDelete(void* p) noexcept {
    noteReleased(p);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t bytes) {
    void* p = countedNew(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return countedNew(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return countedNew(bytes); }
void operator delete(void* p) noexcept { countedDelete(p); }
void operator delete[](void* p) noexcept { countedDelete(p); }
void operator delete(void* p, std::size_t) noexcept { countedDelete(p); }
void operator delete[](void* p, std::size_t) noexcept { countedDelete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedDelete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedDelete(p); }

#else

// The C library's own entry points, which the replacements forward to.
extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* p, std::size_t bytes);
void __libc_free(void* p);
}

extern "C" {

void* malloc(std::size_t bytes) noexcept {
    if (refuseThisOne()) return nullptr;
    void* p = __libc_malloc(bytes);
    noteAllocated(p);
    return p;
}

void* calloc(std::size_t count, std::size_t bytes) noexcept {
    if (refuseThisOne()) return nullptr;
    void* p = __libc_calloc(count, bytes);
    noteAllocated(p);
    return p;
}

void* realloc(void* old, std::size_t bytes) noexcept {
    if (refuseThisOne()) return nullptr;  // the old block stays as it was
    void* p = __libc_realloc(old, bytes);
    if (old == nullptr) noteAllocated(p);
    else if (bytes == 0 && p == nullptr) noteReleased(old);
    return p;
}

void free(void* p) noexcept {
    noteReleased(p);
    __libc_free(p);
}

}  // extern "C"

#endif
