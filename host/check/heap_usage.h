// Bytes the C allocator holds for this process: what a leak leaves behind
// and a double release gives back.
#pragma once

#include <cstddef>
#ifndef _WIN32
#include <malloc.h>
#endif

namespace udmhost {

inline size_t bytesInUse() {
#ifdef _WIN32
    return 0;  // the C runtime keeps no statistics: the checks that need them are skipped
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace udmhost
