// Counts heap allocations of the whole process, the loaded plug-in included.
#pragma once

#include <cstdint>

namespace udmbench {

uint64_t AllocationCount();

}  // namespace udmbench
