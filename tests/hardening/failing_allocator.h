// A switch that makes one chosen heap allocation of the test process fail,
// and counts allocations and releases while it is armed.
//
// Builds without sanitizers replace malloc, calloc, realloc and free and
// forward to the C library; sanitizer builds cannot (the sanitizer owns
// malloc), so there the operator new family is replaced instead, which is
// all the plug-in allocates through. Either way the same allocations count.
#pragma once

#include <cstdint>

namespace udmtest {

struct AllocationCounts {
    uint64_t allocations = 0;  // attempts since arming, the failed one included
    int64_t outstanding = 0;   // successful allocations minus releases since arming
    bool failed = false;       // whether the chosen allocation came and failed
};

// From now on count; the failAt-th allocation (1-based) fails, none if 0.
void armAllocationFailure(uint64_t failAt);
// Stops counting and failing; returns what was seen since arming.
AllocationCounts disarmAllocationFailure();
// What has been seen so far, while armed.
AllocationCounts currentAllocationCounts();

}  // namespace udmtest
