// Heap statistics and the free watch on Windows.
#include "check/heap_usage.h"

#include <windows.h>

namespace udmhost {

namespace {

// Enough for any process a checker runs in; more heaps are walked up to this many.
constexpr DWORD kMaxHeaps = 256;

DWORD processHeaps(HANDLE (&heaps)[kMaxHeaps]) {
    const DWORD count = GetProcessHeaps(kMaxHeaps, heaps);
    return count < kMaxHeaps ? count : kMaxHeaps;
}

FreeFunction realFree = nullptr;
size_t stray = 0;

void __cdecl countingFree(void* block) {
    if (block != nullptr) {
        HANDLE heaps[kMaxHeaps];
        const DWORD count = processHeaps(heaps);
        bool held = false;
        for (DWORD i = 0; i < count && !held; ++i) held = HeapValidate(heaps[i], 0, block) != FALSE;
        if (!held) {
            ++stray;
            return;  // freeing it again could only corrupt the heap under the check
        }
    }
    realFree(block);
}

}  // namespace

size_t bytesInUse() {
    HANDLE heaps[kMaxHeaps];
    const DWORD count = processHeaps(heaps);
    size_t total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

size_t strayReleases() { return stray; }

FreeFunction watchedFree(FreeFunction real) {
    if (real != countingFree) realFree = real;  // a second binding finds the slot patched already
    return countingFree;
}

}  // namespace udmhost
