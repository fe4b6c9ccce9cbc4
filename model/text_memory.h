// Copies of definition texts live on the C heap. malloc reports a failure
// with a null pointer in every runtime; a nothrow new need not: the MinGW
// runtime's throws and catches inside, and raising that exception needs
// memory itself, which is what has run out.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace vcswitch {

inline char* allocateText(std::size_t bytes) noexcept { return static_cast<char*>(std::malloc(bytes)); }
inline void releaseText(char* text) noexcept { std::free(text); }

struct TextReleaser {
    void operator()(char* text) const noexcept { releaseText(text); }
};

}  // namespace vcswitch
