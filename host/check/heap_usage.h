// Bytes the C allocator holds for this process: what a leak leaves behind
// and a double release gives back.
#pragma once

#include <cstddef>
#ifndef _WIN32
#include <malloc.h>
#endif

namespace udmhost {

#ifdef _WIN32
// The busy blocks of every heap of the process, walked (the C runtime
// keeps no statistics of its own).
size_t bytesInUse();

// Frees of a block no heap of the process holds, made by the plug-in
// through its import of the C runtime's free (a double release: glibc ends
// the process for it, Windows heaps may not).
size_t strayReleases();
using FreeFunction = void(__cdecl*)(void*);
// The checker's free, which counts stray releases and passes the rest on
// to `real`; what a plug-in's import of free is pointed at.
FreeFunction watchedFree(FreeFunction real);
#else
inline size_t bytesInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

inline size_t strayReleases() { return 0; }  // glibc ends the process on one
#endif

}  // namespace udmhost
