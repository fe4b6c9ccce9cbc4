// Finds the resource notes of a loaded module by its handle.
#pragma once

#include <cstdint>
#include <span>

namespace udm {

// The description bytes of the module's resource note of `type`, or an empty
// span when the handle names no loaded module or the module has no such note.
// A null handle names the program itself, as on Windows. The module's handle
// is its load address: the base that dladdr reports (dli_fbase), which for
// shared objects is also the load bias that dl_iterate_phdr reports.
std::span<const uint8_t> findResourceNote(const void* module, uint32_t type);

}  // namespace udm
