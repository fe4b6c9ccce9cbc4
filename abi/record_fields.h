// Field access at byte offsets of memory a host owns. Every access is a
// memcpy, so no alignment or aliasing assumption is made about that memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "udm_interface.h"

namespace udm {

static_assert(std::endian::native == std::endian::little,
              "the host records are little-endian byte layouts");

template <class T>
inline T loadAt(const void* base, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
    return value;
}

template <class T>
inline void storeAt(void* base, std::size_t offset, T value) {
    std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

// Handles travel in 32-bit fields; a host stores (uint32_t)(uintptr_t)h.
inline HGLOBAL handleFromField(uint32_t field) {
    return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(field));
}
inline uint32_t fieldFromHandle(HGLOBAL handle) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace udm
